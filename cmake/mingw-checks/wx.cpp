// wxMSW from the cache: the base library runs here (strings, regular expressions, files);
// the window, HTML and network classes the program uses must link, and are only made with
// a screen ("--gui").
#include <cstdio>
#include <cstring>
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/html/htmlwin.h>
#include <wx/init.h>
#include <wx/regex.h>
#include <wx/socket.h>
#include <wx/string.h>
#include <wx/utils.h>

class CheckApp : public wxApp {
public:
    bool OnInit() override {
        auto* frame = new wxFrame(nullptr, wxID_ANY, "Quorvane check");
        auto* html = new wxHtmlWindow(frame);
        html->SetPage("<p>wxMSW</p>");
        wxIPV4address address;
        address.Hostname("127.0.0.1");
        frame->Show();
        frame->Destroy();
        return true;
    }
};
wxIMPLEMENT_APP_NO_MAIN(CheckApp);

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--gui") == 0)
        return wxEntry(argc, argv);
    wxInitializer init;
    if (!init.IsOk())
        return 1;
    wxRegEx number("^(EP|WO)([0-9]+)$");
    if (!number.IsValid() || !number.Matches("EP1000000"))
        return 2;
    if (number.GetMatch("EP1000000", 2) != "1000000")
        return 3;
    wxString text = wxString::Format("%s %d", wxString::FromUTF8("\xc3\xa9t\xc3\xa9"), 22);
    if (text.length() != 6)
        return 4;
    std::printf("%s: regex and strings work on %s\n",
                (const char*)wxString(wxVERSION_STRING).utf8_str(),
                (const char*)wxGetOsDescription().utf8_str());
    return 0;
}

#include "helpPage.h"

#include "settings.h"
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statline.h>

namespace {

struct Section {
    const char* anchor;
    const char* title;
    const char* body;
};

// One section per kind of input, in the order of the table of contents.
const Section kSections[] = {
    {"general", "General Usage",
     "Type or paste a number into the text box and press the download button (or Enter). "
     "Commas and blanks are ignored. Each number becomes one row of the list and one PDF file "
     "in the download folder.<br><b>U.S. patents and publications need no key:</b> every "
     "U.S. form below but serial numbers comes from the USPTO's Patent Public Search, free "
     "and without registration, page images unchanged.<br><b>Other countries' numbers need a "
     "free key</b> of the EPO's Open Patent Services (File &gt; Setup &gt; EPO OPS). With a "
     "key, a U.S. number the USPTO does not have, or cannot serve three times in a row, is "
     "fetched from the EPO instead, a U.S. number typed with a kind code "
     "(<b>US7000000B1</b>) goes to the EPO at once, and \"US documents from\" on that page "
     "sends every U.S. number there. EPO PDFs have bookmarks for the document's sections."},
    {"lists", "Lists of Numbers",
     "Paste or drop several numbers at once, separated by line breaks, tabs or semicolons: "
     "each one becomes its own row. File &gt; Download List... adds every number of a text "
     "file (one per line) or of the first column of a CSV file; blank lines and lines starting "
     "with # are skipped. From a terminal, <b>quorvane-get</b> downloads a list without the "
     "window (see <i>man quorvane-get</i>)."},
    {"publication", "U.S. Publication",
     "Publication numbers of published applications must be 11 characters long.<br>"
     "Example: <b>20020000001</b>"},
    {"utility", "U.S. Utility Patent by patent number",
     "Type the patent number with or without commas.<br>Examples: <b>5123456</b>, "
     "<b>5,123,456</b>"},
    {"serial", "U.S. Utility Patent by serial number",
     "Serial numbers must be for applications filed on or after March 15 2001 and must "
     "include the '/' between series and serial.<br>Examples: <b>9/836917</b>, "
     "<b>09/836917</b>, <b>09/836,917</b>"},
    {"xpatent", "U.S. X Patent (pre-1836)", "Example: <b>X0000001</b>"},
    {"design", "U.S. Design Patent", "Example: <b>D0365123</b>"},
    {"plant", "U.S. Plant Patent", "Example: <b>PP012835</b>"},
    {"reissue", "U.S. Reissue Patent", "Example: <b>RE035136</b>"},
    {"defensive", "U.S. Defensive Publication", "Example: <b>T0106201</b>"},
    {"statutory", "U.S. Statutory Registration", "Example: <b>H0001520</b>"},
    {"improvement", "U.S. Additional Improvement", "Example: <b>AI000318</b>"},
    {"pct", "PCT Patent by patent application number",
     "Use two-letter country codes in front of the number. With an EPO key, a kind code after "
     "the number chooses that publication (otherwise the granted one before the "
     "application).<br>Examples: <b>EP15</b>, <b>EP1000000B1</b>, <b>WO2010050748</b>"},
};

const char* const kBack = "<p><a href=\"#Table_of_Contents\">Back to Table of Contents</a></p>";

} // namespace

wxString BuildHelpPage() {
    wxString page = "<html><body>";
    page += "<center><h1>Quorvane</h1><i>Version " + VersionString();
    page += wxString::Format("</i>&nbsp;&nbsp;(%s)<br>", __DATE__);
    page += "</center>";

    page += "<center><a name=\"Table_of_Contents\"></a><b>Table of Contents</b></center><ul>";
    page += "<li><a href=\"#usage\">Usage</a><ul>";
    for (const Section& s : kSections)
        page += wxString::Format("<li><a href=\"#%s\">%s</a></li>", s.anchor, s.title);
    page += "</ul></li>";
    page += "<li><a href=\"#terms\">Terms and Conditions</a></li>";
    page += "<li><a href=\"#credits\">Credits</a></li></ul>";

    page += "<a name=\"usage\"></a><h2>Usage</h2>";
    for (const Section& s : kSections) {
        page +=
            wxString::Format("<a name=\"%s\"></a><h3>%s</h3><p>%s</p>", s.anchor, s.title, s.body);
        page += kBack;
    }

    page += "<a name=\"terms\"></a><h2>Terms and Conditions</h2>"
            "<p>Quorvane is provided as is, without any warranty. You use it at your own risk "
            "and are responsible for how you use the documents and services it reaches. The "
            "patent offices limit automated use of their public servers: download only what "
            "you need, and respect the terms of use of every service.</p>";
    page += kBack;

    page += "<a name=\"credits\"></a><h2>Credits</h2>"
            "<p>Quorvane is built with the <a href=\"https://www.wxwidgets.org/\">wxWidgets</a> "
            "library and the regular-expression library that comes with it, and with libcurl "
            "for its network traffic.</p>";
    page += kBack;
    page += "</body></html>";
    return page;
}

wxDialog* CreateHelpDialog(wxWindow* parent) {
    wxDialog* dialog = new wxDialog(parent, wxID_ANY, "Quorvane Help", wxDefaultPosition,
                                    wxSize(800, 500), wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    HtmlWindow* html = new HtmlWindow(dialog, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                      wxHW_DEFAULT_STYLE, "htmlWindow");
    html->SetPage(BuildHelpPage());
    sizer->Add(html, 1, wxALL | wxEXPAND, 10);
    sizer->Add(
        new wxStaticLine(dialog, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL), 0,
        wxLEFT | wxRIGHT | wxEXPAND, 10);
    wxButton* ok = new wxButton(dialog, wxID_OK, "OK");
    ok->SetDefault();
    sizer->Add(ok, 0, wxALL | wxALIGN_RIGHT, 15);
    dialog->SetSizer(sizer);
    return dialog;
}

// quorvane-ops-fetch: downloads one document from the EPO's service (or from the fake one
// that the tests and the sample service run) with the EPO job, printing every status.
//
//   QUORVANE_OPS_KEY=... QUORVANE_OPS_SECRET=... quorvane-ops-fetch NUMBER [FOLDER]
//
// The key and secret come from the environment only, never from the command line, where
// every user of the machine could read them. https_proxy and CURL_CA_BUNDLE apply as in
// the program (the fake service prints both). Exit status 0 when the PDF is there.
#include "netInit.h"
#include "ops.h"

#include <wx/app.h>
#include <wx/event.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>

namespace {

class Printer : public wxEvtHandler {
public:
    Printer() {
        Bind(wxEVT_JOB_STATUS, [this](wxThreadEvent& e) {
            last = e.GetString();
            std::printf("%s\n", static_cast<const char*>(last.utf8_str()));
            std::fflush(stdout);
        });
        Bind(wxEVT_JOB_PDF_READY, [this](wxThreadEvent& e) { pdf = e.GetString(); });
        Bind(wxEVT_JOB_ENDED, [this](wxThreadEvent&) { ended = true; });
    }
    wxString last, pdf;
    bool ended = false;
};

Printer* g_printer = nullptr;
wxEvtHandler* CurrentPrinter() {
    return g_printer;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr,
                     "usage: QUORVANE_OPS_KEY=... QUORVANE_OPS_SECRET=... %s NUMBER [FOLDER]\n",
                     argv[0]);
        return 2;
    }
    const char* key = std::getenv("QUORVANE_OPS_KEY");
    const char* secret = std::getenv("QUORVANE_OPS_SECRET");
    if (!key || !*key || !secret || !*secret) {
        std::fprintf(stderr,
                     "QUORVANE_OPS_KEY and QUORVANE_OPS_SECRET must hold the EPO key and secret\n");
        return 2;
    }
    wxInitializer wx;
    if (!wx.IsOk() || !qvNetInit()) {
        std::fprintf(stderr, "cannot initialise\n");
        return 2;
    }
    int rc = 1;
    {
        const wxString folder = argc == 3 ? wxString::FromUTF8(argv[2]) : wxGetCwd();
        Printer printer;
        g_printer = &printer;
        SetJobEventTarget(&CurrentPrinter);
        ops* job = new ops(1,
                           JobInput(wxString::FromUTF8(argv[1]), ConnectionSettingsRecord(),
                                    wxFileName(folder).GetAbsolutePath()),
                           OpsCredentials{wxString::FromUTF8(key), wxString::FromUTF8(secret)});
        if (job->Create() == wxTHREAD_NO_ERROR && job->Run() == wxTHREAD_NO_ERROR) {
            while (!printer.ended) {
                wxThread::Sleep(20);
                if (wxAppConsole* app = wxAppConsole::GetInstance())
                    app->ProcessPendingEvents();
            }
            job->Wait();
        }
        delete job;
        if (wxAppConsole* app = wxAppConsole::GetInstance())
            app->ProcessPendingEvents();
        SetJobEventTarget(nullptr);
        g_printer = nullptr;
        if (!printer.pdf.empty() && wxFileExists(printer.pdf)) {
            std::printf("%s\n", static_cast<const char*>(printer.pdf.utf8_str()));
            rc = 0;
        }
    }
    qvNetCleanup();
    return rc;
}

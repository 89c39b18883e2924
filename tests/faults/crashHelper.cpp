// Runs one USPTO job in a process of its own, for the crash-safety test to kill: prints each
// status on its own line as the job posts it. Arguments: download folder, number. The
// remote services are reached through http_proxy, as for every job.
#include "netInit.h"
#include "uspto.h"

#include <wx/app.h>
#include <wx/event.h>
#include <wx/filefn.h>
#include <wx/init.h>
#include <wx/utils.h>

#include <cstdio>

namespace {

class Printer : public wxEvtHandler {
public:
    Printer() {
        Bind(wxEVT_JOB_STATUS, &Printer::OnStatus, this);
        Bind(wxEVT_JOB_ENDED, &Printer::OnEnded, this);
    }
    bool ended = false;

private:
    void OnStatus(wxThreadEvent& event) {
        std::printf("%s\n", static_cast<const char*>(event.GetString().utf8_str()));
        std::fflush(stdout);
    }
    void OnEnded(wxThreadEvent&) { ended = true; }
};

Printer* g_printer = nullptr;
wxEvtHandler* Target() {
    return g_printer;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER NUMBER\n", argv[0]);
        return 2;
    }
    wxInitializer wx;
    if (!wx.IsOk() || !qvNetInit() || !wxSetWorkingDirectory(argv[1]))
        return 2;
    Printer printer;
    g_printer = &printer;
    SetJobEventTarget(&Target);
    {
        uspto job(1, argv[2]);
        if (job.Create() != wxTHREAD_NO_ERROR || job.Run() != wxTHREAD_NO_ERROR)
            return 1;
        while (!printer.ended) {
            wxMilliSleep(5);
            // Every handler with queued events, this one among them.
            if (wxAppConsole* app = wxAppConsole::GetInstance())
                app->ProcessPendingEvents();
        }
        job.Wait();
    }
    SetJobEventTarget(nullptr);
    qvNetCleanup();
    return 0;
}

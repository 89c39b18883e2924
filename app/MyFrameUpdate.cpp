// The main window's Setup and Update commands and its side of the update thread.
#include "MyFrame.h"

#include "SetupDialog.h"
#include "handOver.h"
#include "settings.h"
#include "ui.h"
#include "updater.h"

#include <wx/app.h>
#include <wx/busyinfo.h>
#include <wx/log.h>
#include <wx/utils.h>

#include <ctime>

namespace {
constexpr unsigned long kHandOverPollMs = 20;
} // namespace

void MyFrame::OnSetup(wxCommandEvent&) {
    {
        SetupDialog dialog(this);
        if (dialog.ShowModal() == wxID_OK) {
            const wxString folder = dialog.GetDirectory();
            bool changed;
            {
                wxLogNull quiet; // reported below in the program's own words
                changed = wxSetWorkingDirectory(folder);
            }
            if (!changed)
                wxLogError("Error changing directory to %s", folder);
            DownloadFolder();
        }
    }
    queue.SetLimit(ClampMaxThreads(queue.Limit()));
    // The limit may have grown.
    queue.Dispatch();
}

void MyFrame::OnUpdate(wxCommandEvent&) {
    if (updaterThread)
        return; // the running check still reports
    manualUpdateCheck = true;
    SetStatusText("Downloading any available updates...", 1);
    StartUpdater(true);
}

void MyFrame::StartUpdater(bool download) {
    if (updaterThread)
        return;
    if (!download)
        SetStatusText("Checking for available updates...", 1);
    updater* thread = new updater(download, this, ConnectionSettings);
    if (thread->Create() != wxTHREAD_NO_ERROR || thread->Run() != wxTHREAD_NO_ERROR) {
        delete thread;
        SetStatusText("Error Updating!", 1);
        return;
    }
    updaterThread = thread;
}

void MyFrame::StopUpdater() {
    if (!updaterThread)
        return;
    updaterThread->Delete();
    delete updaterThread;
    updaterThread = nullptr;
}

void MyFrame::OnUpdaterEvent(wxThreadEvent& event) {
    if (updaterThread) {
        updaterThread->Wait();
        delete updaterThread;
        updaterThread = nullptr;
    }

    const int status = event.GetInt();
    if (status == UPDATE_ERROR) {
        SetStatusText("Error Updating!", 1);
        if (manualUpdateCheck)
            wxLogMessage("Error Updating!");
        return;
    }

    {
        auto config = OpenSettings();
        config->Write("lastCheck", static_cast<long>(std::time(nullptr)));
    }

    if (status == UPDATE_CURRENT) {
        SetStatusText("Running Latest Version", 1);
        if (manualUpdateCheck)
            wxLogMessage("Running Latest Version");
        return;
    }

    if (status == UPDATE_AVAILABLE) {
        SetStatusText("Update Available!", 1);
        if (AskUser("An updated Quorvane is available!\n Would you like to download it now?",
                    "Latest Quorvane Available!", wxYES_NO | wxICON_QUESTION, this) == wxYES) {
            SetStatusText("Downloading latest version...", 1);
            StartUpdater(true);
        } else {
            SetStatusText("Update Available!", 1);
        }
        return;
    }

    if (status != UPDATE_DOWNLOADED)
        return;
    const wxString newProgram = event.GetString();
    const wxString text = "The latest Quorvane has been succesfully downloaded to \"" + newProgram +
                          "\"\n\n\nWould you like to exit and run the latest version now?";
    if (AskUser(text, "Latest Quorvane Ready", wxYES_NO | wxICON_QUESTION, this) != wxYES)
        return;

    wxString error;
    if (!StartHandOver(newProgram, UpdaterProgramPath(), &error)) {
        // Ending now would leave the user with no program running at all.
        wxLogError("%s", error);
        return;
    }
    {
        wxWindowDisabler disabler;
        wxBusyInfo busy("Waiting for download to complete!...");
        // Waiting jobs start only as running ones end, which is told by queued events.
        while (queue.WaitingCount() > 0) {
            wxTheApp->Yield(true);
            wxMilliSleep(kHandOverPollMs);
        }
    }
    ExitProgram(0);
}

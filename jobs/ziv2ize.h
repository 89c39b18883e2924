// Base of the download jobs: one job is one worker thread that turns one document number
// into one PDF in the download folder and reports only through queued events.
#pragma once

#include "httpSession.h"

#include <wx/event.h>
#include <wx/filename.h>
#include <wx/string.h>
#include <wx/thread.h>

#include <functional>

// Events a job posts. Id: the job id (wxEVT_USPTO_PAGE: -1). String: status text, PDF path.
// Payload (GetPayload<ziv2ize*>()): the job that posted it (none for wxEVT_USPTO_PAGE).
// They are wxThreadEvents, the base library's event for a worker thread to send: the
// command event lives in the GUI library, which the jobs do not use. Handle them with
// wxThreadEventHandler, e.g. wx__DECLARE_EVT1(wxEVT_JOB_STATUS, wxID_ANY,
// wxThreadEventHandler(MyFrame::OnJobStatus)) in an event table, or with Bind.
wxDECLARE_EVENT(wxEVT_JOB_STATUS, wxThreadEvent);
wxDECLARE_EVENT(wxEVT_JOB_PDF_READY, wxThreadEvent);
wxDECLARE_EVENT(wxEVT_JOB_ENDED, wxThreadEvent);
wxDECLARE_EVENT(wxEVT_USPTO_PAGE, wxThreadEvent);

// Where jobs post their events: looked up at each post, so a job never holds a window.
// The program answers with its main window, tests with a handler of their own; null posts
// nothing. Set once before the first job starts.
using JobEventTargetLookup = wxEvtHandler* (*)();
void SetJobEventTarget(JobEventTargetLookup lookup);

// The user's connection settings, as the publication-number lookup needs them. The job's
// own sessions never use them. The program supplies a function that copies its settings
// record; without one the lookup connects like the jobs (type 0, no proxy).
struct JobConnectionSettings {
    int connectionType = 0; // 0 automatic, 1 direct, 2 HTTP proxy
    wxString proxyServer;
    wxString proxyPort;
    wxString proxyUser;
    wxString proxyPass;
};
using JobConnectionSettingsLookup = JobConnectionSettings (*)();
void SetUserConnectionSettings(JobConnectionSettingsLookup lookup);
JobConnectionSettings GetUserConnectionSettings();

class ziv2ize : public wxThread {
public:
    explicit ziv2ize(int id);
    ~ziv2ize() override;

    void PostStatus(const wxString& text);
    void PostPdfReady(const wxString& path);
    // One page was added to the PDF (the status bar counts USPTO pages).
    void PostUsptoPage();
    void OnExit() override;

    int GetJobId() const { return id; }
    // The document number as handed over (the uspto job normalises it once it runs).
    wxString GetNumber() const { return number; }

    // Length of one countdown step in milliseconds (1000). Tests shorten it; set it only
    // while no job runs.
    static void SetCountdownStepMs(int ms);
    static int GetCountdownStepMs();

    // Connect time-out and the longest time without a received byte for every session a
    // job makes (30 s and 60 s). Set only while no job runs.
    static void SetSessionTimeouts(long connectSeconds, long stallSeconds);

protected:
    // Counts down 10..1, posting fill(n) for the seconds left, with one cancellation test
    // per step; statusFirst chooses whether the status goes before or after that test.
    // The pause itself also gives way to a cancellation at once. False when cancelled.
    bool Countdown(const std::function<wxString(int)>& fill, bool statusFirst = true);

    // Sets output to name in the current folder. When that file exists already, posts
    // "Previously Downloaded!" and the PDF path and returns true: the job is done.
    bool PreviouslyDownloaded(const wxString& name);

    // TestDestroy, answered false outside the job's thread.
    bool Cancelled();

    // Makes a session of this job leave a request as soon as the job is cancelled.
    void WatchSession(httpSession& s);

    httpSession session;
    wxString number;
    int id;
    wxFileName output;
    int listState;
};

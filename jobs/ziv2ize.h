// Base of the download jobs: one job is one worker thread that turns one document number
// into one PDF in the download folder and reports only through queued events.
#pragma once

#include "httpSession.h"
#include "jobProgress.h"

#include <wx/event.h>
#include <wx/filename.h>
#include <wx/string.h>
#include <wx/thread.h>

#include <atomic>
#include <functional>

// Events a job posts. Id: the job id (wxEVT_USPTO_PAGE: -1). String: status text, PDF path.
// wxEVT_JOB_STATUS carries the job's JobProgress as its payload (GetPayload<JobProgress>()).
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

// The report a wxEVT_JOB_STATUS event of a job carries; false for an event that carries
// none (one not posted by a job).
bool JobProgressOf(const wxThreadEvent& event, JobProgress& progress);
void SetJobEventTarget(JobEventTargetLookup lookup);

class pdfWriter;

// Everything a job needs, handed over when it is made (on the thread that makes it): a job
// reads no settings of the program while it runs.
struct JobInput {
    wxString number;                     // as the user gave it, cleaned
    ConnectionSettingsRecord connection; // a copy of the user's connection settings
    wxString folder;                     // absolute download folder; the PDF goes there

    // The current folder and the default connection (for tools and tests).
    explicit JobInput(const wxString& number_ = wxString());
    JobInput(const wxString& number_, const ConnectionSettingsRecord& connection_,
             const wxString& folder_);
};

class ziv2ize : public wxThread {
public:
    ziv2ize(int id, const JobInput& input);
    ~ziv2ize() override;

    // Posts the status text with the job's progress report in phase.
    void PostStatus(JobPhase phase, const wxString& text);
    // Posts a Downloading status for page of count.
    void PostPage(const wxString& text, int page, int count);
    void PostPdfReady(const wxString& path);
    // One page was added to the PDF (the status bar counts USPTO pages).
    void PostUsptoPage();
    void OnExit() override;

    // Asks the job to end without waiting for it: many jobs are asked first and then waited
    // for together, so stopping them takes as long as the slowest, not the sum. Any thread.
    void RequestStop() { m_stopRequested = true; }
    // True once the job was asked to end, by RequestStop or Delete.
    bool TestDestroy() override { return m_stopRequested.load() || wxThread::TestDestroy(); }

    int GetJobId() const { return id; }
    // The document number as handed over (the uspto job normalises it once it runs).
    wxString GetNumber() const { return number; }

    // Length of one countdown step in milliseconds (1000). Tests shorten it; set it only
    // while no job runs.
    static void SetCountdownStepMs(int ms);
    static int GetCountdownStepMs();

    // Where a job puts the PDF name in folder: the one rule for the path of a document.
    static wxFileName OutputPath(const wxString& folder, const wxString& name);

    // Connect time-out and the longest time without a received byte for every session a
    // job makes (30 s and 60 s). Set only while no job runs.
    static void SetSessionTimeouts(long connectSeconds, long stallSeconds);

protected:
    // The publication a job took (the EPO job), for its reports.
    void SetPublication(const wxString& shown);

    // Counts down 10..1, posting fill(n) for the steps left, with one cancellation test per
    // step; statusFirst chooses whether the status goes before or after that test. A step
    // lasts stepScale countdown steps (a second each; 60 counts minutes). The pause itself
    // also gives way to a cancellation at once. False when cancelled.
    // Sleeps ms in short slices; false as soon as the job is asked to end.
    bool Pause(long long ms);
    bool Countdown(const std::function<wxString(int)>& fill, bool statusFirst = true,
                   int stepScale = 1);

    // What one attempt of a step that is tried again came to: done, worth another attempt,
    // or the job ends (the attempt posted why).
    enum class Attempt { Done, Again, Stop };
    // The one retry rule of every job: runs attempt until it is Done (true) or Stop (false);
    // after each Again, unless the job was cancelled, counts down as Countdown does and tries
    // again. False when cancelled.
    bool RetryWithCountdown(const std::function<Attempt()>& attempt,
                            const std::function<wxString(int)>& fill, bool statusFirst = true);
    // The same for a step that only succeeds or fails.
    bool RetryWithCountdown(const std::function<bool()>& attempt,
                            const std::function<wxString(int)>& fill, bool statusFirst = true);

    // Sets output to name in the download folder. When that file exists already, posts
    // "Previously Downloaded!" and the PDF path and returns true: the job is done. A folder
    // under that name can never become the PDF: that ends the job too, with an error.
    bool PreviouslyDownloaded(const wxString& name);

    // Puts the finished PDF in place and only then posts "Finished!" and its path; a failure
    // of that last step is posted as "Error Writing PDF ..." instead. True when the file is there.
    bool FinishPdf(pdfWriter& writer);

    // TestDestroy, answered false outside the job's thread.
    bool Cancelled();

    // Makes a session of this job leave a request as soon as the job is cancelled.
    void WatchSession(httpSession& s);

    const ConnectionSettingsRecord connection;
    const wxString folder;
    httpSession session;
    wxString number;
    int id;
    wxFileName output;

private:
    std::atomic<bool> m_stopRequested{false};
    JobProgress m_progress; // the job's own thread alone writes it
};

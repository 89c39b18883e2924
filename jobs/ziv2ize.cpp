#include "ziv2ize.h"

#include "pdfWriter.h"

#include <wx/filefn.h>

#include <atomic>

wxDEFINE_EVENT(wxEVT_JOB_STATUS, wxThreadEvent);
wxDEFINE_EVENT(wxEVT_JOB_PDF_READY, wxThreadEvent);
wxDEFINE_EVENT(wxEVT_JOB_ENDED, wxThreadEvent);
wxDEFINE_EVENT(wxEVT_USPTO_PAGE, wxThreadEvent);

namespace {

std::atomic<JobEventTargetLookup> g_target{nullptr};
std::atomic<int> g_stepMs{1000};
std::atomic<long> g_connectTimeout{30};
std::atomic<long> g_stallTimeout{60};

// Queues a copy of event on the current target; the job never processes it itself.
void Queue(const wxThreadEvent& event) {
    JobEventTargetLookup lookup = g_target.load();
    wxEvtHandler* target = lookup ? lookup() : nullptr;
    if (target)
        wxQueueEvent(target, event.Clone());
}

wxThreadEvent JobEvent(wxEventType type, int id, const wxString& text) {
    wxThreadEvent event(type, -1);
    event.SetId(id);
    event.SetString(text);
    return event;
}

} // namespace

void SetJobEventTarget(JobEventTargetLookup lookup) {
    g_target = lookup;
}

JobInput::JobInput(const wxString& number_) : number(number_), folder(wxGetCwd()) {}

JobInput::JobInput(const wxString& number_, const ConnectionSettingsRecord& connection_,
                   const wxString& folder_)
    : number(number_), connection(connection_), folder(folder_) {}

ziv2ize::ziv2ize(int id_, const JobInput& input)
    : wxThread(wxTHREAD_JOINABLE), connection(input.connection), folder(input.folder),
      session(input.connection), number(input.number), id(id_) {
    WatchSession(session);
    PostStatus("Downloading");
}

ziv2ize::~ziv2ize() {}

void ziv2ize::SetCountdownStepMs(int ms) {
    g_stepMs = ms < 1 ? 1 : ms;
}
int ziv2ize::GetCountdownStepMs() {
    return g_stepMs;
}

void ziv2ize::SetSessionTimeouts(long connectSeconds, long stallSeconds) {
    g_connectTimeout = connectSeconds;
    g_stallTimeout = stallSeconds;
}

void ziv2ize::WatchSession(httpSession& s) {
    s.SetAbortCheck([this] { return TestDestroy(); });
    s.SetTimeouts(g_connectTimeout, g_stallTimeout);
}

bool ziv2ize::Cancelled() {
    // Only the job's own thread may ask; before it runs (the constructor's status) no one
    // can have cancelled it.
    return wxThread::This() == this && TestDestroy();
}

void ziv2ize::PostStatus(const wxString& text) {
    if (Cancelled())
        return;
    Queue(JobEvent(wxEVT_JOB_STATUS, id, text));
}

void ziv2ize::PostPdfReady(const wxString& path) {
    Queue(JobEvent(wxEVT_JOB_PDF_READY, id, path));
}

void ziv2ize::PostUsptoPage() {
    Queue(wxThreadEvent(wxEVT_USPTO_PAGE, -1));
}

void ziv2ize::OnExit() {
    if (Cancelled())
        return;
    Queue(JobEvent(wxEVT_JOB_ENDED, id, output.GetFullPath()));
}

bool ziv2ize::Countdown(const std::function<wxString(int)>& fill, bool statusFirst) {
    // The pause is cut into slices so that a cancelled job leaves well within a second.
    const int step = g_stepMs;
    const int slice = step < 20 ? step : 20;
    for (int n = 10; n >= 1; --n) {
        if (statusFirst)
            PostStatus(fill(n));
        if (TestDestroy())
            return false;
        if (!statusFirst)
            PostStatus(fill(n));
        for (int slept = 0; slept < step; slept += slice) {
            Sleep(step - slept < slice ? step - slept : slice);
            if (TestDestroy())
                return false;
        }
    }
    return true;
}

bool ziv2ize::PreviouslyDownloaded(const wxString& name) {
    output = wxFileName(folder, name);
    output.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_TILDE | wxPATH_NORM_ABSOLUTE);
    const wxString path = output.GetFullPath();
    if (wxDirExists(path)) {
        PostStatus(wxString::Format("Error Writing PDF %s is a folder", path));
        return true;
    }
    if (!wxFileExists(path))
        return false;
    PostStatus("Previously Downloaded!");
    PostPdfReady(path);
    return true;
}

bool ziv2ize::FinishPdf(pdfWriter& writer) {
    if (!writer.Close()) {
        PostStatus("Error Writing PDF " + writer.m_message);
        return false;
    }
    PostStatus("Finished!");
    PostPdfReady(output.GetFullPath());
    return true;
}

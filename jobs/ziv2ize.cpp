#include "ziv2ize.h"

#include "pdfWriter.h"

#include <wx/filefn.h>

#include <algorithm>
#include <atomic>
#include <chrono>

wxDEFINE_EVENT(wxEVT_JOB_STATUS, wxThreadEvent);
wxDEFINE_EVENT(wxEVT_JOB_PDF_READY, wxThreadEvent);
wxDEFINE_EVENT(wxEVT_JOB_ENDED, wxThreadEvent);
wxDEFINE_EVENT(wxEVT_USPTO_PAGE, wxThreadEvent);

namespace {

std::atomic<JobEventTargetLookup> g_target{nullptr};
std::atomic<int> g_stepMs{1000};
std::atomic<long> g_connectTimeout{30};
std::atomic<long> g_stallTimeout{60};
// Marks a status event that carries a JobProgress: an empty payload cannot be asked for.
constexpr long kCarriesProgress = 0x5150;

// Queues a copy of event on the current target; the job never processes it itself.
void Queue(const wxThreadEvent& event) {
    JobEventTargetLookup lookup = g_target.load();
    wxEvtHandler* target = lookup ? lookup() : nullptr;
    if (target)
        wxQueueEvent(target, event.Clone());
}

// The converted bytes live in the string's own cache: text must outlive them.
std::string Utf8(const wxString& text) {
    const wxScopedCharBuffer bytes = text.utf8_str();
    return std::string(bytes.data(), bytes.length());
}

wxThreadEvent JobEvent(wxEventType type, int id, const wxString& text) {
    wxThreadEvent event(type, -1);
    event.SetId(id);
    event.SetString(text);
    return event;
}

} // namespace

bool JobProgressOf(const wxThreadEvent& event, JobProgress& progress) {
    if (event.GetEventType() != wxEVT_JOB_STATUS || event.GetExtraLong() != kCarriesProgress)
        return false;
    progress = event.GetPayload<JobProgress>();
    return true;
}

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
    m_progress.id = id;
    WatchSession(session);
    PostStatus(JobPhase::LookingUp, "Downloading");
}

wxFileName ziv2ize::OutputPath(const wxString& folder, const wxString& name) {
    wxFileName path(folder, name);
    path.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_TILDE | wxPATH_NORM_ABSOLUTE);
    return path;
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

void ziv2ize::PostStatus(JobPhase phase, const wxString& text) {
    if (Cancelled())
        return;
    m_progress.phase = phase;
    m_progress.status = Utf8(text);
    wxThreadEvent event = JobEvent(wxEVT_JOB_STATUS, id, text);
    event.SetPayload(m_progress);
    event.SetExtraLong(kCarriesProgress);
    Queue(event);
}

void ziv2ize::PostPage(const wxString& text, int page, int count) {
    m_progress.page = page;
    m_progress.pageCount = count;
    PostStatus(JobPhase::Downloading, text);
}

void ziv2ize::SetPublication(const wxString& shown) {
    m_progress.publication = Utf8(shown);
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

bool ziv2ize::Pause(long long ms) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0LL, ms));
    for (;;) {
        if (TestDestroy())
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return true;
        Sleep(static_cast<unsigned long>(std::min<long long>(left, 20)));
    }
}

bool ziv2ize::Countdown(const std::function<wxString(int)>& fill, bool statusFirst, int stepScale) {
    // The pause is cut into slices so that a cancelled job leaves well within a second.
    const int step = g_stepMs * stepScale;
    const int slice = step < 20 ? step : 20;
    for (int n = 10; n >= 1; --n) {
        if (statusFirst)
            PostStatus(JobPhase::Countdown, fill(n));
        if (TestDestroy())
            return false;
        if (!statusFirst)
            PostStatus(JobPhase::Countdown, fill(n));
        for (int slept = 0; slept < step; slept += slice) {
            Sleep(step - slept < slice ? step - slept : slice);
            if (TestDestroy())
                return false;
        }
    }
    return true;
}

bool ziv2ize::RetryWithCountdown(const std::function<Attempt()>& attempt,
                                 const std::function<wxString(int)>& fill, bool statusFirst) {
    for (;;) {
        const Attempt result = attempt();
        if (result != Attempt::Again)
            return result == Attempt::Done;
        if (TestDestroy() || !Countdown(fill, statusFirst))
            return false;
    }
}

bool ziv2ize::RetryWithCountdown(const std::function<bool()>& attempt,
                                 const std::function<wxString(int)>& fill, bool statusFirst) {
    return RetryWithCountdown([&attempt] { return attempt() ? Attempt::Done : Attempt::Again; },
                              fill, statusFirst);
}

bool ziv2ize::PreviouslyDownloaded(const wxString& name) {
    output = OutputPath(folder, name);
    const wxString path = output.GetFullPath();
    if (wxDirExists(path)) {
        PostStatus(JobPhase::Failed, wxString::Format("Error Writing PDF %s is a folder", path));
        return true;
    }
    if (!wxFileExists(path))
        return false;
    m_progress.file = Utf8(path);
    PostStatus(JobPhase::AlreadyThere, "Previously Downloaded!");
    PostPdfReady(path);
    return true;
}

bool ziv2ize::FinishPdf(pdfWriter& writer) {
    if (!writer.Close()) {
        PostStatus(JobPhase::Failed, "Error Writing PDF " + writer.m_message);
        return false;
    }
    m_progress.file = Utf8(output.GetFullPath());
    PostStatus(JobPhase::Finished, "Finished!");
    PostPdfReady(output.GetFullPath());
    return true;
}

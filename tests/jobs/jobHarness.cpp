#include "jobHarness.h"

#include "fixtures.h"

#include <wx/dir.h>
#include <wx/filefn.h>

#include <cstdlib>

namespace {

EventRecorder* g_recorder = nullptr;
wxEvtHandler* CurrentRecorder() {
    return g_recorder;
}

} // namespace

EventRecorder::EventRecorder() {
    Bind(wxEVT_JOB_STATUS, &EventRecorder::OnEvent, this);
    Bind(wxEVT_JOB_PDF_READY, &EventRecorder::OnEvent, this);
    Bind(wxEVT_JOB_ENDED, &EventRecorder::OnEvent, this);
    Bind(wxEVT_USPTO_PAGE, &EventRecorder::OnEvent, this);
}

void EventRecorder::OnEvent(wxThreadEvent& event) {
    char kind = '?';
    if (event.GetEventType() == wxEVT_JOB_STATUS)
        kind = 'S';
    else if (event.GetEventType() == wxEVT_JOB_PDF_READY)
        kind = 'R';
    else if (event.GetEventType() == wxEVT_JOB_ENDED)
        kind = 'E';
    else if (event.GetEventType() == wxEVT_USPTO_PAGE)
        kind = 'U';
    events.push_back({kind, event.GetId(), event.GetString().ToStdString()});
    JobProgress progress;
    if (JobProgressOf(event, progress))
        reports.push_back(progress);
}

std::vector<std::string> EventRecorder::Sequence(int id) const {
    std::vector<std::string> out;
    for (const JobEventRecord& e : events) {
        if (e.kind == 'U')
            out.push_back("U");
        else if (e.id == id)
            out.push_back(std::string(1, e.kind) + ":" + e.text);
    }
    return out;
}

std::vector<std::string> EventRecorder::Statuses(int id) const {
    std::vector<std::string> out;
    for (const JobEventRecord& e : events)
        if (e.kind == 'S' && e.id == id)
            out.push_back(e.text);
    return out;
}

bool EventRecorder::Ended(int id) const {
    for (const JobEventRecord& e : events)
        if (e.kind == 'E' && e.id == id)
            return true;
    return false;
}

size_t EventRecorder::CountStatusesContaining(int id, const std::string& part) const {
    size_t n = 0;
    for (const std::string& s : Statuses(id))
        if (s.find(part) != std::string::npos)
            ++n;
    return n;
}

void JobTest::SetUp() {
    fake.reset(new qvfake::FakeService());
    ASSERT_TRUE(fake->ok());
    setenv("http_proxy", fake->proxyUrl().c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    m_dir.reset(new qvtest::TempDir("qvjobs"));
    m_oldCwd = wxGetCwd();
    ASSERT_TRUE(wxSetWorkingDirectory(m_dir->path()));
    recorder.reset(new EventRecorder());
    g_recorder = recorder.get();
    SetJobEventTarget(&CurrentRecorder);
    ziv2ize::SetCountdownStepMs(5);
    log = new LogCollector();
    m_oldLog = wxLog::SetActiveTarget(log);
}

void JobTest::TearDown() {
    SetJobEventTarget(nullptr);
    g_recorder = nullptr;
    if (recorder)
        recorder->Pump();
    recorder.reset();
    wxLog::FlushActive();
    delete wxLog::SetActiveTarget(m_oldLog);
    ziv2ize::SetCountdownStepMs(1000);
    wxSetWorkingDirectory(m_oldCwd);
    m_dir.reset();
    fake.reset();
}

void JobTest::Start(ziv2ize* job) {
    ASSERT_EQ(job->Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(job->Run(), wxTHREAD_NO_ERROR);
}

bool JobTest::WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
    return qvtest::waitFor(pred, std::chrono::milliseconds(timeoutMs), [this] {
        wxLog::FlushActive();
        recorder->Pump();
    });
}

bool JobTest::Run(ziv2ize* job, int timeoutMs) {
    const int id = job->GetJobId();
    Start(job);
    const bool ended = WaitUntil([&] { return recorder->Ended(id); }, timeoutMs);
    if (ended)
        job->Wait();
    else
        job->Delete();
    delete job;
    recorder->Pump();
    wxLog::FlushActive();
    return ended;
}

std::vector<std::string> JobTest::Files() const {
    std::vector<std::string> out;
    wxDir dir(m_dir->path());
    wxString name;
    for (bool more = dir.GetFirst(&name); more; more = dir.GetNext(&name))
        out.push_back(name.ToStdString());
    return out;
}

std::vector<qvfake::RecordedRequest> JobTest::RequestsTo(const std::string& host) const {
    std::vector<qvfake::RecordedRequest> out;
    for (const qvfake::RecordedRequest& r : fake->requests())
        if (r.host == host)
            out.push_back(r);
    return out;
}

::testing::AssertionResult PdfMatchesPages(const std::string& pdf,
                                           const std::vector<std::string>& tiffs) {
    std::string check, out;
    if (qvtest::runCommand("qpdf --check '" + pdf + "' 2>&1", &check) != 0)
        return ::testing::AssertionFailure() << "qpdf --check failed: " << check;
    if (qvtest::runCommand("qpdf --show-npages '" + pdf + "'", &out) != 0 ||
        std::atoi(out.c_str()) != static_cast<int>(tiffs.size()))
        return ::testing::AssertionFailure()
               << "page count " << out << " instead of " << tiffs.size();
    for (size_t i = 0; i < tiffs.size(); ++i) {
        qvfix::Bitmap want, got;
        if (!qvfix::decodeTiff(tiffs[i], want))
            return ::testing::AssertionFailure() << "page " << i + 1 << ": fixture unreadable";
        if (!qvfix::renderPdfPage(pdf, static_cast<int>(i) + 1, want.width, want.height, got))
            return ::testing::AssertionFailure() << "page " << i + 1 << " does not render";
        const size_t diff = want.Differences(got);
        if (diff != 0)
            return ::testing::AssertionFailure()
                   << "page " << i + 1 << " differs in " << diff << " pixels";
    }
    return ::testing::AssertionSuccess();
}

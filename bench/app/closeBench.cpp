// How long closing the main window takes while many jobs wait on pages that never come.
//
//   xvfb-run -a ./qv_bench_close [jobs...]     (default: 20 200)
//
// For each count: that many documents are entered with as many jobs at once, every page
// request stalls at the fake service, and the window is closed once all jobs wait; printed
// is the time from Close to the window being gone.
#include "MyApp.h"
#include "MyFrame.h"
#include "fakeService.h"
#include "fixtures.h"
#include "netInit.h"
#include "settings.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class BenchApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

void Spin(wxEventLoop& loop) {
    while (loop.Pending())
        loop.Dispatch();
    wxTheApp->ProcessPendingEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Runs one round; the close time in ms, or a negative value when the jobs never all waited.
double CloseWithWaitingJobs(wxEventLoop& loop, const std::string& dir, int jobs) {
    qvfake::FakeService fake;
    const std::string page = qvfix::makeTiff();
    for (int d = 0; d < jobs; ++d)
        fake.addUsptoDocument(std::to_string(2000000 + d), {page});
    fake.addRule("", "PageNum", qvfake::Fault::Stall, -1);
    setenv("http_proxy", fake.proxyUrl().c_str(), 1);
    {
        auto config = OpenSettings();
        config->Write("lastCheck", static_cast<long>(std::time(nullptr)));
        config->Write("Path", wxString(dir));
        config->Write("max_threads", static_cast<long>(jobs));
    }
    MyFrame* frame = StartMainWindow();
    for (int d = 0; d < jobs; ++d) {
        frame->textCtrl->ChangeValue(std::to_string(2000000 + d));
        wxCommandEvent enter(wxEVT_TEXT_ENTER, ID_INPUT);
        frame->textCtrl->GetEventHandler()->ProcessEvent(enter);
    }
    // Every job has asked for its page list and its page (which stalls or waits its turn).
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (fake.requestCount() < size_t(2 * jobs) && Clock::now() < deadline)
        Spin(loop);
    const bool allWaiting = fake.requestCount() >= size_t(2 * std::min(jobs, 8));
    const auto start = Clock::now();
    frame->Close(true);
    while (TheMainFrame() && Clock::now() - start < std::chrono::minutes(5))
        Spin(loop);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    for (int i = 0; i < 20; ++i)
        Spin(loop);
    fake.releaseStalls();
    return allWaiting ? ms : -ms;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {20, 200};
    qvNetInit();
    char configTemplate[] = "/tmp/qv-bench-close-XXXXXX";
    const std::string dir = mkdtemp(configTemplate);
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);

    wxApp::SetInstance(new BenchApp);
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    if (!wxEntryStart(wxArgc, wxArgv)) {
        std::fprintf(stderr, "no display: run under xvfb-run\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    delete wxLog::SetActiveTarget(new wxLogStderr);
    wxEventLoop loop;
    wxEventLoopActivator active(&loop);
    for (int jobs : counts) {
        const double ms = CloseWithWaitingJobs(loop, dir, jobs);
        std::printf("close with %d jobs waiting on pages: %.0f ms%s\n", jobs, ms < 0 ? -ms : ms,
                    ms < 0 ? " (not every job had started waiting)" : "");
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    wxTheApp->OnExit();
    wxEntryCleanup();
    qvNetCleanup();
    return 0;
}

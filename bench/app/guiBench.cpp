// How much GUI-thread time the job events cost with a long queue: 500 documents entered,
// 3 downloading at once against the fake service (5 ms added to every answer).
//
//   xvfb-run -a ./qv_bench_gui [documents] [pages]
//
// Prints the median and worst time of the main window's handling of one job event, how late
// a timer tick runs while the jobs run (the window's responsiveness), and the time from a
// job's last page request to "Finished!" in its row.
#include "MyApp.h"
#include "MyFrame.h"
#include "fakeService.h"
#include "fixtures.h"
#include "netInit.h"
#include "settings.h"
#include "ziv2ize.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/init.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

// Receives the jobs' events first, hands each to the main window and times it.
class Interceptor : public wxEvtHandler {
public:
    explicit Interceptor(MyFrame* frame) : m_frame(frame) {
        Bind(wxEVT_JOB_STATUS, &Interceptor::OnEvent, this);
        Bind(wxEVT_JOB_PDF_READY, &Interceptor::OnEvent, this);
        Bind(wxEVT_JOB_ENDED, &Interceptor::OnEvent, this);
        Bind(wxEVT_USPTO_PAGE, &Interceptor::OnEvent, this);
    }
    std::vector<double> handling;              // ms per event
    std::vector<double> lastPageToFinished;    // ms per job
    std::map<int, Clock::time_point> lastPage; // job id -> when its last page was asked for
    int ended = 0;

private:
    void OnEvent(wxThreadEvent& event) {
        const auto start = Clock::now();
        if (event.GetEventType() == wxEVT_JOB_STATUS) {
            const wxString text = event.GetString();
            long page = 0, count = 0;
            if (text.StartsWith("Downloading page ") &&
                text.AfterFirst(' ').AfterFirst(' ').BeforeFirst(' ').ToLong(&page) &&
                text.AfterLast(' ').ToLong(&count) && page == count)
                lastPage[event.GetId()] = start;
        }
        m_frame->ProcessWindowEvent(event);
        const auto end = Clock::now();
        handling.push_back(ms(end - start));
        if (event.GetEventType() == wxEVT_JOB_STATUS && event.GetString() == "Finished!") {
            auto it = lastPage.find(event.GetId());
            if (it != lastPage.end())
                lastPageToFinished.push_back(ms(end - it->second));
        }
        if (event.GetEventType() == wxEVT_JOB_ENDED)
            ++ended;
    }
    MyFrame* m_frame;
};

Interceptor* g_interceptor = nullptr;
wxEvtHandler* interceptorTarget() {
    return g_interceptor;
}

class BenchApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

} // namespace

int main(int argc, char** argv) {
    const int documents = argc > 1 ? std::atoi(argv[1]) : 500;
    const int pages = argc > 2 ? std::atoi(argv[2]) : 3;
    qvNetInit();

    char configTemplate[] = "/tmp/qv-bench-gui-XXXXXX";
    const std::string dir = mkdtemp(configTemplate);
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);

    qvfake::FakeService fake;
    fake.setDelay(std::chrono::milliseconds(5));
    const std::string page = qvfix::makeTiff();
    for (int d = 0; d < documents; ++d)
        fake.addUsptoDocument(std::to_string(1000000 + d), std::vector<std::string>(pages, page));
    setenv("http_proxy", fake.proxyUrl().c_str(), 1);

    wxApp::SetInstance(new BenchApp);
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    if (!wxEntryStart(wxArgc, wxArgv)) {
        std::fprintf(stderr, "no display: run under xvfb-run\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    delete wxLog::SetActiveTarget(new wxLogStderr);
    {
        auto config = OpenSettings();
        config->Write("lastCheck", static_cast<long>(std::time(nullptr)));
        config->Write("Path", wxString(dir));
        config->Write("max_threads", 3L);
    }
    wxEventLoop loop;
    wxEventLoopActivator active(&loop);
    MyFrame* frame = StartMainWindow();
    Interceptor interceptor(frame);
    g_interceptor = &interceptor;
    SetJobEventTarget(&interceptorTarget);

    const auto start = Clock::now();
    for (int d = 0; d < documents; ++d) {
        frame->textCtrl->ChangeValue(std::to_string(1000000 + d));
        wxCommandEvent enter(wxEVT_TEXT_ENTER, ID_INPUT);
        frame->textCtrl->GetEventHandler()->ProcessEvent(enter);
    }
    const double enterMs = ms(Clock::now() - start);

    // A 10 ms timer's lateness shows how responsive the window stays.
    std::vector<double> lateness;
    auto nextTick = Clock::now() + std::chrono::milliseconds(10);
    while (interceptor.ended < documents && Clock::now() - start < std::chrono::minutes(10)) {
        while (loop.Pending())
            loop.Dispatch();
        wxTheApp->ProcessPendingEvents();
        const auto now = Clock::now();
        if (now >= nextTick) {
            lateness.push_back(ms(now - nextTick));
            nextTick = now + std::chrono::milliseconds(10);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double totalMs = ms(Clock::now() - start);

    std::printf("documents %d x %d pages, 3 at once, 5 ms per answer: %.0f ms in all "
                "(%.1f ms to enter them)\n",
                documents, pages, totalMs, enterMs);
    std::printf("job event handling on the GUI thread: %zu events, median %.3f ms, 99%% "
                "%.3f ms, worst %.3f ms\n",
                interceptor.handling.size(), percentile(interceptor.handling, 0.5),
                percentile(interceptor.handling, 0.99), percentile(interceptor.handling, 1.0));
    std::printf("10 ms timer lateness: median %.2f ms, 99%% %.2f ms, worst %.2f ms\n",
                percentile(lateness, 0.5), percentile(lateness, 0.99), percentile(lateness, 1.0));
    std::printf("last page asked for -> \"Finished!\" in the row (includes the 5 ms answer): "
                "median %.2f ms, worst %.2f ms over %zu jobs\n",
                percentile(interceptor.lastPageToFinished, 0.5),
                percentile(interceptor.lastPageToFinished, 1.0),
                interceptor.lastPageToFinished.size());

    SetJobEventTarget(nullptr);
    frame->Close(true);
    for (int i = 0; i < 50; ++i) {
        while (loop.Pending())
            loop.Dispatch();
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    wxTheApp->OnExit();
    wxEntryCleanup();
    qvNetCleanup();
    return 0;
}

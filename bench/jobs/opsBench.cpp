// Runs EPO jobs against the fake EPO service (HTTPS through the fake as the proxy):
//  (a) three jobs of 40 pages at once while the service advertises images=green:600 and
//      answers 403 above it: pages per minute achieved (goal >= 90 % of the allowance) and
//      403 answers provoked (goal 0);
//  (b) the same while consecutive answers flap between idle (600) and busy (300): the
//      allowance to follow is 300;
//  peak memory: growth of the process's peak resident size during a 20- and a 200-page
//      document of A4 pages as served (goal: no higher for 200 pages).
//
//   qv_bench_ops [memory]    (memory: only the peak memory, 200 pages measured first)
//
// Run the memory part with MALLOC_ARENA_MAX=1: each job is a thread, and without it glibc's
// per-thread arenas make the peak differ by hundreds of kB from run to run.
#include "fakeService.h"
#include "netInit.h"
#include "ops.h"

#include <wx/app.h>
#include <wx/event.h>
#include <wx/filefn.h>
#include <wx/init.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

class Target : public wxEvtHandler {
public:
    Target() {
        Bind(wxEVT_JOB_ENDED, [this](wxThreadEvent& e) { ended.insert(e.GetId()); });
        Bind(wxEVT_JOB_STATUS, [this](wxThreadEvent& e) { last[e.GetId()] = e.GetString(); });
    }
    void Pump() {
        if (wxAppConsole* app = wxAppConsole::GetInstance())
            app->ProcessPendingEvents();
    }
    std::set<int> ended;
    std::map<int, wxString> last;
};

Target* g_target = nullptr;
wxEvtHandler* CurrentTarget() {
    return g_target;
}

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::char_traits<char>::length(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0)
            return std::atol(line.c_str() + n);
    return -1;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Runs one job per number at once; true when every one finished. With fake given, its
// request records are dropped as the jobs go, so that only the jobs' memory is measured.
bool RunJobs(const std::vector<std::string>& numbers, int firstId,
             qvfake::FakeService* fake = nullptr) {
    Target target;
    g_target = &target;
    const OpsCredentials key{qvfake::kOpsSampleKey, qvfake::kOpsSampleSecret};
    std::vector<ops*> jobs;
    for (size_t i = 0; i < numbers.size(); ++i) {
        ops* job = new ops(firstId + static_cast<int>(i), JobInput(numbers[i]), key);
        job->Create();
        job->Run();
        jobs.push_back(job);
    }
    while (target.ended.size() < numbers.size()) {
        wxThread::Sleep(5);
        if (fake)
            fake->clearRequests();
        target.Pump();
    }
    bool ok = true;
    for (size_t i = 0; i < jobs.size(); ++i) {
        jobs[i]->Wait();
        delete jobs[i];
        target.Pump();
        const wxString last = target.last[firstId + static_cast<int>(i)];
        if (last != "Finished!") {
            std::fprintf(stderr, "job %s: %s\n", numbers[i].c_str(),
                         static_cast<const char*>(last.utf8_str()));
            ok = false;
        }
    }
    for (const std::string& n : numbers)
        wxRemoveFile(n + ".pdf");
    g_target = nullptr;
    return ok;
}

struct Pace {
    double pagesPerMinute = 0;
    size_t pages = 0;
    size_t rejected = 0; // 403 answers of any kind
};

// Page requests per minute between the first and the last page request.
Pace Measure(const qvfake::FakeService& fake, const qvfake::OpsFake& ops) {
    Pace p;
    std::vector<Clock::time_point> times;
    for (const auto& r : fake.requests()) {
        if (r.server != "tls")
            continue;
        if (r.status == 403)
            ++p.rejected;
        if (r.path.find("fullimage.tiff?Range=") != std::string::npos)
            times.push_back(r.arrival);
    }
    std::sort(times.begin(), times.end());
    p.pages = times.size();
    if (times.size() > 1)
        p.pagesPerMinute =
            (times.size() - 1) * 60000.0 /
            std::chrono::duration<double, std::milli>(times.back() - times.front()).count();
    p.rejected = std::max(p.rejected, static_cast<size_t>(ops.stats().throttleRejections));
    return p;
}

qvfake::OpsThrottle Advertising(const std::string& state, int images) {
    qvfake::OpsThrottle t;
    t.state = state;
    t.images = images;
    return t;
}

} // namespace

int main(int argc, char** argv) {
    const bool memoryOnly = argc > 1 && std::string(argv[1]) == "memory";
    wxInitializer wx;
    if (!wx.IsOk() || !qvNetInit()) {
        std::fprintf(stderr, "cannot initialise\n");
        return 2;
    }
    int failures = 0;
    {
        qvfake::FakeService fake;
        qvfake::OpsFake& epo = fake.enableOps();
        if (!fake.ok() || !epo.ok()) {
            std::fprintf(stderr, "the fake service does not run: %s\n", epo.error().c_str());
            return 2;
        }
        setenv("https_proxy", fake.proxyUrl().c_str(), 1);
        setenv("CURL_CA_BUNDLE", epo.caBundlePath().c_str(), 1);
        unsetenv("no_proxy");
        unsetenv("NO_PROXY");
        SetJobEventTarget(&CurrentTarget);

        // A4 pages as served (2592 x 3508, big-endian, Group 4), eight different ones.
        std::vector<std::string> images;
        for (unsigned seed = 1; seed <= 8; ++seed)
            images.push_back(qvfake::opsPage(seed));
        auto pages = [&](int count) {
            std::vector<std::string> out;
            for (int i = 0; i < count; ++i)
                out.push_back(images[static_cast<size_t>(i) % images.size()]);
            return out;
        };
        const std::vector<std::string> three = {"EP1000001", "EP1000002", "EP1000003"};
        for (const std::string& n : three)
            epo.addPublication(qvfake::opsPublication("EP", n.substr(2), "B1", pages(40)));
        epo.addPublication(qvfake::opsPublication("EP", "1000020", "B1", pages(20)));
        epo.addPublication(qvfake::opsPublication("EP", "1000200", "B1", pages(200)));

        char dirTemplate[] = "/tmp/qvbenchopsXXXXXX";
        const std::string dir = mkdtemp(dirTemplate);
        const wxString oldCwd = wxGetCwd();
        wxSetWorkingDirectory(dir);

        Pace steady, flapping;
        if (!memoryOnly) {
            // (a) steady 600 a minute.
            epo.setThrottle(Advertising("idle", 600));
            opsPacer::Instance().Reset();
            fake.clearRequests();
            if (!RunJobs(three, 1))
                ++failures;
            steady = Measure(fake, epo);

            // (b) idle 600 and busy 300 in turn. The fake's count of the minute starts afresh.
            wxThread::Sleep(61000);
            epo.setThrottleCycle({Advertising("idle", 600), Advertising("busy", 300)});
            opsPacer::Instance().Reset();
            fake.clearRequests();
            if (!RunJobs(three, 10))
                ++failures;
            flapping = Measure(fake, epo);
        }

        // Peak memory: pacing out of the way (a generous allowance), request records dropped.
        epo.setThrottleCycle({});
        epo.setThrottle(Advertising("idle", 100000));
        opsPacer::Instance().Reset();
        fake.clearRequests();
        // One document of each size first, so that neither pays for the first use of TLS,
        // the token and the writer's buffers; then each measured from the same base.
        if (!RunJobs({"EP1000020"}, 18, &fake) || !RunJobs({"EP1000200"}, 19, &fake))
            ++failures;
        const long baseKb = StatusKb("VmRSS:");
        long peak20 = 0, peak200 = 0;
        for (int round = 0; round < 2; ++round) {
            const bool twentyFirst = round == 1 || !memoryOnly;
            for (int n = 0; n < 2; ++n) {
                const bool twenty = (n == 0) == twentyFirst;
                ResetPeak();
                if (!RunJobs({twenty ? "EP1000020" : "EP1000200"}, 20 + 2 * round + n, &fake))
                    ++failures;
                long& peak = twenty ? peak20 : peak200;
                peak = std::max(peak, StatusKb("VmHWM:") - baseKb);
            }
        }

        std::printf("page image: %zu bytes (A4 as served); 3 jobs of 40 pages at once\n",
                    images[0].size());
        std::printf("(a) images=green:600:        %6.1f pages/min (%5.1f %% of 600, goal >= 90 "
                    "%%), %zu pages, %zu answers 403 (goal 0)\n",
                    steady.pagesPerMinute, steady.pagesPerMinute / 6.0, steady.pages,
                    steady.rejected);
        std::printf("(b) idle 600 / busy 300:     %6.1f pages/min (%5.1f %% of 300, goal >= 90 "
                    "%%), %zu pages, %zu answers 403 (goal 0)\n",
                    flapping.pagesPerMinute, flapping.pagesPerMinute / 3.0, flapping.pages,
                    flapping.rejected);
        std::printf("peak resident growth while downloading: 20 pages %ld kB, 200 pages %ld kB\n",
                    peak20, peak200);

        SetJobEventTarget(nullptr);
        wxSetWorkingDirectory(oldCwd);
        wxRmdir(dir);
    }
    qvNetCleanup();
    return failures == 0 ? 0 : 1;
}

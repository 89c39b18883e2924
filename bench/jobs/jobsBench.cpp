// Runs USPTO jobs against the fake remote services with 5 ms added to every answer.
//  (a) one 200-page document as one job, against the floor: the curl tool fetching the same
//      page list and 200 pages over one keep-alive connection (goal: at most 1.10 x floor);
//  (b) three 200-page documents as three jobs at once, against (a) (goal: at most 1.3 x);
//  peak memory: the growth of the process's peak resident size during a 50-, a 200- and a
//      1000-page job (goal: independent of the page count).
//
//   qv_bench_jobs [rounds]     (default 3; medians are reported)
#include "fakeService.h"
#include "fixtures.h"
#include "netInit.h"
#include "uspto.h"
#include "ziv2ize.h"

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
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const int kPages = 200;

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

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Peak resident size in kB since the last reset.
long PeakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}
long CurrentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Runs one job per docid at once, in the current folder; milliseconds until all ended, or -1
// when one did not finish.
// With fake given, its request records are dropped as the jobs go, so that only the jobs'
// memory grows with the page count.
double RunJobs(const std::vector<std::string>& docids, int firstId,
               qvfake::FakeService* fake = nullptr) {
    Target target;
    g_target = &target;
    std::vector<uspto*> jobs;
    const auto start = Clock::now();
    for (size_t i = 0; i < docids.size(); ++i) {
        uspto* job = new uspto(firstId + static_cast<int>(i), docids[i]);
        job->Create();
        job->Run();
        jobs.push_back(job);
    }
    while (target.ended.size() < docids.size()) {
        wxThread::Sleep(1);
        if (fake)
            fake->clearRequests();
        target.Pump();
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    bool ok = true;
    for (size_t i = 0; i < jobs.size(); ++i) {
        jobs[i]->Wait();
        delete jobs[i];
        target.Pump();
        ok = ok && target.last[firstId + static_cast<int>(i)] == "Finished!";
    }
    for (const std::string& d : docids)
        wxRemoveFile(d + ".pdf");
    g_target = nullptr;
    return ok ? ms : -1;
}

// The curl tool on the page list and every page of docid, one process, one connection.
double CurlFloor(const qvfake::FakeService& fake, const std::string& docid,
                 const std::string& dir) {
    const std::string config = dir + "/curl.cfg";
    {
        std::ofstream cfg(config);
        const std::string host = "http://" + qvfake::FakeService::usptoHost(docid);
        cfg << "url = \"" << host << "/.piw?Docid=" << docid << "&idkey=NONE\"\n"
            << "output = \"/dev/null\"\n";
        for (int page = 1; page <= kPages; ++page)
            cfg << "url = \"" << host << fake.usptoPagePath(docid, page) << "\"\n"
                << "output = \"/dev/null\"\n";
    }
    const std::string cmd = "curl -s -f --proxy " + fake.proxyUrl() + " --config '" + config + "'";
    const auto start = Clock::now();
    const int rc = std::system(cmd.c_str());
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return rc == 0 ? ms : -1;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    wxInitializer wx;
    if (!wx.IsOk() || !qvNetInit()) {
        std::fprintf(stderr, "cannot initialise\n");
        return 2;
    }

    {
        qvfake::FakeService fake;
        if (!fake.ok()) {
            std::fprintf(stderr, "the fake service does not run\n");
            return 2;
        }
        setenv("http_proxy", fake.proxyUrl().c_str(), 1);
        unsetenv("no_proxy");
        unsetenv("NO_PROXY");
        fake.setDelay(std::chrono::milliseconds(5));
        SetJobEventTarget(&CurrentTarget);

        // Letter-size Group 4 pages, as the image servers deliver them.
        std::vector<std::string> images;
        for (unsigned seed = 1; seed <= 8; ++seed) {
            qvfix::FixtureOptions o;
            o.width = 2560;
            o.height = 3300;
            o.seed = seed;
            images.push_back(qvfix::makeTiff(o));
        }
        auto pages = [&](int count) {
            std::vector<std::string> out;
            for (int i = 0; i < count; ++i)
                out.push_back(images[static_cast<size_t>(i) % images.size()]);
            return out;
        };
        const std::vector<std::string> docs = {"5100001", "5100002", "5100003"};
        for (const std::string& d : docs)
            fake.addUsptoDocument(d, pages(kPages));
        fake.addUsptoDocument("5100050", pages(50));
        fake.addUsptoDocument("5101000", pages(1000));

        char dirTemplate[] = "/tmp/qvbenchjobsXXXXXX";
        const std::string dir = mkdtemp(dirTemplate);
        const wxString oldCwd = wxGetCwd();
        wxSetWorkingDirectory(dir);

        std::vector<double> floor, one, three;
        for (int r = 0; r < rounds; ++r) {
            floor.push_back(CurlFloor(fake, docs[0], dir));
            one.push_back(RunJobs({docs[0]}, 1));
            three.push_back(RunJobs(docs, 10));
        }
        if (*std::min_element(floor.begin(), floor.end()) < 0 ||
            *std::min_element(one.begin(), one.end()) < 0 ||
            *std::min_element(three.begin(), three.end()) < 0) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }

        fake.clearRequests();
        const long baseKb = CurrentKb();
        ResetPeak();
        RunJobs({"5100050"}, 100, &fake);
        const long peak50 = PeakKb() - baseKb;
        ResetPeak();
        RunJobs({docs[0]}, 101, &fake);
        const long peak200 = PeakKb() - baseKb;
        ResetPeak();
        RunJobs({"5101000"}, 102, &fake);
        const long peak1000 = PeakKb() - baseKb;

        const size_t imageBytes = images[0].size();
        std::printf("page image: %zu bytes, %d pages per document, 5 ms per answer, %d rounds\n",
                    imageBytes, kPages, rounds);
        std::printf("(a) curl floor, page list + %d pages, one connection: %8.1f ms\n", kPages,
                    Median(floor));
        std::printf("(a) one job, %d pages:                              %8.1f ms  (%.3f x "
                    "floor, goal <= 1.10)\n",
                    kPages, Median(one), Median(one) / Median(floor));
        std::printf("(b) three jobs at once, %d pages each:              %8.1f ms  (%.3f x (a), "
                    "goal <= 1.30)\n",
                    kPages, Median(three), Median(three) / Median(one));
        std::printf("peak resident growth while downloading: 50 pages %ld kB, 200 pages %ld kB, "
                    "1000 pages %ld kB\n",
                    peak50, peak200, peak1000);

        SetJobEventTarget(nullptr);
        wxSetWorkingDirectory(oldCwd);
        wxRemoveFile(dir + "/curl.cfg");
        wxRmdir(dir);
    }
    qvNetCleanup();
    return 0;
}

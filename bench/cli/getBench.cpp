// quorvane-get on a list of 100 three-page documents from the fake remote services, with 5 ms
// added to every answer:
//  (a) the floor: the curl tool fetching every page list and page of the list, eight
//      transfers at once (curl --parallel --parallel-max 8), through the fake as proxy;
//  (b) quorvane-get -j 8 on the list (goal: at most 1.2 x the floor);
//  (c) quorvane-get -j 1, one document after another, as a download script would do:
//      the speed-up of (b) over (c);
//  (d) Ctrl-C while 40 transfers stall: from the signal to the program's exit (goal: well
//      under a second).
//
//   qv_bench_get [rounds]     (default 3; medians are reported)
#include "fakeService.h"
#include "fixtures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <csignal>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const int kDocuments = 100;
const int kPages = 3;
const int kParallel = 8;
const int kStalled = 40;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds the shell command took, or -1 when it failed.
double Timed(const std::string& command) {
    const auto start = Clock::now();
    const int rc = std::system(command.c_str());
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return rc == 0 ? ms : -1;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    qvfake::FakeService fake;
    if (!fake.ok()) {
        std::fprintf(stderr, "the fake service does not run\n");
        return 2;
    }
    fake.setDelay(std::chrono::milliseconds(5));

    // Letter-size Group 4 pages, as the image servers deliver them.
    std::vector<std::string> images;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        qvfix::FixtureOptions o;
        o.width = 2560;
        o.height = 3300;
        o.seed = seed;
        images.push_back(qvfix::makeTiff(o));
    }
    std::vector<std::string> docids;
    for (int d = 0; d < kDocuments; ++d) {
        const std::string docid = std::to_string(5200001 + d);
        std::vector<std::string> pages;
        for (int p = 0; p < kPages; ++p)
            pages.push_back(images[static_cast<size_t>(d * kPages + p) % images.size()]);
        fake.addUsptoDocument(docid, pages);
        docids.push_back(docid);
    }

    char dirTemplate[] = "/tmp/qvbenchgetXXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string list = dir + "/refs.txt";
    const std::string config = dir + "/curl.cfg";
    {
        std::ofstream refs(list);
        std::ofstream cfg(config);
        for (const std::string& docid : docids) {
            refs << docid << "\n";
            const std::string host = "http://" + qvfake::FakeService::usptoHost(docid);
            cfg << "url = \"" << host << "/.piw?Docid=" << docid << "&idkey=NONE\"\n"
                << "output = \"/dev/null\"\n";
            for (int page = 1; page <= kPages; ++page)
                cfg << "url = \"" << host << fake.usptoPagePath(docid, page) << "\"\n"
                    << "output = \"/dev/null\"\n";
        }
    }
    // A settings folder of the benchmark's own, so stored settings do not change the run.
    const std::string env = "env -u DISPLAY XDG_CONFIG_HOME='" + dir +
                            "/config' http_proxy=" + fake.proxyUrl() + " no_proxy= NO_PROXY= ";
    auto get = [&](int jobs) {
        const double ms = Timed(env + QV_GET + " --quiet -j " + std::to_string(jobs) + " -o '" +
                                dir + "/pdf' -f '" + list + "' >/dev/null");
        std::system(("rm -rf '" + dir + "/pdf'").c_str());
        return ms;
    };
    // Its parallel progress meter ignores -s; its standard error is dropped.
    const std::string curl = "curl -s -f --proxy " + fake.proxyUrl() +
                             " --parallel --parallel-max " + std::to_string(kParallel) +
                             " --config '" + config + "' 2>/dev/null";

    std::vector<double> floor, eight, one;
    for (int r = 0; r < rounds; ++r) {
        floor.push_back(Timed(curl));
        eight.push_back(get(kParallel));
        one.push_back(get(1));
    }
    // (d): every first page stalls, so all 40 transfers hang until the signal.
    std::vector<double> stop;
    std::string stalled;
    for (int d = 0; d < kStalled; ++d) {
        const std::string docid = std::to_string(5300001 + d);
        fake.addUsptoDocument(docid, {images[0]});
        fake.addRule("", fake.usptoPagePath(docid, 1), qvfake::Fault::Stall, -1);
        stalled += " " + docid;
    }
    for (int r = 0; r < rounds; ++r) {
        fake.clearRequests();
        const std::string command = "exec " + env + QV_GET + " --quiet -j " +
                                    std::to_string(kStalled) + " -o '" + dir + "/stop'" + stalled +
                                    " >/dev/null 2>&1";
        const pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        for (;;) {
            size_t hung = 0;
            for (const qvfake::RecordedRequest& q : fake.requests())
                hung += q.path.find("PageNum=1") != std::string::npos;
            if (hung >= size_t(kStalled) || Clock::now() > deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const auto signalled = Clock::now();
        ::kill(pid, SIGINT);
        int status = 0;
        ::waitpid(pid, &status, 0);
        stop.push_back(
            WIFEXITED(status) && WEXITSTATUS(status) == 130
                ? std::chrono::duration<double, std::milli>(Clock::now() - signalled).count()
                : -1);
        fake.releaseStalls();
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    if (*std::min_element(stop.begin(), stop.end()) < 0)
        std::fprintf(stderr, "(d) a stopped run did not exit with 130\n");
    if (*std::min_element(floor.begin(), floor.end()) < 0 ||
        *std::min_element(eight.begin(), eight.end()) < 0 ||
        *std::min_element(one.begin(), one.end()) < 0) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }

    std::printf("%d documents of %d pages (%zu-byte page images), 5 ms per answer, %d rounds\n",
                kDocuments, kPages, images[0].size(), rounds);
    std::printf("(a) curl floor, %d page lists + %d pages, %d at once: %8.1f ms\n", kDocuments,
                kDocuments * kPages, kParallel, Median(floor));
    std::printf("(b) quorvane-get -j %d:                              %8.1f ms  (%.3f x floor, "
                "goal <= 1.20)\n",
                kParallel, Median(eight), Median(eight) / Median(floor));
    std::printf("(c) quorvane-get -j 1, one after another:            %8.1f ms  ((b) is %.2f x "
                "faster)\n",
                Median(one), Median(one) / Median(eight));
    std::printf("(d) Ctrl-C with %d transfers stalled, signal to exit:  %8.1f ms  (worst %.1f)\n",
                kStalled, Median(stop), *std::max_element(stop.begin(), stop.end()));
    return 0;
}

// Fetches 500 bodies of 50 KB through one httpSession from the fake service over loopback,
// and the same 500 URLs with the curl tool in one process over one keep-alive connection,
// which is the floor. Prints both times and their ratio (goal: at most 1.10).
//
//   qv_bench_net [rounds]     (default 5; the median of the rounds is reported)
#include "fakeService.h"
#include "httpSession.h"
#include "netInit.h"

#include <wx/init.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const int kBodies = 500;
const size_t kBodySize = 50 * 1024;
const char* const kHost = "patimg1.uspto.gov";

using Clock = std::chrono::steady_clock;

std::string pagePath(int i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "/bench/page%03d.tif", i);
    return buf;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds for all bodies through one session; -1 when a body is missing or wrong.
double sessionRun() {
    auto start = Clock::now();
    httpSession session(ConnectionType::Direct, "", "", "", "");
    if (!session.m_ok || !session.Connect(kHost))
        return -1;
    size_t total = 0;
    std::vector<char> buf(kBodySize + 1);
    for (int i = 0; i < kBodies; ++i) {
        std::unique_ptr<wxInputStream> body(session.Request(pagePath(i)));
        if (!body)
            return -1;
        body->Read(buf.data(), buf.size());
        total += body->LastRead();
    }
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return total == kBodies * kBodySize ? ms : -1;
}

double curlRun(const std::string& config) {
    auto start = Clock::now();
    int rc = std::system(("curl -s -S --fail -K " + config).c_str());
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return rc == 0 ? ms : -1;
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    wxInitializer wx;
    if (!wx.IsOk() || !qvNetInit())
        return 1;
    int rc = 0;
    {
        qvfake::FakeService fake;
        if (!fake.ok()) {
            std::fprintf(stderr, "fake service did not start\n");
            return 1;
        }
        for (int i = 0; i < kBodies; ++i) {
            qvfake::Response r;
            r.contentType = "image/tiff";
            r.body.resize(kBodySize);
            for (size_t j = 0; j < kBodySize; ++j)
                r.body[j] = static_cast<char>((j * 7 + i) & 0xff);
            fake.setRoute(kHost, pagePath(i), r);
        }
        setenv("http_proxy", fake.proxyUrl().c_str(), 1);
        unsetenv("no_proxy");

        std::string config = "/tmp/qv-bench-net-" + std::to_string(getpid()) + ".curl";
        {
            std::ofstream out(config);
            out << "proxy = \"" << fake.proxyUrl() << "\"\n";
            for (int i = 0; i < kBodies; ++i)
                out << "url = \"http://" << kHost << pagePath(i) << "\"\noutput = \"/dev/null\"\n";
        }

        sessionRun(); // warm-up of both paths
        curlRun(config);
        std::vector<double> session, tool;
        for (int r = 0; r < rounds; ++r) {
            session.push_back(sessionRun());
            tool.push_back(curlRun(config));
        }
        std::remove(config.c_str());
        if (std::count(session.begin(), session.end(), -1.0) ||
            std::count(tool.begin(), tool.end(), -1.0)) {
            std::fprintf(stderr, "a run failed\n");
            rc = 1;
        } else {
            double s = median(session), c = median(tool);
            std::printf("%d bodies of %zu KB, median of %d rounds\n", kBodies, kBodySize / 1024,
                        rounds);
            std::printf("httpSession: %8.1f ms\n", s);
            std::printf("curl tool:   %8.1f ms (floor)\n", c);
            std::printf("ratio:       %8.2f (goal <= 1.10)\n", s / c);
        }
    }
    qvNetCleanup();
    return rc;
}

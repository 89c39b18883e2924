// quorvane-get against the USPTO Patent Public Search fake with the recorded buckets (searches
// 40, print steps 5, each refilled in 70 s), run faster by a time scale on both sides (the
// fake's refill time and QUORVANE_PPUBS_REFILL_MS for the program), so that the figures
// below are per minute of the service's clock:
//  (a) 100 US numbers of 3 letter-size pages, -j 3 (the default jobs at once): documents per
//      minute against what the print bucket allows (2 print steps a document), and how many
//      429 answers the run provoked (goal: 0);
//  (b) peak memory (maximum resident set) of quorvane-get for one document of 12 pages and one
//      of 300 pages (goal: flat).
//
//   qv_bench_ppubs [scale]     (default 10: 70 s of the service pass in 7 s)
#include "fakeService.h"
#include "fixtures.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const int kDocuments = 100;
const int kPages = 3;

// Runs the shell command in a child; its wall time in ms and the child's peak resident set
// in kB, or false when it failed.
bool Run(const std::string& command, double& ms, long& peakKb) {
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return false;
    ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    peakKb = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> LetterPages(int count, unsigned seed) {
    std::vector<std::string> pages;
    for (int i = 0; i < count; ++i) {
        qvfix::FixtureOptions o;
        o.width = 2560;
        o.height = 3300;
        o.seed = seed + unsigned(i % 8);
        o.bigEndian = true;
        pages.push_back(qvfix::makeTiff(o));
    }
    return pages;
}

} // namespace

int main(int argc, char** argv) {
    const double scale = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10.0;
    const auto refill = std::chrono::milliseconds(static_cast<long long>(70000 / scale));
    qvfake::FakeService fake;
    qvfake::PpubsFake& ppubs = fake.enablePpubs();
    if (!fake.ok() || !ppubs.ok()) {
        std::fprintf(stderr, "the fake service does not run\n");
        return 2;
    }
    ppubs.setSearchBucket({40, refill});
    ppubs.setPrintBucket({5, refill});

    const std::vector<std::string> pages = LetterPages(8, 1);
    std::vector<std::string> numbers;
    for (int d = 0; d < kDocuments; ++d) {
        numbers.push_back(std::to_string(7200001 + d));
        std::vector<std::string> doc;
        for (int p = 0; p < kPages; ++p)
            doc.push_back(pages[size_t(d * kPages + p) % pages.size()]);
        ppubs.addDocument(qvfake::ppubsDocument(numbers.back(), doc));
    }
    // One document of 12 and one of 300 pages, for the peak memory.
    const std::vector<std::string> many = LetterPages(300, 11);
    ppubs.addDocument(qvfake::ppubsDocument(
        "7300012", std::vector<std::string>(many.begin(), many.begin() + 12)));
    ppubs.addDocument(qvfake::ppubsDocument("7300300", many));

    char dirTemplate[] = "/tmp/qvbenchppubsXXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    {
        std::ofstream refs(dir + "/refs.txt");
        for (const std::string& n : numbers)
            refs << n << "\n";
    }
    // Settings of its own, no EPO key: every number goes to the USPTO service.
    const std::string env = "env -u DISPLAY -u QUORVANE_OPS_KEY -u QUORVANE_OPS_SECRET "
                            "XDG_CONFIG_HOME='" +
                            dir + "/config' https_proxy=" + fake.proxyUrl() +
                            " http_proxy=" + fake.proxyUrl() +
                            " no_proxy= NO_PROXY= " + "CURL_CA_BUNDLE='" + ppubs.caBundlePath() +
                            "' QUORVANE_PPUBS_REFILL_MS=" + std::to_string(refill.count()) + " ";
    double listMs = 0;
    long listKb = 0;
    const bool listOk = Run(env + QV_GET + " --quiet -j 3 -o '" + dir + "/list' -f '" + dir +
                                "/refs.txt' >/dev/null",
                            listMs, listKb);
    const int tooMany = ppubs.stats().tooManyRequests;
    const int saves = ppubs.stats().saves;

    double ms12 = 0, ms300 = 0;
    long kb12 = 0, kb300 = 0;
    const bool ok12 =
        Run(env + QV_GET + " --quiet -o '" + dir + "/one' 7300012 >/dev/null", ms12, kb12);
    const bool ok300 =
        Run(env + QV_GET + " --quiet -o '" + dir + "/one' 7300300 >/dev/null", ms300, kb300);
    std::system(("rm -rf '" + dir + "'").c_str());
    if (!listOk || !ok12 || !ok300) {
        std::fprintf(stderr, "a run failed (list %d, 12 pages %d, 300 pages %d)\n", listOk, ok12,
                     ok300);
        return 1;
    }

    // Minutes of the service's clock.
    const double minutes = listMs / 60000.0 * scale;
    const double allowance = 5.0 * 60000.0 / 70000.0 / 2; // print steps a minute, 2 a document
    std::printf("ppubs fake, recorded buckets (search 40, print 5, refilled in 70 s), time x%.0f\n",
                scale);
    std::printf("(a) %d documents of %d pages, -j 3: %.1f s wall, %.1f service minutes\n"
                "    %.2f documents a minute, the print bucket allows %.2f (%.0f %%); "
                "%d PDFs saved, %d x 429 provoked (goal 0)\n",
                kDocuments, kPages, listMs / 1000, minutes, kDocuments / minutes, allowance,
                100.0 * kDocuments / minutes / allowance, saves, tooMany);
    std::printf("(b) peak memory of quorvane-get: 12 pages %ld kB, 300 pages %ld kB (%+.1f %%)\n",
                kb12, kb300, 100.0 * (double(kb300) - kb12) / kb12);
    return tooMany == 0 ? 0 : 1;
}

// Assembles a 200-page PDF from real Group 4 pages (2550 x 3300, ghostscript-rendered
// text) held in memory, and times tiff2pdf (on the pages joined with tiffcp) and img2pdf
// on the same pages in the same run. Prints time per page, the ratios, the file overhead
// per page beyond the image bytes, and the writer's peak memory for 20 and 200 pages.
//
// Usage: qv_bench_document [pages=200] [repeats=5]
#include "fixtures.h"
#include "pdfWriter.h"
#include "tiffReader.h"

#include <wx/init.h>
#include <wx/mstream.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool run(const std::string& cmd) {
    const int st = std::system((cmd + " >/dev/null 2>&1").c_str());
    return st != -1 && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

long fileSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

// Writes a document; `finishing` gets the time the writer's destruction took (table,
// trailer, flush to the disk, rename).
bool writePdf(const std::string& path, const std::vector<std::string>& pages, size_t count,
              double* finishing = nullptr) {
    std::unique_ptr<pdfWriter> w(new pdfWriter(path, int(count)));
    for (size_t i = 0; i < count && w->m_ok; ++i) {
        const std::string& p = pages[i % pages.size()];
        wxMemoryInputStream in(p.data(), p.size());
        if (!w->AddPage(in))
            return false;
    }
    const bool ok = w->m_ok;
    const auto t = Clock::now();
    w.reset();
    if (finishing)
        *finishing = seconds(t);
    return ok;
}

// Child mode: writes dir/job.pdf from dir/page-NNN.tif, holding one page at a time.
int jobMode(const std::string& dir, int count) {
    pdfWriter w(dir + "/job.pdf", count);
    char name[32];
    for (int i = 1; i <= count && w.m_ok; ++i) {
        snprintf(name, sizeof name, "/page-%03d.tif", i);
        const std::string page = qvfix::readWholeFile(dir + name);
        wxMemoryInputStream in(page.data(), page.size());
        if (!w.AddPage(in))
            return 1;
    }
    return w.m_ok ? 0 : 1;
}

// Maximum resident size of a child process running jobMode, in kB; -1 on failure.
long jobPeakKb(const char* self, const std::string& dir, size_t count) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, "--job", dir.c_str(), std::to_string(count).c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

// Best of `repeats` wall times of f().
template <class F> double best(int repeats, F f) {
    double b = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto t = Clock::now();
        if (!f())
            return -1;
        b = std::min(b, seconds(t));
    }
    return b;
}

} // namespace

int main(int argc, char** argv) {
    wxInitializer wx;
    if (argc == 4 && std::string(argv[1]) == "--job")
        return jobMode(argv[2], std::atoi(argv[3]));
    const size_t pageCount = argc > 1 ? size_t(std::atoi(argv[1])) : 200;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    if (pageCount < 20 || repeats < 1) {
        std::fprintf(stderr, "usage: %s [pages>=20] [repeats>=1]\n", argv[0]);
        return 2;
    }
    char tmpl[] = "/tmp/qvbench-XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    const std::string dir = tmpl;

    std::printf("Rendering %zu text pages (2550 x 3300, Group 4) with ghostscript...\n", pageCount);
    auto t = Clock::now();
    const std::vector<std::string> files = qvfix::ghostscriptPages(dir, int(pageCount));
    if (files.size() != pageCount) {
        std::fprintf(stderr, "ghostscript failed\n");
        return 1;
    }
    std::vector<std::string> pages;
    uint64_t imageBytes = 0, fileBytes = 0;
    for (const std::string& f : files) {
        pages.push_back(qvfix::readWholeFile(f));
        fileBytes += pages.back().size();
        wxMemoryInputStream in(pages.back().data(), pages.back().size());
        tiffReader r(in);
        imageBytes += r.StripBytes();
    }
    std::printf("  %.1f s; TIFF files %.1f MB, image data %.1f MB (%.0f bytes per page)\n\n",
                seconds(t), fileBytes / 1e6, imageBytes / 1e6, double(imageBytes) / pageCount);

    // Ours, from memory.
    const std::string ours = dir + "/ours.pdf";
    double finishing = 0, bestFinishing = 1e30;
    const double oursTime = best(repeats, [&] {
        const bool ok = writePdf(ours, pages, pageCount, &finishing);
        bestFinishing = std::min(bestFinishing, finishing);
        return ok;
    });
    if (oursTime < 0 || !run("qpdf --check '" + ours + "'")) {
        std::fprintf(stderr, "pdfWriter failed or its file does not pass qpdf --check\n");
        return 1;
    }
    const long oursSize = fileSize(ours);

    // Peak memory of a job-like run in a fresh process: pages read one at a time from their
    // files (as they arrive from the network), each added and dropped.
    const long peak20 = jobPeakKb(argv[0], dir, 20);
    const long peakAll = jobPeakKb(argv[0], dir, pageCount);
    const std::vector<std::string> twenty(pages.begin(), pages.begin() + 20);
    // Overhead for a short document too, to show it does not depend on the length.
    writePdf(dir + "/twenty.pdf", twenty, 20);
    uint64_t twentyImage = 0;
    for (const std::string& p : twenty) {
        wxMemoryInputStream in(p.data(), p.size());
        twentyImage += tiffReader(in).StripBytes();
    }

    // tiff2pdf on the pages joined by tiffcp (joining not timed), and img2pdf on the files.
    std::string list;
    for (const std::string& f : files)
        list += " '" + f + "'";
    const std::string joined = dir + "/joined.tif";
    if (!run("tiffcp" + list + " '" + joined + "'")) {
        std::fprintf(stderr, "tiffcp failed\n");
        return 1;
    }
    const std::string t2p = dir + "/tiff2pdf.pdf";
    const double tiff2pdfTime =
        best(repeats, [&] { return run("tiff2pdf -o '" + t2p + "' '" + joined + "'"); });
    // The writer flushes its file to the disk before it gives it its name; tiff2pdf does
    // not, so it is also timed followed by the same flush (coreutils sync FILE: fsync).
    const double tiff2pdfSyncTime = best(repeats, [&] {
        return run("tiff2pdf -o '" + t2p + "' '" + joined + "' && sync '" + t2p + "'");
    });
    const std::string i2p = dir + "/img2pdf.pdf";
    const double img2pdfTime =
        best(std::min(repeats, 3), [&] { return run("img2pdf -o '" + i2p + "'" + list); });

    auto perPage = [&](long size) { return (double(size) - double(imageBytes)) / pageCount; };
    std::printf("%zu pages, best of %d runs                 time     per page   overhead/page\n",
                pageCount, repeats);
    std::printf("  pdfWriter (from memory, incl. fsync) %8.1f ms %8.3f ms %9.0f bytes\n",
                oursTime * 1e3, oursTime * 1e3 / pageCount, perPage(oursSize));
    std::printf("    of which finishing (xref, fsync, rename) %6.1f ms (best run)\n",
                bestFinishing * 1e3);
    if (tiff2pdfTime > 0)
        std::printf("  tiff2pdf (joined TIFF)               %8.1f ms %8.3f ms %9.0f bytes\n",
                    tiff2pdfTime * 1e3, tiff2pdfTime * 1e3 / pageCount, perPage(fileSize(t2p)));
    else
        std::printf("  tiff2pdf failed\n");
    if (tiff2pdfSyncTime > 0)
        std::printf("  tiff2pdf + fsync of its file         %8.1f ms %8.3f ms\n",
                    tiff2pdfSyncTime * 1e3, tiff2pdfSyncTime * 1e3 / pageCount);
    if (img2pdfTime > 0)
        std::printf("  img2pdf (page files)                 %8.1f ms %8.3f ms %9.0f bytes\n",
                    img2pdfTime * 1e3, img2pdfTime * 1e3 / pageCount, perPage(fileSize(i2p)));
    else
        std::printf("  img2pdf failed\n");
    std::printf("\nRatios: pdfWriter / tiff2pdf = %.3f (goal <= 1), / (tiff2pdf + fsync) = %.3f, "
                "pdfWriter / img2pdf = %.3f (goal <= 0.2)\n",
                tiff2pdfTime > 0 ? oursTime / tiff2pdfTime : -1.0,
                tiff2pdfSyncTime > 0 ? oursTime / tiff2pdfSyncTime : -1.0,
                img2pdfTime > 0 ? oursTime / img2pdfTime : -1.0);
    if (tiff2pdfTime > 0)
        std::printf("Pages alone (without the finishing flush): about %.3f x tiff2pdf\n",
                    (oursTime - bestFinishing) / tiff2pdfTime);
    std::printf("Overhead per page beyond image bytes: %.0f bytes for %zu pages, %.0f for 20 "
                "(goal <= 700)\n",
                perPage(oursSize), pageCount,
                (double(fileSize(dir + "/twenty.pdf")) - double(twentyImage)) / 20);
    std::printf("Peak memory (maxrss) of a process writing page after page: %ld kB for 20 "
                "pages, %ld kB for %zu pages\n",
                peak20, peakAll, pageCount);

    run("rm -rf '" + dir + "'");
    return 0;
}

// Time and memory of refusing hostile pages: each case runs in a child process, which
// reports its peak resident size before and after the parse. The goal: a small fraction of
// a second each, and memory within a small multiple of the input.
//
// Usage: qv_bench_hostile_pages
#include "fixtures.h"
#include "pdfPageImage.h"
#include "tiffReader.h"

#include <wx/init.h>
#include <wx/mstream.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace {

long maxRssKb() {
    rusage r;
    getrusage(RUSAGE_SELF, &r);
    return r.ru_maxrss;
}

// A one-page PDF whose page carries `extra` as one more entry.
std::string pageWith(const std::string& extra) {
    const std::string objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Extra " + extra + " >>"};
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < 3; ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 4\n0000000000 65535 f \n";
    char entry[32];
    for (size_t o : offsets) {
        snprintf(entry, sizeof entry, "%010zu 00000 n \n", o);
        pdf += entry;
    }
    return pdf + "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) +
           "\n%%EOF\n";
}

// The page with an object stream that inflates to `inflated` bytes of blanks.
std::string objectStreamBomb(size_t inflated) {
    const std::string blanks(inflated, ' ');
    uLongf size = compressBound(uLong(blanks.size()));
    std::string data(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&data[0]), &size,
              reinterpret_cast<const Bytef*>(blanks.data()), uLong(blanks.size()), 9);
    data.resize(size);
    std::string pdf = pageWith("9 0 R");
    pdf.insert(pdf.rfind("\nxref") + 1,
               "9 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Filter /FlateDecode /Length " +
                   std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n");
    return pdf;
}

std::string numbers(size_t count) {
    std::string a = "[";
    for (size_t i = 0; i < count; ++i)
        a += "1 ";
    return a + "]";
}

struct Case {
    const char* name;
    std::function<std::string()> make;
    bool tiff;
};

void runCase(const Case& c) {
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        wxInitializer init;
        const std::string input = c.make();
        const long before = maxRssKb();
        const auto start = std::chrono::steady_clock::now();
        wxString verdict;
        if (c.tiff) {
            wxMemoryInputStream in(input.data(), input.size());
            tiffReader r(in);
            verdict = r.m_ok ? wxString("read") : r.GetError();
        } else {
            CcittImage image;
            wxString error;
            verdict = ExtractCcittImage(input, image, error) == CcittExtraction::Ok
                          ? wxString::Format("image of %zu bytes", image.data.size())
                          : error;
        }
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        const long grown = maxRssKb() - before;
        std::printf("%-44s %9.2f MB %9.2f ms %8ld kB (%.1f x input)  %s\n", c.name,
                    input.size() / 1e6, ms, grown, grown * 1024.0 / double(input.size()),
                    static_cast<const char*>(verdict.utf8_str()));
        fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

} // namespace

int main() {
    const std::string ops =
        qvfix::readWholeFile(qvfix::fixturePath("ops/EP2400812A1-fullimage-p1.tiff"));
    const Case cases[] = {
        {"TIFF: 65535 x the same strip table", [] { return qvfix::repeatedStripTableTiff(); },
         true},
        {"TIFF: the real OPS page", [&ops] { return ops; }, true},
        {"PDF: the real OPS page as a page PDF", [&ops] { return qvfix::makePagePdf(ops); }, false},
        {"PDF: 19000 numbers on the page", [] { return pageWith(numbers(19000)); }, false},
        {"PDF: 8 million numbers on the page", [] { return pageWith(numbers(8000000)); }, false},
        {"PDF: object stream inflating to 200 MB", [] { return objectStreamBomb(200 << 20); },
         false},
        {"PDF: 15 MB of drawing data",
         [&ops] {
             qvfix::PagePdfOptions o;
             o.extraContent = std::string(15 << 20, '\x01');
             return qvfix::makePagePdf(ops, o);
         },
         false},
    };
    std::printf("%-44s %12s %12s %10s\n", "case", "input", "time", "memory");
    for (const Case& c : cases)
        runCase(c);
    return 0;
}

// Any bytes as a page served as PDF: the fax image extraction, then the writer adding what
// it lifted. Either the bytes are refused with a reason and nothing is lifted, or the image
// is usable, and the one-page file made of it holds exactly the lifted stream: reading that
// file back gives the same image, parameters and rotation.
#include "fuzzCheck.h"

#include "pdfPageImage.h"
#include "pdfWriter.h"

#include <ftw.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <iterator>

namespace {

size_t g_pagesPassed = 0;
std::string g_dir;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path);
}

void RemoveDir() {
    nftw(g_dir.c_str(), RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
}

// In memory-backed storage where there is some: the writer flushes every file to the disk.
const std::string& FuzzDir() {
    if (g_dir.empty()) {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        if (const char* tmp = std::getenv("QV_FUZZ_TMP"))
            base = tmp;
        std::string pattern = base + "/qv-fuzz-pagepdf-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            std::fprintf(stderr, "no temporary folder in %s\n", base.c_str());
            std::exit(2);
        }
        g_dir = pattern;
        std::atexit(RemoveDir);
    }
    return g_dir;
}

bool UsableSide(double points) {
    return points >= 3 && points <= 14400;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CcittImage image;
    wxString error;
    const CcittExtraction result = ExtractCcittImage(bytes, image, error);
    if (result != CcittExtraction::Ok) {
        QV_FUZZ_CHECK(!error.empty(), "a refused page has a reason");
        QV_FUZZ_CHECK(image.data.empty() && image.columns == 0 && image.rows == 0,
                      "a refused page lifts nothing");
        return 0;
    }
    QV_FUZZ_CHECK(error.empty(), "a lifted image has no error text");
    QV_FUZZ_CHECK(!image.data.empty() && image.data.size() <= size,
                  "the lifted stream is a piece of the input");
    QV_FUZZ_CHECK(image.columns > 0 && image.rows > 0, "the lifted image has a size");
    QV_FUZZ_CHECK(image.rotate == 0 || image.rotate == 90 || image.rotate == 180 ||
                      image.rotate == 270,
                  "the rotation is a quarter turn");

    const std::string path = FuzzDir() + "/page.pdf";
    {
        pdfWriter writer(wxString::FromUTF8(path.c_str()), 1);
        QV_FUZZ_CHECK(writer.m_ok, "the writer opens its file");
        QV_FUZZ_CHECK(writer.AddCcittPage(image), "a lifted image is always a page");
        QV_FUZZ_CHECK(writer.Close(), "the page's file is finished");
    }
    std::ifstream in(path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    CcittImage again;
    QV_FUZZ_CHECK(ExtractCcittImage(written, again, error) == CcittExtraction::Ok,
                  "the page written is read back");
    QV_FUZZ_CHECK(again.data == image.data, "the stream is written unchanged");
    QV_FUZZ_CHECK(again.k == image.k && again.columns == image.columns &&
                      again.rows == image.rows && again.blackIs1 == image.blackIs1 &&
                      again.encodedByteAlign == image.encodedByteAlign &&
                      again.endOfLine == image.endOfLine && again.endOfBlock == image.endOfBlock,
                  "the decode parameters are written unchanged");
    QV_FUZZ_CHECK(again.rotate == image.rotate, "the rotation is kept");
    if (UsableSide(image.pageWidth) && UsableSide(image.pageHeight))
        QV_FUZZ_CHECK(std::fabs(again.pageWidth - image.pageWidth) <= 0.5 &&
                          std::fabs(again.pageHeight - image.pageHeight) <= 0.5,
                      "the page keeps its size");
    if (qvFuzzReplay)
        QV_FUZZ_CHECK(std::system(("qpdf --check '" + path + "' >/dev/null").c_str()) == 0,
                      "qpdf --check passes");
    ++g_pagesPassed;
    ::remove(path.c_str());
    return 0;
}

int QvFuzzReplayFinished() {
    std::printf("%zu pages passed\n", g_pagesPassed);
    // Without a page that passes, the checks of written pages above never ran.
    return g_pagesPassed > 0 ? 0 : 1;
}

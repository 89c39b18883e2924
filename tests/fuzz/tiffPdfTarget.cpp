// Any bytes as a page: the TIFF page reader and the PDF writer together, as a job adds a page.
// Either the page is refused with a reason and no file is left, or the finished file is a
// well-formed one-page PDF whose image stream is exactly the page's strip.
#include "fuzzCheck.h"

#include "pdfWriter.h"
#include "tiffReader.h"

#include <wx/mstream.h>

#include <dirent.h>
#include <ftw.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
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
        std::string pattern = base + "/qv-fuzz-pdf-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            std::fprintf(stderr, "no temporary folder in %s\n", base.c_str());
            std::exit(2);
        }
        g_dir = pattern;
        std::atexit(RemoveDir);
    }
    return g_dir;
}

// Names of the entries of dir (without "." and "..").
std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                out.push_back(e->d_name);
        closedir(d);
    }
    return out;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What the page must look like in the PDF, taken from the reader's view of the TIFF.
struct Expected {
    uint32_t width = 0;
    uint32_t height = 0;
    // A big-endian page with a resolution in inches or centimetres and a page of a size
    // readers take is sized by it; every other page fits the letter page.
    bool byResolution = false;
    unsigned long long pageWidth = 0, pageHeight = 0;
    std::string strip; // the image stream's bytes, most significant bit first
};

bool Number(const std::string& pdf, size_t& at, unsigned long long& value) {
    const size_t start = at;
    value = 0;
    while (at < pdf.size() && pdf[at] >= '0' && pdf[at] <= '9' && at - start < 19)
        value = value * 10 + static_cast<unsigned>(pdf[at++] - '0');
    return at > start;
}

bool Literal(const std::string& pdf, size_t& at, const char* text) {
    const size_t len = std::strlen(text);
    if (pdf.compare(at, len, text) != 0)
        return false;
    at += len;
    return true;
}

// The structure of a finished one-page file, checked without any outside tool. Returns
// what is wrong, or an empty text.
std::string CheckStructure(const std::string& pdf, const Expected& e) {
    static const char head[] = "%PDF-1.1 \r\n%\xE2\xE3\xCF\xD3\r\n";
    if (pdf.compare(0, sizeof head - 1, head) != 0)
        return "header";
    const size_t tail = pdf.rfind("startxref\r\n");
    if (tail == std::string::npos)
        return "no startxref";
    size_t at = tail + 11;
    unsigned long long xref = 0;
    if (!Number(pdf, at, xref) || !Literal(pdf, at, "\r\n%%EOF") || at != pdf.size())
        return "end of file";
    if (xref >= tail)
        return "startxref beyond the table";
    at = static_cast<size_t>(xref);
    if (!Literal(pdf, at, "xref\r\n0 8\r\n0000000000 65535 f\r\n"))
        return "xref head";
    unsigned long long offsets[8] = {0};
    for (int n = 1; n <= 7; ++n) {
        const size_t entry = at;
        if (!Number(pdf, at, offsets[n]) || at - entry != 10 || !Literal(pdf, at, " 00000 n\r\n"))
            return "xref entry " + std::to_string(n);
        size_t obj = static_cast<size_t>(offsets[n]);
        if (offsets[n] >= xref || !Literal(pdf, obj, (std::to_string(n) + " 0 obj\r\n").c_str()))
            return "object " + std::to_string(n) + " is not where the table says";
    }
    if (!Literal(pdf, at, "trailer\r\n<< \r\n/Size 8\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>\r\n") ||
        at != tail)
        return "trailer";
    for (int n = 1; n < 7; ++n)
        if (offsets[n] >= offsets[n + 1])
            return "objects out of order";

    // Page tree and page.
    const std::string tree = pdf.substr(offsets[3], offsets[4] - offsets[3]);
    if (tree.find("/Kids [ 4 0 R]\r\n/Count 1\r\n") == std::string::npos)
        return "page tree";
    const std::string page = pdf.substr(offsets[4], offsets[5] - offsets[4]);
    const size_t box = page.find("/MediaBox [0.0000 0.0000 ");
    if (box == std::string::npos)
        return "media box";
    at = box + 25;
    unsigned long long pw = 0, ph = 0;
    if (!Number(page, at, pw) || !Literal(page, at, " ") || !Number(page, at, ph) ||
        !Literal(page, at, "]\r\n"))
        return "media box values";
    if (e.byResolution) {
        if (pw != e.pageWidth || ph != e.pageHeight)
            return "media box is not what the resolution makes";
    } else if (pw < 1 || ph < 1 || pw > 612 || ph > 792 || (pw != 612 && ph != 792)) {
        return "media box outside the letter page";
    }

    // Content stream: its length is the content line's.
    at = static_cast<size_t>(offsets[5]) + 9;
    unsigned long long contentLength = 0;
    if (!Literal(pdf, at, "<< \r\n/Length ") || !Number(pdf, at, contentLength) ||
        !Literal(pdf, at, " \r\n>>\r\nstream\r\n"))
        return "content stream head";
    const std::string content = pdf.substr(at, static_cast<size_t>(contentLength));
    at += static_cast<size_t>(contentLength);
    if (!Literal(pdf, at, "\r\nendstream\r\nendobj\r\n") || at != offsets[6])
        return "content stream length";
    const std::string draw = "q  " + std::to_string(pw) + ".0000 0.0000 0.0000 " +
                             std::to_string(ph) + ".0000 0.0000 0.0000 cm /Im1 Do Q";
    if (content != draw)
        return "content line";

    // Image: size, and a stream holding exactly the strip, as long as object 7 says.
    const std::string image = pdf.substr(offsets[6], offsets[7] - offsets[6]);
    const std::string size = "/Width " + std::to_string(e.width) + "\r\n/Height " +
                             std::to_string(e.height) + "\r\n/BitsPerComponent 1\r\n";
    const std::string decode =
        " /Columns " + std::to_string(e.width) + " /Rows " + std::to_string(e.height);
    if (image.find("/Length 7 0 R\r\n") == std::string::npos ||
        image.find(size) == std::string::npos || image.find(decode) == std::string::npos)
        return "image dictionary";
    const size_t stream = image.find(">>\r\n >>\r\nstream\r\n");
    if (stream == std::string::npos)
        return "image stream head";
    const size_t dataStart = static_cast<size_t>(offsets[6]) + stream + 17;
    at = static_cast<size_t>(offsets[7]);
    unsigned long long length = 0;
    if (!Literal(pdf, at, "7 0 obj\r\n") || !Number(pdf, at, length) ||
        !Literal(pdf, at, "\r\nendobj\r\n") || at != xref)
        return "length object";
    at = dataStart + static_cast<size_t>(length);
    if (!Literal(pdf, at, "\r\nendstream\r\nendobj\r\n") || at != offsets[7])
        return "image stream length";
    if (pdf.compare(dataStart, static_cast<size_t>(length), e.strip) != 0)
        return "image stream is not the strip";
    return std::string();
}

unsigned char Reversed(unsigned char b) {
    unsigned char r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i))
            r |= static_cast<unsigned char>(0x80 >> i);
    return r;
}

bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = FuzzDir();
    const std::string path = dir + "/page.pdf";

    // The reader on its own: a strip table that lies in the data is copied whole.
    Expected expected;
    bool singleStrip = false;
    {
        wxMemoryInputStream in(data, size);
        tiffReader reader(in);
        QV_FUZZ_CHECK(reader.m_ok == reader.m_error.empty(), "a failed reader has a text");
        reader.StartsWithEol();
        if (reader.m_ok && reader.StripsInData() &&
            reader.m_stripOffsets.size() == reader.m_stripByteCounts.size()) {
            wxMemoryOutputStream out;
            reader.WriteStrips(out);
            QV_FUZZ_CHECK(reader.m_ok, "strips inside the data copy");
            QV_FUZZ_CHECK(static_cast<uint64_t>(out.GetLength()) == reader.StripBytes(),
                          "every strip byte copied");
        }
        if (reader.m_ok && reader.m_stripOffsets.size() == 1 &&
            reader.m_stripByteCounts.size() == 1) {
            singleStrip = true;
            expected.width = reader.m_width;
            expected.height = reader.m_height;
            double xDpi = 0, yDpi = 0;
            if (reader.m_bigEndian && reader.DotsPerInch(xDpi, yDpi)) {
                const double w = reader.m_width * 72.0 / xDpi, h = reader.m_height * 72.0 / yDpi;
                expected.byResolution = w >= 3 && w <= 14400 && h >= 3 && h <= 14400;
                expected.pageWidth = static_cast<unsigned long long>(std::llround(w));
                expected.pageHeight = static_cast<unsigned long long>(std::llround(h));
            }
            const uint64_t offset = reader.m_stripOffsets[0];
            const uint64_t count = reader.m_stripByteCounts[0];
            if (offset + count <= size) {
                expected.strip.assign(reinterpret_cast<const char*>(data) + offset,
                                      static_cast<size_t>(count));
                if (reader.m_fillOrder == 2)
                    for (char& c : expected.strip)
                        c = static_cast<char>(Reversed(static_cast<unsigned char>(c)));
            }
        }
    }

    bool added = false;
    {
        pdfWriter writer(wxString::FromUTF8(path.c_str()), 1);
        QV_FUZZ_CHECK(writer.m_ok, "the writer opens its file");
        wxMemoryInputStream in(data, size);
        added = writer.AddPage(in);
        QV_FUZZ_CHECK(added || !writer.m_message.empty(), "a refused page has a reason");
    }
    const std::vector<std::string> left = Entries(dir);
    if (!added) {
        QV_FUZZ_CHECK(left.empty(), "a refused page leaves no file, not even a temporary one");
        return 0;
    }
    QV_FUZZ_CHECK(left.size() == 1 && left[0] == "page.pdf",
                  "a finished page leaves its file under the final name only");
    QV_FUZZ_CHECK(singleStrip, "only a single-strip page is taken");

    const std::string pdf = ReadAll(path);
    const std::string problem = CheckStructure(pdf, expected);
    if (!problem.empty())
        std::fprintf(stderr, "PDF structure: %s\n", problem.c_str());
    QV_FUZZ_CHECK(problem.empty(), "the finished file is a well-formed one-page PDF");

    if (qvFuzzReplay) {
        QV_FUZZ_CHECK(Run("qpdf --check '" + path + "' >/dev/null"), "qpdf --check passes");
        QV_FUZZ_CHECK(Run("pdftoppm -r 9 -mono '" + path + "' '" + dir + "/render' 2>/dev/null"),
                      "poppler renders the page");
        for (const std::string& name : Entries(dir))
            if (name.compare(0, 6, "render") == 0)
                ::remove((dir + "/" + name).c_str());
    }
    ++g_pagesPassed;
    ::remove(path.c_str());
    return 0;
}

int QvFuzzReplayFinished() {
    std::printf("%zu pages passed\n", g_pagesPassed);
    // Without a page that passes, the checks of finished files above never ran.
    return g_pagesPassed > 0 ? 0 : 1;
}

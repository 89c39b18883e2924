#include "pdfCheck.h"

#include "testutil.h"

#include <cstdio>
#include <cstdlib>

namespace pdfcheck {

namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

// The text of object n from "n 0 obj" to its "endobj".
bool objectText(const Pdf& pdf, int n, std::string& text) {
    auto it = pdf.offsets.find(n);
    if (it == pdf.offsets.end())
        return false;
    size_t end = pdf.data.find("endobj", it->second);
    if (end == std::string::npos)
        return false;
    text = pdf.data.substr(it->second, end + 6 - it->second);
    return true;
}

// The bytes between "stream\r\n" and "\r\nendstream" of an object's text.
bool streamData(const std::string& obj, std::string& dict, std::string& data) {
    size_t s = obj.find(">>\r\nstream\r\n");
    size_t e = obj.rfind("\r\nendstream\r\n");
    if (s == std::string::npos || e == std::string::npos || e < s + 12)
        return false;
    dict = obj.substr(0, s + 2);
    data = obj.substr(s + 12, e - (s + 12));
    return true;
}

// The text between `before` and the next `after`, empty when absent.
std::string between(const std::string& text, const std::string& before, const std::string& after) {
    const size_t s = text.find(before);
    if (s == std::string::npos)
        return "";
    const size_t e = text.find(after, s + before.size());
    return e == std::string::npos ? "" : text.substr(s + before.size(), e - s - before.size());
}

bool isXrefEntry(const std::string& e) {
    if (e.size() != 20 || e.compare(10, 10, " 00000 n\r\n") != 0)
        return false;
    for (int i = 0; i < 10; ++i)
        if (!isdigit(static_cast<unsigned char>(e[size_t(i)])))
            return false;
    return true;
}

} // namespace

AssertionResult ReadPdf(const std::string& path, int pages, Pdf& pdf) {
    pdf = Pdf();
    pdf.data = qvtest::readFile(path);
    const std::string& d = pdf.data;
    if (d.compare(0, 11, "%PDF-1.1 \r\n") != 0 ||
        d.compare(11, 7, std::string("%\xE2\xE3\xCF\xD3\r\n")) != 0)
        return AssertionFailure() << "header is wrong";
    if (d.size() < 5 || d.compare(d.size() - 5, 5, "%%EOF") != 0)
        return AssertionFailure() << "%%EOF is not the last thing in the file";

    const size_t sx = d.rfind("startxref\r\n");
    if (sx == std::string::npos)
        return AssertionFailure() << "no startxref";
    const size_t xref = size_t(std::strtoull(d.c_str() + sx + 11, nullptr, 10));
    if (d.compare(sx + 11, d.size() - 5 - sx - 11, std::to_string(xref) + "\r\n") != 0)
        return AssertionFailure() << "startxref is not followed by its offset and %%EOF";
    const int objects = 3 + 4 * pages;
    const std::string head = "xref\r\n0 " + std::to_string(objects + 1) + "\r\n";
    if (d.compare(xref, head.size(), head) != 0)
        return AssertionFailure() << "startxref does not point at \"" << head << "\"";
    size_t pos = xref + head.size();
    if (d.compare(pos, 20, "0000000000 65535 f\r\n") != 0)
        return AssertionFailure() << "first xref entry is not the free entry";
    for (int n = 1; n <= objects; ++n) {
        const std::string e = d.substr(pos + 20 * size_t(n), 20);
        if (!isXrefEntry(e))
            return AssertionFailure() << "xref entry " << n << " is not 20 bytes of form: " << e;
        const size_t off = size_t(std::strtoull(e.c_str(), nullptr, 10));
        const std::string expect = std::to_string(n) + " 0 obj\r\n";
        if (d.compare(off, expect.size(), expect) != 0)
            return AssertionFailure() << "xref entry " << n << " does not point at its object";
        pdf.offsets[n] = off;
    }
    const std::string trailer = d.substr(pos + 20 * size_t(objects + 1));
    const std::string expectTrailer = "trailer\r\n<< \r\n/Size " + std::to_string(objects + 1) +
                                      "\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>\r\nstartxref\r\n";
    if (trailer.compare(0, expectTrailer.size(), expectTrailer) != 0)
        return AssertionFailure() << "trailer is wrong: " << trailer;

    std::string obj;
    if (!objectText(pdf, 1, obj) ||
        obj != "1 0 obj\r\n<< \r\n/Type /Catalog\r\n/Pages 3 0 R\r\n>>\r\nendobj")
        return AssertionFailure() << "catalog is wrong: " << obj;
    if (!objectText(pdf, 2, obj) || obj.find("/Producer (Quorvane)\r\n") == std::string::npos)
        return AssertionFailure() << "document information is wrong: " << obj;
    pdf.title = between(obj, "/Title ", "\r\n>>");
    std::string kids;
    for (int k = 1; k <= pages; ++k)
        kids += " " + std::to_string(4 * k) + " 0 R";
    if (!objectText(pdf, 3, obj) || obj != "3 0 obj\r\n<< \r\n/Type /Pages\r\n/Kids [" + kids +
                                               "]\r\n/Count " + std::to_string(pages) +
                                               "\r\n>>\r\nendobj")
        return AssertionFailure() << "page tree is wrong: " << obj;

    for (int k = 1; k <= pages; ++k) {
        Page page;
        const int p = 4 * k;
        const std::string im = "Im" + std::to_string(k);
        if (!objectText(pdf, p, obj))
            return AssertionFailure() << "no page object " << p;
        page.mediaBox = between(obj, "/MediaBox [", "]\r\n");
        page.rotate = between(obj, "]\r\n/Rotate ", "\r\n");
        const std::string expectPage =
            std::to_string(p) + " 0 obj\r\n<< \r\n/Type /Page\r\n/Parent 3 0 R \r\n/MediaBox [" +
            page.mediaBox + "]\r\n" +
            (page.rotate.empty() ? "" : "/Rotate " + page.rotate + "\r\n") + "/Contents " +
            std::to_string(p + 1) + " 0 R \r\n/Resources << \r\n/XObject << \r\n/" + im + " " +
            std::to_string(p + 2) + " 0 R >>\r\n/ProcSet [ /ImageB ]\r\n>>\r\n>>\r\nendobj";
        if (obj != expectPage)
            return AssertionFailure() << "page object " << p << " is wrong: " << obj;

        std::string dict;
        if (!objectText(pdf, p + 1, obj) || !streamData(obj, dict, page.content))
            return AssertionFailure() << "no content stream " << p + 1;
        if (dict != std::to_string(p + 1) + " 0 obj\r\n<< \r\n/Length " +
                        std::to_string(page.content.size()) + " \r\n>>")
            return AssertionFailure() << "content /Length is not the content's length: " << obj;
        unsigned pw = 0, ph = 0;
        char tail = 0;
        if (sscanf(page.mediaBox.c_str(), "0.0000 0.0000 %u %u%c", &pw, &ph, &tail) != 2 ||
            page.content != "q  " + std::to_string(pw) + ".0000 0.0000 0.0000 " +
                                std::to_string(ph) + ".0000 0.0000 0.0000 cm /" + im + " Do Q")
            return AssertionFailure() << "content does not draw " << im << " over the page";

        if (!objectText(pdf, p + 2, obj) || !streamData(obj, page.imageDict, page.imageData))
            return AssertionFailure() << "no image object " << p + 2;
        page.imageName = between(page.imageDict, "/Name /", "\r\n");
        if (page.imageName != im ||
            page.imageDict.find("/Length " + std::to_string(p + 3) + " 0 R\r\n") ==
                std::string::npos ||
            page.imageDict.find("/BitsPerComponent 1\r\n/ColorSpace /DeviceGray\r\n") ==
                std::string::npos)
            return AssertionFailure() << "image dictionary is wrong: " << page.imageDict;

        if (!objectText(pdf, p + 3, obj) || obj != std::to_string(p + 3) + " 0 obj\r\n" +
                                                       std::to_string(page.imageData.size()) +
                                                       "\r\nendobj")
            return AssertionFailure() << "length object " << p + 3
                                      << " does not state the image data's length: " << obj;
        pdf.pages.push_back(page);
    }
    return AssertionSuccess();
}

AssertionResult QpdfClean(const std::string& path) {
    std::string out;
    const int rc = qvtest::runCommand("qpdf --check '" + path + "' 2>&1", &out);
    if (rc != 0 || out.find("WARNING") != std::string::npos ||
        out.find("No syntax or stream encoding errors found") == std::string::npos)
        return AssertionFailure() << "qpdf --check exit " << rc << ":\n" << out;
    return AssertionSuccess();
}

AssertionResult RendersLike(const std::string& pdfPath, int page, const std::string& tiff,
                            bool alsoGhostscript) {
    qvfix::Bitmap expected;
    std::string error;
    if (!qvfix::decodeTiff(tiff, expected, &error))
        return AssertionFailure() << error;
    if (expected.BlackPixels() == 0)
        return AssertionFailure() << "the fixture has no black pixel to compare";
    for (int renderer = 0; renderer < (alsoGhostscript ? 2 : 1); ++renderer) {
        const char* name = renderer == 0 ? "pdftoppm" : "ghostscript";
        qvfix::Bitmap rendered;
        const bool ok =
            renderer == 0
                ? qvfix::renderPdfPage(pdfPath, page, expected.width, expected.height, rendered)
                : qvfix::renderPdfPageGs(pdfPath, page, expected.width, expected.height, rendered);
        if (!ok)
            return AssertionFailure() << name << " failed on page " << page;
        const size_t diff = expected.Differences(rendered);
        if (diff != 0) {
            const std::string base = pdfPath + "." + std::to_string(page) + "." + name;
            qvtest::writeFile(base + ".expected.pbm", qvfix::toPbm(expected));
            qvtest::writeFile(base + ".rendered.pbm", qvfix::toPbm(rendered));
            return AssertionFailure()
                   << name << ", page " << page << ": " << diff << " of " << expected.black.size()
                   << " pixels differ (black in TIFF " << expected.BlackPixels() << ", rendered "
                   << rendered.BlackPixels() << ")";
        }
    }
    return AssertionSuccess();
}

} // namespace pdfcheck

// Pages served as one-page PDFs: the fax image lifted out unchanged, and the pages the
// writer makes of it, checked by qpdf and by what poppler renders.
#include "fixtures.h"
#include "pdfCheck.h"
#include "pdfPageImage.h"
#include "pdfWriter.h"
#include "testutil.h"
#include "writerTestUtil.h"

#include <gtest/gtest.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include <csignal>
#include <sys/resource.h>
#include <zlib.h>

namespace {

using writertest::FileSizeLimit;

using pdfcheck::Pdf;

const char* const kOpsPage = "ops/EP2400812A1-drawing-p1.tiff";

qvfix::Bitmap decoded(const std::string& tiff) {
    qvfix::Bitmap b;
    EXPECT_TRUE(qvfix::decodeTiff(tiff, b));
    return b;
}

// The picture as a reader shows a page of /Rotate 90: turned a quarter clockwise.
qvfix::Bitmap turnedClockwise(const qvfix::Bitmap& b) {
    qvfix::Bitmap t;
    t.width = b.height;
    t.height = b.width;
    t.black.assign(b.black.size(), 0);
    for (uint32_t y = 0; y < t.height; ++y)
        for (uint32_t x = 0; x < t.width; ++x)
            t.black[size_t(y) * t.width + x] = b.black[size_t(b.height - 1 - x) * b.width + y];
    return t;
}

qvfix::Bitmap inverted(qvfix::Bitmap b) {
    for (uint8_t& v : b.black)
        v = uint8_t(1 - v);
    return b;
}

// Renders a page whose points are its pixels (72 dpi) as it is shown, rotation included.
bool renderAt72(const std::string& pdf, int page, qvfix::Bitmap& out) {
    const std::string prefix = pdf + ".r" + std::to_string(page);
    const std::string p = std::to_string(page);
    if (qvtest::runCommand("pdftoppm -gray -aa no -aaVector no -singlefile -r 71.99993 -f " + p +
                           " -l " + p + " '" + pdf + "' '" + prefix + "' 2>&1") != 0)
        return false;
    return qvfix::readPnm(prefix + ".pgm", out);
}

bool addPdfPage(pdfWriter& w, const std::string& pdf) {
    wxMemoryInputStream in(pdf.data(), pdf.size());
    return w.AddPdfPage(in);
}

// An object 9 of the given type whose stream holds `inside`, compressed with zlib.
std::string compressedObjects(const std::string& type, const std::string& filter,
                              const std::string& inside) {
    uLongf size = compressBound(uLong(inside.size()));
    std::string data(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&data[0]), &size,
                  reinterpret_cast<const Bytef*>(inside.data()), uLong(inside.size()), 9) != Z_OK)
        return {};
    data.resize(size);
    return "9 0 obj\n<< /Type " + type + " /N 1 /First 4 /Filter " + filter + " /Length " +
           std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
}

} // namespace

TEST(PagePdf, LiftsTheFaxImageUnchangedWithItsParameters) {
    const std::string small = qvfix::makeTiff();
    const std::string ops = qvfix::readWholeFile(qvfix::fixturePath(kOpsPage));
    struct Case {
        const char* what;
        const std::string& tiff;
        qvfix::PagePdfOptions options;
        int rotate;
    };
    qvfix::PagePdfOptions plain, turned, back, black, letter;
    turned.rotate = 90;
    back.rotate = -90;
    black.blackIs1 = true;
    letter.pageWidth = 612;
    letter.pageHeight = 792;
    const Case cases[] = {
        {"plain", small, plain, 0},        {"rotate 90", small, turned, 90},
        {"rotate -90", small, back, 270},  {"BlackIs1", small, black, 0},
        {"real OPS strip", ops, plain, 0}, {"letter page", small, letter, 0},
    };
    for (const Case& c : cases) {
        const std::string pdf = qvfix::makePagePdf(c.tiff, c.options);
        ASSERT_FALSE(pdf.empty()) << c.what;
        CcittImage image;
        wxString error;
        ASSERT_EQ(ExtractCcittImage(pdf, image, error), CcittExtraction::Ok) << c.what << error;
        EXPECT_TRUE(error.empty());
        EXPECT_TRUE(image.data == qvfix::rawStrip(c.tiff)) << c.what;
        const qvfix::Bitmap b = decoded(c.tiff);
        EXPECT_EQ(image.columns, b.width) << c.what;
        EXPECT_EQ(image.rows, b.height) << c.what;
        EXPECT_EQ(image.k, -1) << c.what;
        EXPECT_EQ(image.rotate, c.rotate) << c.what;
        EXPECT_EQ(image.blackIs1, c.options.blackIs1) << c.what;
        EXPECT_FALSE(image.encodedByteAlign);
        EXPECT_TRUE(image.endOfBlock);
        EXPECT_NEAR(image.pageWidth, c.options.pageWidth, 0.01) << c.what;
        EXPECT_NEAR(image.pageHeight, c.options.pageHeight, 0.01) << c.what;
    }
}

// Objects and the cross-reference table in compressed streams, as qpdf writes them: read
// once their inflated size and contents are counted.
TEST(PagePdf, ReadsPagesWithCompressedObjects) {
    qvtest::TempDir dir("qvpagepdf");
    const std::string tiff = qvfix::readWholeFile(qvfix::fixturePath(kOpsPage));
    qvfix::PagePdfOptions turned;
    turned.rotate = 90;
    ASSERT_TRUE(qvtest::writeFile(dir.file("plain.pdf"), qvfix::makePagePdf(tiff, turned)));
    ASSERT_EQ(qvtest::runCommand("qpdf --object-streams=generate '" + dir.file("plain.pdf") +
                                 "' '" + dir.file("packed.pdf") + "'"),
              0);
    const std::string packed = qvtest::readFile(dir.file("packed.pdf"));
    ASSERT_NE(packed.find("/ObjStm"), std::string::npos);
    ASSERT_NE(packed.find("/XRef"), std::string::npos);
    CcittImage image;
    wxString error;
    ASSERT_EQ(ExtractCcittImage(packed, image, error), CcittExtraction::Ok) << error;
    EXPECT_TRUE(image.data == qvfix::rawStrip(tiff));
    EXPECT_EQ(image.rotate, 90);
    EXPECT_EQ(image.columns, 2592u);
}

TEST(PagePdf, PagesFromPdfsRenderLikeTheirSource) {
    qvtest::TempDir dir("qvpagepdf");
    const std::string ops = qvfix::readWholeFile(qvfix::fixturePath(kOpsPage));
    const std::string small = qvfix::makeTiff();
    qvfix::PagePdfOptions turned, black;
    // Points as pixels, so that the turned page renders one to one at 72 dpi.
    turned.rotate = 90;
    turned.pageWidth = 306;
    turned.pageHeight = 200;
    black.blackIs1 = true;
    const std::string path = dir.file("EP2400812A1.pdf");
    {
        pdfWriter w(path, 4);
        ASSERT_TRUE(addPdfPage(w, qvfix::makePagePdf(ops))) << w.m_message;
        ASSERT_TRUE(addPdfPage(w, qvfix::makePagePdf(small, turned))) << w.m_message;
        ASSERT_TRUE(addPdfPage(w, qvfix::makePagePdf(small, black))) << w.m_message;
        wxMemoryInputStream in(ops.data(), ops.size());
        ASSERT_TRUE(w.AddPage(in)); // a TIFF page among them
    }
    Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, 4, pdf));
    EXPECT_TRUE(pdfcheck::QpdfClean(path));
    EXPECT_EQ(pdf.pages[0].mediaBox, "0.0000 0.0000 595 842");
    EXPECT_EQ(pdf.pages[0].rotate, "");
    EXPECT_EQ(pdf.pages[1].mediaBox, "0.0000 0.0000 306 200");
    EXPECT_EQ(pdf.pages[1].rotate, "90");
    EXPECT_NE(pdf.pages[2].imageDict.find("<< /K -1 /Columns 306 /Rows 200 /BlackIs1 true >>"),
              std::string::npos)
        << pdf.pages[2].imageDict;
    // The image from the PDF and the TIFF's strip are the same stream.
    EXPECT_TRUE(pdf.pages[0].imageData == pdf.pages[3].imageData);
    EXPECT_EQ(pdf.pages[0].imageDict.substr(pdf.pages[0].imageDict.find("/Width")),
              pdf.pages[3].imageDict.substr(pdf.pages[3].imageDict.find("/Width")));

    EXPECT_TRUE(pdfcheck::RendersLike(path, 1, ops, true));
    qvfix::Bitmap shown;
    ASSERT_TRUE(renderAt72(path, 2, shown));
    EXPECT_EQ(shown.width, 200u);
    EXPECT_EQ(turnedClockwise(decoded(small)).Differences(shown), 0u);
    qvfix::Bitmap page3;
    ASSERT_TRUE(qvfix::renderPdfPage(path, 3, 306, 200, page3));
    EXPECT_EQ(inverted(decoded(small)).Differences(page3), 0u);
}

TEST(PagePdf, RefusesWhatIsNotOneFaxImageOnOnePage) {
    const std::string tiff = qvfix::makeTiff();
    const std::string good = qvfix::makePagePdf(tiff);
    auto with = [&tiff](void (*change)(qvfix::PagePdfOptions&)) {
        qvfix::PagePdfOptions o;
        change(o);
        return qvfix::makePagePdf(tiff, o);
    };
    // An object put in before the cross-reference table (which then points wrong, but the
    // file is refused before qpdf reads it).
    auto insert = [&good](const std::string& object) {
        std::string pdf = good;
        pdf.insert(pdf.rfind("\nxref") + 1, object);
        return pdf;
    };
    std::string many = "9 0 obj\n[";
    for (int i = 0; i < 25000; ++i)
        many += "1 ";
    many += "]\nendobj\n";
    std::string badLength = good;
    badLength.replace(badLength.rfind("/Length "), 9, "/Length 9");
    struct Case {
        const char* what;
        std::string pdf;
        CcittExtraction result;
        const char* text; // the start of the reason
    };
    const Case cases[] = {
        {"empty", "", CcittExtraction::Unreadable, "Page PDF cannot be read"},
        {"an error page", "<html>Service unavailable</html>", CcittExtraction::Unreadable,
         "Page PDF cannot be read"},
        {"cut off", good.substr(0, good.size() / 2), CcittExtraction::Unreadable,
         "Page PDF cannot be read"},
        {"wrong stream length", badLength, CcittExtraction::Unreadable, "Page PDF is damaged"},
        {"two images", with([](qvfix::PagePdfOptions& o) { o.images = 2; }),
         CcittExtraction::Unsuitable, "Page PDF holds 2 objects to draw"},
        {"no image", with([](qvfix::PagePdfOptions& o) { o.images = 0; }),
         CcittExtraction::Unsuitable, "Page PDF holds 0 objects to draw"},
        {"two pages", with([](qvfix::PagePdfOptions& o) { o.pages = 2; }),
         CcittExtraction::Unsuitable, "Page PDF has 2 pages, not one"},
        {"JPEG image", with([](qvfix::PagePdfOptions& o) { o.filter = "/DCTDecode"; }),
         CcittExtraction::Unsuitable, "Page PDF image is not CCITT fax coded"},
        {"inline image", with([](qvfix::PagePdfOptions& o) {
             o.extraContent = "q BI /W 8 /H 1 /BPC 1 /IM true ID \xAA EI Q\n";
         }),
         CcittExtraction::Unsuitable, "Page PDF draws an image of its own"},
        {"more drawing than a page of one image",
         with([](qvfix::PagePdfOptions& o) { o.extraContent = std::string(70000, ' '); }),
         CcittExtraction::Unsuitable, "Page PDF: the page draws more than its image"},
        {"an object in stream data",
         with([](qvfix::PagePdfOptions& o) { o.extraContent = "9 0 obj [1 1 1] endobj\n"; }),
         CcittExtraction::Unsuitable, "Page PDF hides objects in stream data"},
        {"25000 numbers", insert(many), CcittExtraction::Unsuitable,
         "Page PDF has more structure than a page of one image"},
        {"an object stream inflating past its limit",
         insert(compressedObjects("/ObjStm", "/FlateDecode", std::string(300 << 10, ' '))),
         CcittExtraction::Unsuitable,
         "Page PDF keeps more compressed objects than a page of one image"},
        {"a cross-reference stream, its type name escaped",
         insert(compressedObjects("/X#52ef", "/FlateDecode", std::string(300 << 10, '\0'))),
         CcittExtraction::Unsuitable,
         "Page PDF keeps more compressed objects than a page of one image"},
        {"an object stream of 25000 numbers",
         insert(compressedObjects("/ObjStm", "/FlateDecode", many)), CcittExtraction::Unsuitable,
         "Page PDF has more structure than a page of one image"},
        {"an object stream in LZW", insert(compressedObjects("/ObjStm", "/LZWDecode", "1 0")),
         CcittExtraction::Unsuitable, "Page PDF compresses its objects in a way not taken"},
        {"over the size ceiling", good + std::string(kMaxPagePdfBytes, ' '),
         CcittExtraction::Unsuitable, "Page PDF is larger than 16 MB"},
    };
    for (const Case& c : cases) {
        CcittImage image;
        image.columns = 7; // must be cleared
        wxString error;
        EXPECT_EQ(ExtractCcittImage(c.pdf, image, error), c.result) << c.what << ": " << error;
        EXPECT_EQ(error.rfind(c.text, 0), 0u) << c.what << ": " << error;
        EXPECT_EQ(image.columns, 0u) << c.what;
        EXPECT_TRUE(image.data.empty()) << c.what;
    }

    // In the writer: an unreadable answer may be fetched again, an unsuitable page ends the
    // document; neither leaves a file.
    wxLog::EnableLogging(false);
    qvtest::TempDir dir("qvpagepdf");
    for (const Case& c : cases) {
        const std::string path = dir.file("refused.pdf");
        {
            pdfWriter w(path, 2);
            ASSERT_TRUE(addPdfPage(w, good));
            EXPECT_FALSE(addPdfPage(w, c.pdf)) << c.what;
            EXPECT_EQ(w.m_ok, c.result == CcittExtraction::Unreadable) << c.what;
            EXPECT_EQ(w.m_message.rfind(c.text, 0), 0u) << c.what << ": " << w.m_message;
            if (w.m_ok) {
                EXPECT_TRUE(addPdfPage(w, good)) << c.what;
            }
        }
        EXPECT_EQ(qvtest::fileExists(path), c.result == CcittExtraction::Unreadable) << c.what;
        std::remove(path.c_str());
    }
    wxLog::EnableLogging(true);
}

// A page whose image could not all be written is cut off and may be offered again; the
// file is then the same as one written without trouble.
TEST(PagePdf, HalfWrittenPageCanBeOfferedAgain) {
    qvtest::TempDir dir("qvpagepdf");
    const std::string ops = qvfix::readWholeFile(qvfix::fixturePath(kOpsPage));
    CcittImage image;
    wxString error;
    ASSERT_EQ(ExtractCcittImage(qvfix::makePagePdf(ops), image, error), CcittExtraction::Ok);
    ASSERT_GT(image.data.size(), 10000u);
    const std::string ref = dir.file("ref/EP1.pdf"), retried = dir.file("retry/EP1.pdf");
    ASSERT_EQ(qvtest::runCommand("mkdir -p '" + dir.file("ref") + "' '" + dir.file("retry") + "'"),
              0);
    {
        pdfWriter w(ref, 2);
        ASSERT_TRUE(w.AddCcittPage(image));
        ASSERT_TRUE(w.AddCcittPage(image));
    }
    {
        pdfWriter w(retried, 2);
        ASSERT_TRUE(w.AddCcittPage(image));
        const size_t firstPage = qvtest::readFile(ref).size() / 2;
        {
            FileSizeLimit limit(firstPage + 5000);
            EXPECT_FALSE(w.AddCcittPage(image));
        }
        EXPECT_EQ(w.m_message, "Writing PDF Page Stream");
        EXPECT_TRUE(w.m_ok);
        ASSERT_TRUE(w.AddCcittPage(image));
        EXPECT_FALSE(w.AddCcittPage(image)); // a third page for two
        EXPECT_EQ(w.m_message, "Too many pages!");
    }
    EXPECT_FALSE(qvtest::fileExists(retried)); // the extra page ended the document
    {
        pdfWriter w(retried, 2);
        ASSERT_TRUE(w.AddCcittPage(image));
        const size_t firstPage = qvtest::readFile(ref).size() / 2;
        {
            FileSizeLimit limit(firstPage + 5000);
            EXPECT_FALSE(w.AddCcittPage(image));
        }
        ASSERT_TRUE(w.AddCcittPage(image));
    }
    EXPECT_TRUE(qvtest::readFile(retried) == qvtest::readFile(ref));
    EXPECT_TRUE(pdfcheck::QpdfClean(retried));
}

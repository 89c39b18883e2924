// Pages as the OPS service serves them: big-endian TIFFs sized by their own resolution, and
// what must not change for the little-endian pages of the other sources.
#include "fixtures.h"
#include "pdfCheck.h"
#include "pdfWriter.h"
#include "testutil.h"
#include "writerTestUtil.h"

#include <gtest/gtest.h>
#include <wx/mstream.h>

namespace {

using writertest::addPage;
using writertest::writePdf;

using pdfcheck::Pdf;

const char* const kOpsPages[] = {"ops/EP2400812A1-fullimage-p1.tiff",
                                 "ops/EP2400812A1-drawing-p1.tiff"};

} // namespace

TEST(OpsPages, RealPagesBecomeA4PagesThatRenderExactly) {
    qvtest::TempDir dir("qvops");
    std::vector<std::string> pages;
    for (const char* name : kOpsPages)
        pages.push_back(qvfix::readWholeFile(qvfix::fixturePath(name)));
    const std::string path = dir.file("EP2400812A1.pdf");
    ASSERT_TRUE(writePdf(path, pages));
    Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, 2, pdf));
    EXPECT_TRUE(pdfcheck::QpdfClean(path));
    std::string info;
    ASSERT_EQ(qvtest::runCommand("pdfinfo -f 1 -l 2 '" + path + "'", &info), 0);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(pdf.pages[size_t(i)].mediaBox, "0.0000 0.0000 595 842");
        EXPECT_NE(info.find("Page    " + std::to_string(i + 1) + " size:  595 x 842 pts (A4)"),
                  std::string::npos)
            << info;
        EXPECT_NE(pdf.pages[size_t(i)].imageDict.find("<< /K -1 /Columns 2592 /Rows 3508 >>"),
                  std::string::npos);
        EXPECT_EQ(pdf.pages[size_t(i)].imageData, qvfix::rawStrip(pages[size_t(i)]));
        EXPECT_TRUE(pdfcheck::RendersLike(path, i + 1, pages[size_t(i)], true));
    }
}

// Files written before big-endian pages were read, kept with the pages they were made from.
TEST(OpsPages, LittleEndianPagesKeepTheirExactBytes) {
    qvtest::TempDir dir("qvops");
    std::vector<std::string> pages;
    for (int i = 1; i <= 3; ++i)
        pages.push_back(qvfix::readWholeFile(
            qvfix::fixturePath("golden/letter-page" + std::to_string(i) + ".tif")));
    const std::string path = dir.file("US1234567.pdf");
    ASSERT_TRUE(writePdf(path, pages));
    const std::string golden = qvfix::readWholeFile(qvfix::fixturePath("golden/US1234567.pdf"));
    ASSERT_GT(golden.size(), 10000u);
    EXPECT_TRUE(qvtest::readFile(path) == golden);
    // The second page states centimetres, the third is 1530 x 105: the letter fit is kept.
    Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, 3, pdf));
    EXPECT_EQ(pdf.pages[1].mediaBox, "0.0000 0.0000 612 400");
    EXPECT_EQ(pdf.pages[2].mediaBox, "0.0000 0.0000 612 42");
}

TEST(OpsPages, BigEndianPageSizeComesFromItsResolution) {
    struct Case {
        const char* what;
        bool bigEndian;
        double x, y;
        int unit;
        const char* mediaBox;
    };
    // A 306 x 200 page.
    const Case cases[] = {
        {"200 dpi", true, 200, 200, 2, "0.0000 0.0000 110 72"},
        {"78.74 per cm", true, 78.74, 78.74, 3, "0.0000 0.0000 110 72"},
        {"not square, per cm", true, 123.429, 118.114, 3, "0.0000 0.0000 70 48"},
        {"unit none: only the pixels' shape", true, 2, 1, 1, "0.0000 0.0000 606 792"},
        {"no resolution", true, 0, 0, 0, "0.0000 0.0000 612 400"},
        {"1 dpi: larger than readers take", true, 1, 1, 2, "0.0000 0.0000 612 400"},
        {"little-endian keeps the letter fit", false, 78.74, 78.74, 3, "0.0000 0.0000 612 400"},
    };
    qvtest::TempDir dir("qvops");
    for (const Case& c : cases) {
        qvfix::FixtureOptions o;
        o.bigEndian = c.bigEndian;
        o.xResolution = c.x;
        o.yResolution = c.y;
        o.resolutionUnit = c.unit;
        const std::string tiff = qvfix::makeTiff(o);
        const std::string path = dir.file("size.pdf");
        ASSERT_TRUE(writePdf(path, {tiff})) << c.what;
        Pdf pdf;
        ASSERT_TRUE(pdfcheck::ReadPdf(path, 1, pdf)) << c.what;
        EXPECT_EQ(pdf.pages[0].mediaBox, c.mediaBox) << c.what;
        EXPECT_TRUE(pdfcheck::QpdfClean(path)) << c.what;
        EXPECT_TRUE(pdfcheck::RendersLike(path, 1, tiff)) << c.what;
    }
}

// A page whose directory is impossible comes back the same however often it is fetched:
// the document ends at once, and no file is left; a cut-off page stays one to fetch again.
TEST(OpsPages, ImpossibleDirectoryEndsTheDocument) {
    qvtest::TempDir dir("qvops");
    const std::string good = qvfix::makeTiff();
    std::string doubled = good;
    ASSERT_TRUE(qvfix::renameTag(doubled, 257, 256)); // width twice
    const std::pair<std::string, const char*> cases[] = {
        {qvfix::repeatedStripTableTiff(), " tag 273 appears twice in the image directory!"},
        {doubled, " tag 256 appears twice in the image directory!"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("bad.pdf");
        {
            pdfWriter w(path, 2);
            ASSERT_TRUE(addPage(w, good));
            EXPECT_FALSE(addPage(w, c.first));
            EXPECT_FALSE(w.m_ok);
            EXPECT_EQ(w.m_message, c.second);
        }
        EXPECT_FALSE(qvtest::fileExists(path));
    }
    pdfWriter w(dir.file("cut.pdf"), 1);
    EXPECT_FALSE(addPage(w, good.substr(0, good.size() / 2)));
    EXPECT_TRUE(w.m_ok);
}

// The check a job makes before it decides between a page's TIFF and its PDF says what
// AddPage then does, refusal text and all.
TEST(OpsPages, CheckTiffPageForeseesAddPage) {
    const std::string good = qvfix::makeTiff();
    std::string lzw = good, pastTheEnd = good;
    ASSERT_TRUE(qvfix::setTagValue(lzw, 259, 5));
    ASSERT_TRUE(qvfix::setTagValue(pastTheEnd, 279, uint32_t(good.size())));
    qvfix::FixtureOptions strips, blackIsZero;
    strips.rowsPerStrip = 50;
    blackIsZero.photometric = 1;
    struct Case {
        const char* what;
        std::string tiff;
        bool fits;
        bool final;
    };
    const Case cases[] = {
        {"little-endian page", good, true, false},
        {"OPS page", qvfix::readWholeFile(qvfix::fixturePath(kOpsPages[0])), true, false},
        {"several strips", qvfix::makeTiff(strips), false, true},
        {"BlackIsZero", qvfix::makeTiff(blackIsZero), false, true},
        {"LZW", lzw, false, true},
        {"repeated strip table", qvfix::repeatedStripTableTiff(), false, true},
        {"cut off", good.substr(0, good.size() / 2), false, false},
        {"strip past the end", pastTheEnd, false, false},
        {"an error page", "<html>Service unavailable</html>", false, false},
    };
    qvtest::TempDir dir("qvops");
    for (const Case& c : cases) {
        wxMemoryInputStream in(c.tiff.data(), c.tiff.size());
        wxString reason;
        bool final = !c.final;
        EXPECT_EQ(pdfWriter::CheckTiffPage(in, reason, final), c.fits) << c.what;
        EXPECT_EQ(final, c.final) << c.what;
        EXPECT_EQ(reason.empty(), c.fits) << c.what;
        pdfWriter w(dir.file("check.pdf"), 2);
        ASSERT_TRUE(addPage(w, good));
        EXPECT_EQ(addPage(w, c.tiff), c.fits) << c.what;
        EXPECT_EQ(w.m_ok, !c.final) << c.what;
        if (!c.fits) {
            EXPECT_EQ(w.m_message, reason) << c.what;
        }
    }
}

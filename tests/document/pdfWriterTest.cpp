#include "pdfWriter.h"
#include "fixtures.h"
#include "pdfCheck.h"
#include "testutil.h"
#include "writerTestUtil.h"

#include <gtest/gtest.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include <csignal>
#include <dirent.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using writertest::addPage;
using writertest::FileSizeLimit;
using writertest::writePdf;

using pdfcheck::Pdf;

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

qvfix::FixtureOptions variant(qvfix::Coding c, int fillOrder = 1, bool fillBits = false) {
    qvfix::FixtureOptions o;
    o.coding = c;
    o.fillOrder = fillOrder;
    o.group3FillBits = fillBits;
    return o;
}

// Collects what the writer sends to the library's error log.
class LogCapture : public wxLog {
public:
    LogCapture() : m_previous(wxLog::SetActiveTarget(this)) {}
    ~LogCapture() override { wxLog::SetActiveTarget(m_previous); }
    std::vector<wxString> errors;

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo&) override {
        if (level == wxLOG_Error)
            errors.push_back(msg);
    }

private:
    wxLog* m_previous;
};

} // namespace

TEST(PdfWriter, OnePageDocumentHasSevenObjectsAndPassesQpdf) {
    qvtest::TempDir dir("qvdoc");
    const std::string path = dir.file("US1234567.pdf");
    ASSERT_TRUE(writePdf(path, {qvfix::makeTiff()}));
    Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, 1, pdf));
    EXPECT_TRUE(pdfcheck::QpdfClean(path));
    EXPECT_EQ(pdf.title, "(US1234567)");
    EXPECT_EQ(pdf.offsets.size(), 7u);
    EXPECT_NE(pdf.data.find("xref\r\n0 8\r\n"), std::string::npos);
    EXPECT_EQ(pdf.pages[0].mediaBox, "0.0000 0.0000 612 400");
    EXPECT_NE(pdf.pages[0].imageDict.find("/Filter /CCITTFaxDecode /DecodeParms << /K -1 "
                                          "/Columns 306 /Rows 200 >>\r\n >>"),
              std::string::npos)
        << pdf.pages[0].imageDict;
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"US1234567.pdf"});
}

TEST(PdfWriter, TitleIsTheEscapedBaseName) {
    qvtest::TempDir dir("qvdoc");
    const std::string page = qvfix::makeTiff();
    const std::pair<std::string, std::string> cases[] = {
        {"US(12)\\34.pdf", "(US\\(12\\)\\\\34)"},
        {"WO-2004-000123.pdf", "(WO-2004-000123)"},
        {"a.pdf.b.pdf", "(a.b)"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.first);
        ASSERT_TRUE(writePdf(path, {page}));
        Pdf pdf;
        ASSERT_TRUE(pdfcheck::ReadPdf(path, 1, pdf));
        EXPECT_EQ(pdf.title, c.second);
        EXPECT_TRUE(pdfcheck::QpdfClean(path));
    }
}

struct RenderCase {
    const char* name;
    qvfix::FixtureOptions options;
    const char* decodeParms; // expected text inside the image dictionary
};

void PrintTo(const RenderCase& c, std::ostream* os) {
    *os << c.name;
}

class PdfRendering : public ::testing::TestWithParam<RenderCase> {};

TEST_P(PdfRendering, PageRendersExactlyAsLibtiffDecodesIt) {
    qvtest::TempDir dir("qvdoc");
    const std::string path = dir.file("render.pdf");
    const RenderCase& c = GetParam();
    const std::string a = qvfix::makeTiff(c.options);
    qvfix::FixtureOptions second = c.options;
    second.seed = 99;
    const std::string b = qvfix::makeTiff(second);
    ASSERT_FALSE(a.empty());
    ASSERT_TRUE(writePdf(path, {a, b}));
    Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, 2, pdf));
    EXPECT_TRUE(pdfcheck::QpdfClean(path));
    EXPECT_NE(pdf.pages[0].imageDict.find(c.decodeParms), std::string::npos)
        << pdf.pages[0].imageDict;
    EXPECT_TRUE(pdfcheck::RendersLike(path, 1, a, true));
    EXPECT_TRUE(pdfcheck::RendersLike(path, 2, b, true));
}

qvfix::FixtureOptions sized(qvfix::Coding c, uint32_t w, uint32_t h) {
    qvfix::FixtureOptions o = variant(c);
    o.width = w;
    o.height = h;
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Codings, PdfRendering,
    ::testing::Values(
        RenderCase{"G4", variant(qvfix::Coding::Group4), "<< /K -1 /Columns 306 /Rows 200 >>"},
        RenderCase{"G4_FillOrder2", variant(qvfix::Coding::Group4, 2), "/K -1"},
        RenderCase{"G4_Width1530", sized(qvfix::Coding::Group4, 1530, 105), "/Columns 1530"},
        RenderCase{"G3_1D", variant(qvfix::Coding::Group3_1D), "/K 0 "},
        RenderCase{"G3_1D_FillBits", variant(qvfix::Coding::Group3_1D, 1, true), "/K 0 "},
        RenderCase{"G3_1D_FillOrder2", variant(qvfix::Coding::Group3_1D, 2), "/K 0 "},
        RenderCase{"G3_2D", variant(qvfix::Coding::Group3_2D), "/K 4 "},
        RenderCase{"G3_2D_FillBits", variant(qvfix::Coding::Group3_2D, 1, true), "/K 4 "},
        RenderCase{"G3_2D_FillBits_FillOrder2", variant(qvfix::Coding::Group3_2D, 2, true),
                   "/K 4 "},
        RenderCase{"G3_2D_Width1530", sized(qvfix::Coding::Group3_2D, 1530, 105), "/K 4 "}),
    [](const ::testing::TestParamInfo<RenderCase>& info) { return info.param.name; });

TEST(PdfWriter, GhostscriptAndTiffcpPagesRenderExactly) {
    qvtest::TempDir dir("qvdoc");
    std::vector<std::string> pages;
    for (const char* device : {"tiffg4", "tiffg3", "tiffg32d"}) {
        const std::string sub = dir.file(device);
        ASSERT_EQ(qvtest::runCommand("mkdir -p '" + sub + "'"), 0);
        const auto files = qvfix::ghostscriptPages(sub, 1, device, 612, 792, 72);
        ASSERT_EQ(files.size(), 1u) << device;
        pages.push_back(qvtest::readFile(files[0]));
    }
    // libtiff's tiffcp recodes the ghostscript page: other bit order, other options.
    const std::string src = dir.file("tiffg4/page-001.tif");
    const char* recodings[] = {"-c g4 -f lsb2msb", "-c g3:2d:fill -f lsb2msb", "-c g3:1d"};
    for (const char* args : recodings) {
        const std::string out = dir.file("recoded.tif");
        ASSERT_EQ(
            qvtest::runCommand(std::string("tiffcp ") + args + " '" + src + "' '" + out + "' 2>&1"),
            0)
            << args;
        pages.push_back(qvtest::readFile(out));
    }
    const std::string path = dir.file("gs.pdf");
    ASSERT_TRUE(writePdf(path, pages));
    Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, int(pages.size()), pdf));
    EXPECT_TRUE(pdfcheck::QpdfClean(path));
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pdf.pages[i].mediaBox, "0.0000 0.0000 612 792");
        EXPECT_TRUE(pdfcheck::RendersLike(path, int(i + 1), pages[i], true));
    }
}

TEST(PdfWriter, FullSizePagesGetLetterFittedMediaBoxes) {
    qvtest::TempDir dir("qvdoc");
    std::vector<std::string> pages;
    const std::pair<int, int> sizes[] = {{2550, 3300}, {2560, 3300}, {3300, 2550}};
    for (auto s : sizes) {
        const std::string sub = dir.file(std::to_string(s.first));
        ASSERT_EQ(qvtest::runCommand("mkdir -p '" + sub + "'"), 0);
        const auto files = qvfix::ghostscriptPages(sub, 1, "tiffg4", s.first, s.second, 300);
        ASSERT_EQ(files.size(), 1u);
        pages.push_back(qvtest::readFile(files[0]));
    }
    const std::string path = dir.file("big.pdf");
    ASSERT_TRUE(writePdf(path, pages));
    Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, 3, pdf));
    EXPECT_TRUE(pdfcheck::QpdfClean(path));
    EXPECT_EQ(pdf.pages[0].mediaBox, "0.0000 0.0000 612 792");
    EXPECT_EQ(pdf.pages[1].mediaBox, "0.0000 0.0000 612 788");
    EXPECT_EQ(pdf.pages[2].mediaBox, "0.0000 0.0000 612 472");
    EXPECT_EQ(pdf.pages[0].content,
              "q  612.0000 0.0000 0.0000 792.0000 0.0000 0.0000 cm /Im1 Do Q");
    EXPECT_NE(pdf.pages[0].imageDict.find("/K -1 /Columns 2550 /Rows 3300 >>"), std::string::npos);
    // 2550 x 3300 on 612 x 792 points is exactly 300 dpi.
    EXPECT_TRUE(pdfcheck::RendersLike(path, 1, pages[0]));
}

TEST(PdfWriter, UnreadablePageCanBeOfferedAgainWithoutGapsInTheNumbering) {
    qvtest::TempDir dir("qvdoc");
    const std::string path = dir.file("retry.pdf");
    std::vector<std::string> pages;
    for (unsigned s = 1; s <= 5; ++s) {
        qvfix::FixtureOptions o;
        o.seed = s;
        pages.push_back(qvfix::makeTiff(o));
    }
    std::string cutOff = pages[1];
    ASSERT_TRUE(qvfix::setTagValue(cutOff, 279, uint32_t(cutOff.size()))); // strip past end
    {
        LogCapture log;
        pdfWriter w(path, 5);
        ASSERT_TRUE(w.m_ok);
        ASSERT_TRUE(addPage(w, pages[0]));
        EXPECT_FALSE(addPage(w, "<html>Service unavailable</html>"));
        EXPECT_TRUE(w.m_ok);
        EXPECT_EQ(w.m_message, "Not a tiff image? 116");
        EXPECT_FALSE(addPage(w, cutOff));
        EXPECT_TRUE(w.m_ok);
        EXPECT_EQ(w.m_message, " strip outside image data!");
        EXPECT_FALSE(addPage(w, pages[1].substr(0, pages[1].size() / 2)));
        EXPECT_TRUE(w.m_ok);
        for (size_t i = 1; i < 5; ++i)
            ASSERT_TRUE(addPage(w, pages[i])) << i;
        // The reasons go back to the job only: a worker's log message would open a box.
        EXPECT_TRUE(log.errors.empty());
    }
    Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, 5, pdf)); // also checks Im1..Im5 in order
    EXPECT_TRUE(pdfcheck::QpdfClean(path));
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(pdfcheck::RendersLike(path, i + 1, pages[size_t(i)]));
}

TEST(PdfWriter, IncompleteWriterLeavesNoFileAndCompleteOneNoTemporary) {
    qvtest::TempDir dir("qvdoc");
    const std::string path = dir.file("US7654321.pdf");
    const std::string page = qvfix::makeTiff();
    {
        pdfWriter w(path, 5);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(addPage(w, page));
        // While it is written the document exists only under a hidden temporary name.
        EXPECT_FALSE(qvtest::fileExists(path));
        const std::string temp = std::string(w.GetTempPath().fn_str());
        EXPECT_TRUE(qvtest::fileExists(temp));
        EXPECT_EQ(temp.rfind(dir.path() + "/.US7654321.pdf.", 0), 0u) << temp;
    }
    EXPECT_TRUE(listDir(dir.path()).empty());

    // Two writers for the same number do not share their temporary file.
    {
        pdfWriter a(path, 1), b(path, 1);
        EXPECT_NE(a.GetTempPath(), b.GetTempPath());
        ASSERT_TRUE(addPage(a, page));
        ASSERT_TRUE(addPage(b, page));
    }
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"US7654321.pdf"});
    EXPECT_TRUE(pdfcheck::QpdfClean(path));

    // An incomplete writer does not touch a finished file of the same name.
    {
        pdfWriter w(path, 2);
        ASSERT_TRUE(addPage(w, page));
    }
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"US7654321.pdf"});
    Pdf pdf;
    EXPECT_TRUE(pdfcheck::ReadPdf(path, 1, pdf));

    // A writer for no page creates nothing.
    {
        pdfWriter w(dir.file("empty.pdf"), 0);
        EXPECT_FALSE(addPage(w, page));
    }
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"US7654321.pdf"});
}

TEST(PdfWriter, PartsOfDeadProcessesGoWhenTheDocumentIsWrittenAgain) {
    qvtest::TempDir dir("qvdoc");
    const pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    ASSERT_GT(dead, 0);
    waitpid(dead, nullptr, 0);
    const std::string abandoned = ".US7.pdf." + std::to_string(dead) + ".3.part";
    const std::string running = ".US7.pdf." + std::to_string(getppid()) + ".1.part";
    const std::string other = ".US8.pdf." + std::to_string(dead) + ".1.part";
    for (const std::string& name : {abandoned, running, other})
        ASSERT_TRUE(qvtest::writeFile(dir.file(name), "half a PDF"));
    {
        pdfWriter w(dir.file("US7.pdf"), 1);
        ASSERT_TRUE(addPage(w, qvfix::makeTiff()));
        EXPECT_TRUE(w.Close()) << w.m_message;
    }
    EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{running, other, "US7.pdf"}));
}

TEST(PdfWriter, CloseSaysWhyTheFileIsNotInPlace) {
    qvtest::TempDir dir("qvdoc");
    ASSERT_EQ(::mkdir(dir.file("US9.pdf").c_str(), 0700), 0);
    pdfWriter onFolder(dir.file("US9.pdf"), 1);
    ASSERT_TRUE(addPage(onFolder, qvfix::makeTiff()));
    EXPECT_FALSE(onFolder.Close());
    EXPECT_TRUE(onFolder.m_message.StartsWith("Renaming PDF to")) << onFolder.m_message;
    pdfWriter missingPage(dir.file("US10.pdf"), 2);
    ASSERT_TRUE(addPage(missingPage, qvfix::makeTiff()));
    EXPECT_FALSE(missingPage.Close());
    EXPECT_EQ(missingPage.m_message, "Incomplete PDF (1 of 2 pages)");
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"US9.pdf"});
}

TEST(PdfWriter, UnwritableFolderFailsCreation) {
    qvtest::TempDir dir("qvdoc");
    ASSERT_TRUE(qvtest::writeFile(dir.file("plainfile"), "x"));
    for (const std::string& path : {dir.file("missing/US1.pdf"), dir.file("plainfile/US1.pdf")}) {
        pdfWriter w(path, 2);
        EXPECT_FALSE(w.m_ok);
        EXPECT_EQ(w.m_message, "Creating PDF");
        EXPECT_FALSE(addPage(w, qvfix::makeTiff()));
    }
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"plainfile"});
}

TEST(PdfWriter, PagesTheFileCannotHoldEndTheDocument) {
    struct Case {
        const char* what;
        std::function<void(std::string&)> spoil;
        const char* message;
    };
    const std::string gsG4 = [] {
        qvtest::TempDir d("qvgs");
        auto f = qvfix::ghostscriptPages(d.path(), 1, "tiffg4", 306, 200, 36);
        return f.empty() ? std::string() : qvtest::readFile(f[0]);
    }();
    ASSERT_FALSE(gsG4.empty());
    const Case cases[] = {
        {"BlackIsZero", nullptr, "Colorspace unsupported!"},
        {"no Compression tag", [](std::string& t) { qvfix::renameTag(t, 259, 65000); },
         "Compression unsupported!"},
        {"LZW", [](std::string& t) { qvfix::setTagValue(t, 259, 5); }, "Compression unsupported!"},
        {"uncompressed", [](std::string& t) { t = qvfix::makeTiff(variant(qvfix::Coding::None)); },
         "Compression unsupported!"},
        {"T4 uncompressed mode",
         [](std::string& t) {
             t = qvfix::makeTiff(variant(qvfix::Coding::Group3_2D));
             qvfix::setTagValue(t, 292, 3);
         },
         "Compression unsupported!"},
        {"T6 uncompressed mode",
         [&gsG4](std::string& t) {
             t = gsG4;
             qvfix::setTagValue(t, 293, 2);
         },
         "Compression unsupported!"},
        {"8 bits", [](std::string& t) { qvfix::setTagValue(t, 258, 8); },
         "Bits per sample unsupported!"},
        {"width 0", [](std::string& t) { qvfix::setTagValue(t, 256, 0); },
         "Image width or height is 0!"},
        {"height 0", [](std::string& t) { qvfix::renameTag(t, 257, 65000); },
         "Image width or height is 0!"},
        {"no strip", [](std::string& t) { qvfix::renameTag(t, 273, 65000); },
         "Image has no strip!"},
        {"no strip length", [](std::string& t) { qvfix::renameTag(t, 279, 65000); },
         "Image has no strip!"},
        {"several strips",
         [](std::string& t) {
             qvfix::FixtureOptions o;
             o.rowsPerStrip = 50;
             t = qvfix::makeTiff(o);
         },
         "Several strips unsupported!"},
    };
    qvtest::TempDir dir("qvdoc");
    const std::string good = qvfix::makeTiff();
    for (const Case& c : cases) {
        std::string tiff;
        if (c.spoil) {
            tiff = good;
            c.spoil(tiff);
        } else {
            qvfix::FixtureOptions o;
            o.photometric = 1;
            tiff = qvfix::makeTiff(o);
        }
        const std::string path = dir.file("bad.pdf");
        {
            pdfWriter w(path, 3);
            ASSERT_TRUE(addPage(w, good));
            EXPECT_FALSE(addPage(w, tiff)) << c.what;
            EXPECT_FALSE(w.m_ok) << c.what;
            EXPECT_EQ(w.m_message, c.message) << c.what;
            EXPECT_FALSE(addPage(w, good)) << c.what; // every later page fails at once
            EXPECT_EQ(w.m_message, c.message) << c.what;
        }
        EXPECT_TRUE(listDir(dir.path()).empty()) << c.what;
    }
    // The unmodified ghostscript page and a page without BitsPerSample (which means 1)
    // are fine.
    std::string noBits = good;
    ASSERT_TRUE(qvfix::renameTag(noBits, 258, 65000));
    const std::string path = dir.file("fine.pdf");
    ASSERT_TRUE(writePdf(path, {gsG4, noBits}));
    Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, 2, pdf));
    EXPECT_TRUE(pdfcheck::RendersLike(path, 1, gsG4));
    EXPECT_TRUE(pdfcheck::RendersLike(path, 2, good));
}

TEST(PdfWriter, GarbageInShortPaddingStillRenders) {
    qvtest::TempDir dir("qvdoc");
    std::string tiff = qvfix::makeTiff(variant(qvfix::Coding::Group3_2D, 2, true));
    const std::string clean = tiff;
    ASSERT_GT(qvfix::fillShortPadding(tiff, 0xFF), 4);
    const std::string path = dir.file("padding.pdf");
    ASSERT_TRUE(writePdf(path, {tiff}));
    Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, 1, pdf));
    EXPECT_TRUE(pdfcheck::RendersLike(path, 1, clean));
}

// Every step's text when the disk refuses its bytes; a page whose writing failed before
// its end can be offered again once there is room, and the file is then whole.
TEST(PdfWriter, WriteFailuresNameTheirStepAndHalfWrittenPagesCanBeRetried) {
    qvtest::TempDir dir("qvdoc");
    const std::string page = qvfix::makeTiff();
    const std::string refPath = dir.file("ref/US5.pdf");
    ASSERT_EQ(qvtest::runCommand("mkdir -p '" + dir.file("ref") + "'"), 0);
    ASSERT_TRUE(writePdf(refPath, {page, page}));
    Pdf ref;
    ASSERT_TRUE(pdfcheck::ReadPdf(refPath, 2, ref));
    const size_t imageData = ref.data.find("stream\r\n", ref.offsets[6]) + 8;
    const size_t imageEnd = ref.data.find("\r\nendstream", imageData);

    struct Case {
        size_t limit;
        const char* message;
        bool okAfter; // m_ok after the failure
        bool atPage;  // the failure comes with the first page, not at construction
    };
    const Case cases[] = {
        {5, "Writing PDF Header", false, false},
        {ref.offsets[1] + 3, "Writing PDF Catalog", false, false},
        {ref.offsets[2] + 3, "Writing PDF Info", false, false},
        {ref.offsets[3] + 30, "Writing PDF Page Tree", false, false},
        {ref.offsets[4] + 10, "Writing PDF Page Mediabox", true, true},
        {ref.offsets[5] + 10, "Writing PDF Page Dictionary", true, true},
        {ref.offsets[6] + 10, "Writing PDF Page Stream Header", true, true},
        {imageData + 100, "Writing PDF Page Stream", true, true},
        {imageEnd + 4, "Writing PDF Page Ending", false, true},
        {ref.offsets[7] + 4, "Writing PDF Page Stream Length", false, true},
    };
    for (const Case& c : cases) {
        const std::string sub = dir.file(std::to_string(c.limit));
        ASSERT_EQ(qvtest::runCommand("mkdir -p '" + sub + "'"), 0);
        const std::string path = sub + "/US5.pdf";
        {
            std::unique_ptr<pdfWriter> w;
            bool added;
            {
                FileSizeLimit limit(c.limit);
                w.reset(new pdfWriter(path, 2));
                added = addPage(*w, page);
            }
            EXPECT_FALSE(added) << c.message;
            EXPECT_EQ(w->m_message, c.message);
            EXPECT_EQ(w->m_ok, c.okAfter) << c.message;
            if (c.okAfter) {
                EXPECT_TRUE(addPage(*w, page)) << c.message;
                EXPECT_TRUE(addPage(*w, page)) << c.message;
            }
        }
        if (c.okAfter) {
            Pdf pdf;
            EXPECT_TRUE(pdfcheck::ReadPdf(path, 2, pdf)) << c.message;
            EXPECT_EQ(pdf.data, ref.data) << c.message;
            EXPECT_EQ(listDir(sub), std::vector<std::string>{"US5.pdf"});
        } else {
            EXPECT_TRUE(listDir(sub).empty()) << c.message;
        }
    }
    // The table and trailer are written last: when they cannot be, no file appears.
    {
        const std::string sub = dir.file("trailer");
        ASSERT_EQ(qvtest::runCommand("mkdir -p '" + sub + "'"), 0);
        std::unique_ptr<pdfWriter> w(new pdfWriter(sub + "/US5.pdf", 2));
        ASSERT_TRUE(addPage(*w, page));
        ASSERT_TRUE(addPage(*w, page));
        FileSizeLimit limit(ref.data.size() - 30);
        w.reset();
        EXPECT_TRUE(listDir(sub).empty());
    }
}

TEST(PdfWriter, FullDiskLeavesNothingBehind) {
    qvtest::TempDir dir("qvdoc");
    const std::string mnt = dir.file("small");
    ASSERT_EQ(qvtest::runCommand("mkdir -p '" + mnt + "'"), 0);
    if (qvtest::runCommand("mount -t tmpfs -o size=64k tmpfs '" + mnt + "' 2>/dev/null") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    struct Unmount {
        std::string at;
        ~Unmount() { qvtest::runCommand("umount '" + at + "'"); }
    } unmount{mnt};

    qvfix::FixtureOptions o;
    o.width = 2448;
    o.height = 3168;
    const std::string page = qvfix::makeTiff(o); // a few tens of kilobytes
    ASSERT_GT(page.size(), 20000u);
    {
        pdfWriter w(mnt + "/US9.pdf", 10);
        ASSERT_TRUE(w.m_ok);
        bool failed = false;
        for (int i = 0; i < 10 && !failed; ++i)
            failed = !addPage(w, page);
        EXPECT_TRUE(failed);
        EXPECT_EQ(w.m_message.rfind("Writing PDF Page", 0), 0u) << w.m_message;
        EXPECT_NE(w.m_message.find("(Disk Full)"), wxString::npos) << w.m_message;
    }
    EXPECT_TRUE(listDir(mnt).empty());
}

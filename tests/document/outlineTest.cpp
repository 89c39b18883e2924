// The bookmarks and document information of a document from the OPS service, read back with
// libqpdf: each bookmark must open the page object its section starts on.
#include "fixtures.h"
#include "pdfCheck.h"
#include "pdfWriter.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <wx/mstream.h>

#include <utility>

namespace {

using Bookmarks = std::vector<std::pair<std::string, int>>; // title, page from 1

struct ReadBack {
    Bookmarks bookmarks;
    std::string title, subject, pageMode;
};

// What a reader finds: each top-level outline item's title and the number of the page
// object its destination names (0 when it names none of the pages).
ReadBack readBack(const std::string& path) {
    ReadBack r;
    QPDF q;
    q.processFile(path.c_str());
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(q).getAllPages();
    QPDFOutlineDocumentHelper outlines(q);
    for (QPDFOutlineObjectHelper& item : outlines.getTopLevelOutlines()) {
        const QPDFObjGen dest = item.getDestPage().getObjGen();
        int page = 0;
        for (size_t i = 0; i < pages.size(); ++i)
            if (pages[i].getObjectHandle().getObjGen() == dest)
                page = int(i + 1);
        r.bookmarks.emplace_back(item.getTitle(), page);
    }
    QPDFObjectHandle info = q.getTrailer().getKey("/Info");
    r.title = info.getKey("/Title").getUTF8Value();
    if (info.hasKey("/Subject"))
        r.subject = info.getKey("/Subject").getUTF8Value();
    QPDFObjectHandle mode = q.getRoot().getKey("/PageMode");
    if (mode.isName())
        r.pageMode = mode.getName();
    return r;
}

bool writeDocument(const std::string& path, int pages, const PdfDocumentInfo* info) {
    std::unique_ptr<pdfWriter> w(info ? new pdfWriter(path, pages, *info)
                                      : new pdfWriter(path, pages));
    for (int i = 0; i < pages; ++i) {
        qvfix::FixtureOptions o;
        o.seed = unsigned(i + 1);
        const std::string tiff = qvfix::makeTiff(o);
        wxMemoryInputStream in(tiff.data(), tiff.size());
        if (!w->AddPage(in))
            return false;
    }
    return w->Close(); // writes the outline, then the table
}

} // namespace

TEST(PdfOutline, SectionsBecomeBookmarksInPageOrder) {
    qvtest::TempDir dir("qvoutline");
    PdfDocumentInfo info;
    info.subject = "EP 1000000 B1";
    // As the service lists them: upper case, not in page order, some unusable.
    info.sections = {
        {"CLAIMS", 5},
        {"DESCRIPTION", 3},
        {"SEARCH_REPORT", 8},
        {"BIBLIOGRAPHY", 1},
        {"DRAWINGS", 7},
        {"ABSTRACT", 1},
        {"AMENDMENT", 9}, // past the last page
        {"CLAIMS", 0},    // before the first
        {"", 2},          // no name
        {"CLAIMS", 5},    // listed twice
        {"SEQUENCE_LISTING (A)\\B", 6},
        {wxString::FromUTF8("ÉTAT_DE_LA_TECHNIQUE"), 4},
    };
    const std::string path = dir.file("EP1000000B1.pdf");
    ASSERT_TRUE(writeDocument(path, 8, &info));
    EXPECT_TRUE(pdfcheck::QpdfClean(path));
    const ReadBack r = readBack(path);
    const Bookmarks expected = {{"Bibliography", 1}, {"Abstract", 1},
                                {"Description", 3},  {u8"État de la technique", 4},
                                {"Claims", 5},       {"Sequence listing (a)\\b", 6},
                                {"Drawings", 7},     {"Search report", 8}};
    EXPECT_EQ(r.bookmarks, expected);
    EXPECT_EQ(r.subject, "EP 1000000 B1");
    EXPECT_EQ(r.title, "EP1000000B1");
    EXPECT_EQ(r.pageMode, "/UseOutlines");
    const std::string bytes = qvtest::readFile(path);
    EXPECT_NE(bytes.find("/Title (Sequence listing \\(a\\)\\\\b)\r\n"), std::string::npos);
    // The pages themselves are laid out as in any other document.
    std::string out;
    ASSERT_EQ(qvtest::runCommand("qpdf --show-npages '" + path + "'", &out), 0);
    EXPECT_EQ(out, "8\n");
    EXPECT_TRUE(pdfcheck::RendersLike(path, 8, [] {
        qvfix::FixtureOptions o;
        o.seed = 8;
        return qvfix::makeTiff(o);
    }()));
}

// Without a subject or a usable section the file is byte for byte what it always was.
TEST(PdfOutline, WithoutInformationTheFileIsUnchanged) {
    qvtest::TempDir dir("qvoutline");
    ASSERT_EQ(qvtest::runCommand("mkdir -p '" + dir.file("a") + "' '" + dir.file("b") + "' '" +
                                 dir.file("c") + "' '" + dir.file("d") + "'"),
              0);
    const std::string plain = dir.file("a/US5123456.pdf");
    ASSERT_TRUE(writeDocument(plain, 3, nullptr));
    PdfDocumentInfo empty, unusable, subjectOnly;
    unusable.sections = {{"CLAIMS", 4}, {"ABSTRACT", -1}, {"  ", 1}};
    subjectOnly.subject = "US 5123456 A";
    ASSERT_TRUE(writeDocument(dir.file("b/US5123456.pdf"), 3, &empty));
    ASSERT_TRUE(writeDocument(dir.file("c/US5123456.pdf"), 3, &unusable));
    ASSERT_TRUE(writeDocument(dir.file("d/US5123456.pdf"), 3, &subjectOnly));
    const std::string bytes = qvtest::readFile(plain);
    pdfcheck::Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(plain, 3, pdf));
    EXPECT_TRUE(qvtest::readFile(dir.file("b/US5123456.pdf")) == bytes);
    EXPECT_TRUE(qvtest::readFile(dir.file("c/US5123456.pdf")) == bytes);
    const ReadBack r = readBack(dir.file("d/US5123456.pdf"));
    EXPECT_EQ(r.subject, "US 5123456 A");
    EXPECT_TRUE(r.bookmarks.empty());
    EXPECT_EQ(r.pageMode, "");
    EXPECT_TRUE(pdfcheck::QpdfClean(dir.file("d/US5123456.pdf")));
}

// The outline is written with the table at the end: a document that does not get all its
// pages leaves no file, with or without bookmarks.
TEST(PdfOutline, IncompleteDocumentWithOutlineLeavesNoFile) {
    qvtest::TempDir dir("qvoutline");
    PdfDocumentInfo info;
    info.sections = {{"ABSTRACT", 1}, {"CLAIMS", 2}};
    const std::string path = dir.file("EP1.pdf");
    {
        pdfWriter w(path, 3, info);
        const std::string tiff = qvfix::makeTiff();
        wxMemoryInputStream in(tiff.data(), tiff.size());
        ASSERT_TRUE(w.AddPage(in));
    }
    EXPECT_FALSE(qvtest::fileExists(path));
}

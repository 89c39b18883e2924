// The answer parsers and request builders on their own, as the jobs use them.
#include "jobText.h"
#include "pct.h"
#include "uspto.h"

#include "testutil.h"

#include <gtest/gtest.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include <string>

namespace {

std::string PageListHtml(int pages, const std::string& embed) {
    return "<html>\n<body>\n<!-- NumPages=" + std::to_string(pages) + " -->\n" + embed +
           "\n</body>\n</html>\n";
}

const std::string kEmbed = "<embed src=\"/.DImage?Docid=05123456&PageNum=1&IDKey=AB12&"
                           "ImgFormat=tif\" width=\"100%\" height=\"100%\">";

TEST(PageList, PageNumberReplacesTheFirstPageDigit) {
    UsPageList list;
    ASSERT_TRUE(ParseUsPageListText(PageListHtml(3, kEmbed), list));
    EXPECT_EQ(list.listState, PageListState::CountFound);
    EXPECT_EQ(list.numPages, 3);
    ASSERT_EQ(list.pages.size(), 3u);
    EXPECT_EQ(list.pages[0], "/.DImage?Docid=05123456&PageNum=1&IDKey=AB12&ImgFormat=tif");
    EXPECT_EQ(list.pages[2], "/.DImage?Docid=05123456&PageNum=3&IDKey=AB12&ImgFormat=tif");

    ASSERT_TRUE(ParseUsPageListText(PageListHtml(12, kEmbed), list));
    ASSERT_EQ(list.pages.size(), 12u);
    EXPECT_EQ(list.pages[9], "/.DImage?Docid=05123456&PageNum=10&IDKey=AB12&ImgFormat=tif");
    EXPECT_EQ(list.pages[11], "/.DImage?Docid=05123456&PageNum=12&IDKey=AB12&ImgFormat=tif");
}

TEST(PageList, SplitTagsAndLineEndsAreJoinedWithoutSeparator) {
    UsPageList list;
    // CR LF lines, the tag broken inside its path and again before the width.
    const std::string html = "<!-- NumPages=2 -->\r\n<embed src=\"/.DImage?Docid=1&Pa\r\n"
                             "geNum=1&x=y\r\n\" width=\"100%\">\r\n";
    ASSERT_TRUE(ParseUsPageListText(html, list));
    ASSERT_EQ(list.pages.size(), 2u);
    EXPECT_EQ(list.pages[1], "/.DImage?Docid=1&PageNum=2&x=y");
    // Comment and tag on one line; old Mac line ends.
    ASSERT_TRUE(
        ParseUsPageListText("<!-- NumPages=1 --><embed src=\"/p?PageNum=1\" width=1>\r", list));
    ASSERT_EQ(list.pages.size(), 1u);
    EXPECT_EQ(list.pages[0], "/p?PageNum=1");
}

TEST(PageList, AnswersWithoutPagesGiveAnEmptyList) {
    UsPageList list;
    // Page count but no "PageNum=": the list stays empty ("Not Found").
    ASSERT_TRUE(
        ParseUsPageListText(PageListHtml(3, "<embed src=\"/.DImage?Docid=1\" width=\"1\">"), list));
    EXPECT_EQ(list.listState, PageListState::CountFound);
    EXPECT_TRUE(list.pages.empty());
    // No page count at all, or a comment that never closes: no count.
    ASSERT_TRUE(ParseUsPageListText("<html>" + kEmbed + "</html>", list));
    EXPECT_EQ(list.listState, PageListState::NoCount);
    EXPECT_TRUE(list.pages.empty());
    ASSERT_TRUE(ParseUsPageListText("<!-- NumPages=3\n" + kEmbed, list));
    EXPECT_EQ(list.listState, PageListState::NoCount);
    // A count of 0, a tag that never ends, a count nobody believes.
    ASSERT_TRUE(ParseUsPageListText(PageListHtml(0, kEmbed), list));
    EXPECT_TRUE(list.pages.empty());
    ASSERT_TRUE(ParseUsPageListText("<!-- NumPages=3 -->\n<embed src=\"/p?PageNum=1\n", list));
    EXPECT_TRUE(list.pages.empty());
    ASSERT_TRUE(ParseUsPageListText(PageListHtml(2000000000, kEmbed), list));
    EXPECT_TRUE(list.pages.empty());
}

TEST(PageList, CancellationStopsTheReading) {
    const std::string html = PageListHtml(3, kEmbed);
    wxMemoryInputStream in(html.data(), html.size());
    UsPageList list;
    int asked = 0;
    EXPECT_FALSE(ParseUsPageList(in, list, [&] { return ++asked == 2; }));
    EXPECT_EQ(asked, 2);
}

TEST(SearchAnswer, FirstResultLinkAnchorText) {
    const std::string link = "<A  HREF=/netacgi/nph-Parser?Sect1=PTO2&Sect2=HITOFF&u=%2Fnetahtml%2F"
                             "PTO%2Fsearch-adv.html&r=1&f=G&l=50&d=PG01&p=1&S1=836917.APN.";
    EXPECT_EQ(ParseUsSearchAnswerText("<HTML>\n<TR><TD>1</TD><TD>" + link +
                                      ">20010012345</A></TD>\n" + link + ">20029999999</A>\n"),
              "20010012345");
    EXPECT_EQ(ParseUsSearchAnswerText("<HTML>No documents found</HTML>\n"), "");
    // A link without its closing anchor on the line is skipped.
    EXPECT_EQ(ParseUsSearchAnswerText(link + ">2001\n" + link + ">20030000007</A>"), "20030000007");
}

TEST(PercentEncoding, OnlyUnreservedCharactersStayAsTheyAre) {
    EXPECT_EQ(jobtext::PercentEncode("20010012345"), "20010012345");
    EXPECT_EQ(jobtext::PercentEncode("A-z_0.9~"), "A-z_0.9~");
    EXPECT_EQ(jobtext::PercentEncode("1&idkey=X#/ ?%+\r\n"),
              "1%26idkey%3DX%23%2F%20%3F%25%2B%0D%0A");
    EXPECT_EQ(jobtext::PercentEncode(wxString::FromUTF8("\xc3\xa9")), "%C3%A9");
}

const char kEnvelopeHead[] =
    "<soapenv:Envelope xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:urn=\"urn:EPO-OpenPatentServices-documentData\">\n<soapenv:Body>\n"
    "<urn:getDocumentData soapenv:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\n"
    "<input_request xsi:type=\"xsd:string\">";
const char kEnvelopeTail[] =
    "</input_request>\n</urn:getDocumentData>\n</soapenv:Body>\n</soapenv:Envelope>";

TEST(SoapEnvelope, InquiryAndRetrievalAsSent) {
    EXPECT_EQ(PctInquiryEnvelope("EP2004/012345"),
              std::string(kEnvelopeHead) +
                  "&lt;OpenPatentServices ACTION=&quot;DocumentInquiry&quot;&gt;&lt;"
                  "WORLDPATENTDATA&gt;&lt;INQUIRY SEED=&quot;EP2004/012345&quot; "
                  "SEED_FORMAT=&quot;E&quot; SEED_TYPE=&quot;PN&quot;/&gt;&lt;/WORLDPATENTDATA&gt;"
                  "&lt;/OpenPatentServices&gt;" +
                  kEnvelopeTail);
    EXPECT_EQ(PctRetrievalEnvelope("EP.1000000.A1", "EPODOC", 12),
              std::string(kEnvelopeHead) +
                  "&lt;OpenPatentServices ACTION=&quot;DocumentRetrieval&quot;&gt;&lt;"
                  "WORLDPATENTDATA&gt;&lt;DOCUMENT ID=&quot;EP.1000000.A1&quot; "
                  "SYSTEM=&quot;EPODOC&quot; FORMAT=&quot;SINGLE_PAGE_TIFF&quot; "
                  "PAGE_NUMBER=&quot;12&quot;/&gt;&lt;/WORLDPATENTDATA&gt;"
                  "&lt;/OpenPatentServices&gt;" +
                  kEnvelopeTail);
}

// Runs xmllint on text: well-formedness, or the string value of an XPath expression.
bool XmlLint(const std::string& xml, const std::string& xpath, std::string* value) {
    qvtest::TempDir dir("qvxml");
    const std::string file = dir.file("doc.xml");
    if (!qvtest::writeFile(file, xml))
        return false;
    const std::string cmd = xpath.empty()
                                ? "xmllint --noout '" + file + "' 2>&1"
                                : "xmllint --xpath '" + xpath + "' '" + file + "' 2>/dev/null";
    std::string out;
    const int rc = qvtest::runCommand(cmd, &out);
    if (!xpath.empty() && !out.empty() && out.back() == '\n')
        out.pop_back(); // xmllint ends the value with a line feed of its own
    if (value)
        *value = out;
    return rc == 0;
}

TEST(SoapEnvelope, AnyNumberMakesAWellFormedRequestCarryingIt) {
    const char* numbers[] = {
        "EP15\"/><X",           "EP15&amp;", "EP1<5>",
        "EP15' SEED_TYPE='X",   "EP15]]>",   "EP15&#x26;",
        "EP15&lt;/INQUIRY&gt;", "EP1/5\\6",  "EP15\xc3\xa9\xe2\x82\xac",
        "EP15\x01\x02",         "EP1\t5",
    };
    for (const char* n : numbers) {
        const wxString number = wxString::FromUTF8(n);
        SCOPED_TRACE(n);
        const std::string envelope(PctInquiryEnvelope(number).utf8_str());
        std::string lint;
        ASSERT_TRUE(XmlLint(envelope, "", &lint)) << lint;
        std::string inner;
        ASSERT_TRUE(XmlLint(envelope, "string(//input_request)", &inner));
        ASSERT_TRUE(XmlLint(inner, "", &lint)) << inner << "\n" << lint;
        std::string seed;
        ASSERT_TRUE(
            XmlLint(inner, "string(/OpenPatentServices/WORLDPATENTDATA/INQUIRY/@SEED)", &seed));
        // What XML cannot hold (control characters) is dropped, all else arrives unchanged.
        std::string expected;
        for (const char* p = n; *p; ++p)
            if (static_cast<unsigned char>(*p) >= 0x20 || *p == '\t')
                expected += *p;
        EXPECT_EQ(seed, expected);
        std::string count;
        ASSERT_TRUE(XmlLint(inner, "count(//INQUIRY/@*)", &count));
        EXPECT_EQ(count, "3");
    }
    // Values from an odd inquiry answer cannot break the retrieval request either.
    const std::string retrieval(PctRetrievalEnvelope("a<b>&amp;amp;c", "S&quot;\"", 1).utf8_str());
    std::string inner, id;
    ASSERT_TRUE(XmlLint(retrieval, "string(//input_request)", &inner));
    ASSERT_TRUE(XmlLint(inner, "string(//DOCUMENT/@ID)", &id));
    EXPECT_EQ(id, "a<b>&c");
}

std::string InquiryAnswer(const std::string& instanceLine) {
    return "<?xml version='1.0' encoding='UTF-8'?>\n<soapenv:Envelope><soapenv:Body><ns1:return>"
           "&lt;OpenPatentServices&gt;\n&lt;DOCUMENT_INSTANCES&gt;\n"
           "&lt;DOCUMENT_PHYSICAL_INSTANCE SYSTEM=&quot;EPODOC&quot; ID=&quot;EP.15.A1&quot; "
           "NUMBER_OF_PAGES=&quot;1&quot; DESC=&quot;FirstPageClipping&quot;&gt;\n" +
           instanceLine + "\n&lt;/DOCUMENT_INSTANCES&gt;</ns1:return></soapenv:Body>\n";
}

std::string Instance(const std::string& system, const std::string& id, const std::string& pages) {
    return "&lt;DOCUMENT_PHYSICAL_INSTANCE SYSTEM=&quot;" + system + "&quot; ID=&quot;" + id +
           "&quot; NUMBER_OF_PAGES=&quot;" + pages + "&quot; DESC=&quot;FullDocument&quot;&gt;";
}

TEST(InquiryAnswer, FullDocumentInstanceGivesSystemIdAndPages) {
    wxString system, id;
    unsigned long pages = 0;
    ASSERT_TRUE(ParsePctInquiryAnswerText(InquiryAnswer(Instance("EPODOC", "EP.15.A1", "17")),
                                          system, id, pages));
    EXPECT_EQ(system, "EPODOC");
    EXPECT_EQ(id, "EP.15.A1");
    EXPECT_EQ(pages, 17u);

    EXPECT_FALSE(ParsePctInquiryAnswerText(InquiryAnswer(Instance("EPODOC", "EP.15.A1", "0")),
                                           system, id, pages));
    EXPECT_FALSE(
        ParsePctInquiryAnswerText(InquiryAnswer(Instance("", "EP.15.A1", "3")), system, id, pages));
    EXPECT_FALSE(
        ParsePctInquiryAnswerText(InquiryAnswer(Instance("EPODOC", "", "3")), system, id, pages));
    EXPECT_FALSE(ParsePctInquiryAnswerText(InquiryAnswer("no instance"), system, id, pages));
    EXPECT_FALSE(ParsePctInquiryAnswerText("", system, id, pages));
    // Only the first matching line counts.
    EXPECT_FALSE(ParsePctInquiryAnswerText(
        InquiryAnswer(Instance("EPODOC", "A", "0") + "\n" + Instance("EPODOC", "B", "2")), system,
        id, pages));
    // Each value as long as it can be, as a greedy pattern would take it.
    ASSERT_TRUE(ParsePctInquiryAnswerText(
        InquiryAnswer(Instance("S&quot; ID=&quot;X", "EP.1&quot; NUMBER_OF_PAGES=&quot;9", "4")),
        system, id, pages));
    EXPECT_EQ(system, "S&quot; ID=&quot;X");
    EXPECT_EQ(id, "EP.1&quot; NUMBER_OF_PAGES=&quot;9");
    EXPECT_EQ(pages, 4u);
}

TEST(InquiryAnswer, HostileLineIsReadWithoutAnyMessage) {
    // A megabyte of instance starts on one line once made a pattern library report an error
    // in a box; now it is plain searching, and nothing is logged.
    wxLogBuffer* buffer = new wxLogBuffer;
    wxLog* old = wxLog::SetActiveTarget(buffer);
    std::string line;
    for (int i = 0; i < 40000; ++i)
        line += "&lt;DOCUMENT_PHYSICAL_INSTANCE SYSTEM=&quot;(";
    wxString system, id;
    unsigned long pages = 0;
    EXPECT_FALSE(ParsePctInquiryAnswerText(InquiryAnswer(line), system, id, pages));
    wxLog::FlushActive();
    EXPECT_TRUE(buffer->GetBuffer().empty()) << buffer->GetBuffer();
    delete wxLog::SetActiveTarget(old);
}

std::string Multipart(const std::string& headers, const std::string& image) {
    return "--MIMEBoundary\r\nContent-Type: application/xop+xml\r\n\r\n<soapenv:Envelope/>\r\n"
           "--MIMEBoundary\r\n" +
           headers + "\r\n" + image + "\r\n--MIMEBoundary--\r\n";
}

std::string Rest(wxInputStream& in) {
    std::string out;
    char buffer[256];
    while (in.Read(buffer, sizeof buffer).LastRead() > 0)
        out.append(buffer, in.LastRead());
    return out;
}

TEST(PageAnswer, PositionedAtTheFirstImageByte) {
    // Image bytes that look like line ends must not be taken for them.
    const std::string image = std::string("\n\r\nII*\0\r\x08\0\0\0", 12) + "tail";
    const std::string answer = Multipart(
        "Content-Type: image/tiff\r\nContent-ID: <1>\r\nContent-Location: page1.tiff\r\n", image);
    wxMemoryInputStream in(answer.data(), answer.size());
    ASSERT_TRUE(PositionAtPageImage(in));
    EXPECT_EQ(Rest(in), image + "\r\n--MIMEBoundary--\r\n");
}

TEST(PageAnswer, MissingLocationOrImageIsBadTiff) {
    const std::string noLocation = Multipart("Content-Type: image/tiff\r\n", "II*\0");
    wxMemoryInputStream a(noLocation.data(), noLocation.size());
    EXPECT_FALSE(PositionAtPageImage(a));

    const std::string nothingAfter = "--B\r\nContent-Location: page1.tiff\r\n\r\n";
    wxMemoryInputStream b(nothingAfter.data(), nothingAfter.size());
    EXPECT_FALSE(PositionAtPageImage(b));

    // Not at the start of a line: not the header.
    const std::string inside = "X-Content-Location: p\r\n\r\nII*\0";
    wxMemoryInputStream c(inside.data(), inside.size());
    EXPECT_FALSE(PositionAtPageImage(c));
}

} // namespace

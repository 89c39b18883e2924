// The fake answers as the jobs expect the real services to: read here the way the jobs
// read them (line by line, the same markers and expression).
#include "fakeService.h"
#include "httpSession.h"
#include "netTestUtil.h"

#include <gtest/gtest.h>
#include <wx/mstream.h>
#include <wx/regex.h>
#include <wx/txtstrm.h>

#include <memory>
#include <vector>

using nettest::drain;

namespace {

class FakeAnswersTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.ok());
        nettest::clearProxyEnvironment();
        setenv("http_proxy", fake.proxyUrl().c_str(), 1);
    }
    void TearDown() override { nettest::clearProxyEnvironment(); }

    std::string get(const char* host, const std::string& path) {
        if (!session.Connect(host))
            return std::string();
        return drain(session.Request(wxString::FromUTF8(path.c_str())));
    }

    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        wxMemoryInputStream in(text.data(), text.size());
        wxTextInputStream reader(in, " \t");
        while (in.IsOk() && !in.Eof())
            out.push_back(reader.ReadLine().ToStdString());
        return out;
    }

    // The embed path of a page list, cut as the USPTO job cuts it.
    static std::string embedPath(const std::string& list) {
        std::string joined;
        for (const std::string& line : lines(list))
            if (!joined.empty() || line.find("embed src=") != std::string::npos)
                joined += line;
        size_t start = joined.find("embed src=");
        size_t end = joined.find("\" width=");
        if (start == std::string::npos || end == std::string::npos)
            return std::string();
        return joined.substr(start + 11, end - start - 11);
    }

    qvfake::FakeService fake;
    httpSession session{ConnectionType::Automatic, "", "", "", ""};
};

TEST_F(FakeAnswersTest, UsptoPageListsAndPages) {
    fake.addUsptoDocument("05123456", {"one", "two", "three"});
    fake.addUsptoDocument("20020000001", {"a1"}, {true, false, false, -1});
    fake.addUsptoDocument("D0123456", {"d1"}, {false, false, true, -1});

    std::string list = get("patimg1.uspto.gov", "/.piw?Docid=05123456&idkey=NONE");
    EXPECT_NE(std::string::npos, list.find("<!-- NumPages=3 -->\n"));
    std::string path = embedPath(list);
    ASSERT_EQ(fake.usptoPagePath("05123456", 1), path);
    size_t digit = path.find("PageNum=") + 8;
    ASSERT_EQ('1', path[digit]);
    EXPECT_EQ("three",
              get("patimg1.uspto.gov", path.substr(0, digit) + "3" + path.substr(digit + 1)));
    // Only its own host knows the document.
    EXPECT_NE(
        std::string::npos,
        get("patimg2.uspto.gov", "/.piw?Docid=05123456&idkey=NONE").find("<!-- NumPages=0 -->"));

    std::string split = get("aiw1.uspto.gov", "/.aiw?Docid=20020000001&idkey=NONE");
    for (const std::string& line : lines(split)) {
        if (line.find("embed src=") != std::string::npos) {
            EXPECT_EQ(std::string::npos, line.find(" width=")) << "the tag is not split";
        }
    }
    EXPECT_EQ("a1", get("aiw1.uspto.gov", embedPath(split)));

    std::string noPageNum = get("patimg1.uspto.gov", "/.piw?Docid=D0123456&idkey=NONE");
    EXPECT_EQ(std::string::npos, embedPath(noPageNum).find("PageNum="));
    EXPECT_EQ("d1", get("patimg1.uspto.gov", embedPath(noPageNum)));
}

TEST_F(FakeAnswersTest, PublicationSearch) {
    fake.addPublication("123456", "20020000001", "12%2F1%2F2001-%3E12%2F31%2F2004");
    const std::string base =
        "/netacgi/nph-Parser?Sect1=PTO2&Sect2=HITOFF&u=%2Fnetahtml%2FPTO%2Fsearch-adv.html&r=0&"
        "p=1&f=S&l=50&Query=APN%2F";
    auto firstHit = [](const std::string& page) {
        for (const std::string& line : lines(page)) {
            size_t at = line.find("/netacgi/nph-Parser?Sect1=PTO2&Sect2=HITOFF&u=%2Fnetahtml%2F"
                                  "PTO%2Fsearch-adv.html");
            if (at == std::string::npos)
                continue;
            std::string rest = line.substr(line.find('>', at) + 1);
            return rest.substr(0, rest.find("</A>"));
        }
        return std::string("none");
    };
    EXPECT_EQ("20020000001",
              firstHit(get("appft1.uspto.gov", base + "123456+and+APD%2F12%2F1%2F2001-%3E12%2F31%2F"
                                                      "2004&d=PG01")));
    EXPECT_EQ("none", firstHit(get("appft1.uspto.gov", base + "123456+and+APD%2F&d=PG01")));
    EXPECT_EQ("none", firstHit(get("appft1.uspto.gov", base + "999999+and+APD%2F&d=PG01")));
}

TEST_F(FakeAnswersTest, EspacenetInquiryAndRetrieval) {
    qvfake::EspacenetDocument doc;
    doc.pages = {std::string("II*\0page1", 9), std::string("II*\0page2", 9)};
    fake.addEspacenetDocument("EP1000000", doc);
    session.m_postData = "<input_request xsi:type=\"xsd:string\">&lt;OpenPatentServices "
                         "ACTION=&quot;DocumentInquiry&quot;&gt;&lt;WORLDPATENTDATA&gt;&lt;"
                         "INQUIRY SEED=&quot;EP1000000&quot; SEED_FORMAT=&quot;E&quot;/&gt;";
    std::string inquiry = get("ops.espacenet.com", "/OpenPatentServices/webService");
    wxRegEx instance("&lt;DOCUMENT_PHYSICAL_INSTANCE SYSTEM=&quot;(.*)&quot; ID=&quot;(.*)&quot; "
                     "NUMBER_OF_PAGES=&quot;(.*)&quot; DESC=&quot;FullDocument&quot;&gt;");
    ASSERT_TRUE(instance.IsValid());
    int matches = 0;
    for (const std::string& line : lines(inquiry))
        if (instance.Matches(line) && matches++ == 0) {
            EXPECT_EQ("EPODOC", instance.GetMatch(line, 1));
            EXPECT_EQ("EP1000000", instance.GetMatch(line, 2));
            EXPECT_EQ("2", instance.GetMatch(line, 3));
        }
    EXPECT_EQ(1, matches);

    session.m_postData = "&lt;OpenPatentServices ACTION=&quot;DocumentRetrieval&quot;&gt;&lt;"
                         "WORLDPATENTDATA&gt;&lt;DOCUMENT ID=&quot;EP1000000&quot; "
                         "SYSTEM=&quot;EPODOC&quot; FORMAT=&quot;SINGLE_PAGE_TIFF&quot; "
                         "PAGE_NUMBER=&quot;2&quot;/&gt;";
    std::string page = get("ops.espacenet.com", "/OpenPatentServices/webService");
    EXPECT_EQ(200u, session.m_status);
    size_t at = page.find("\r\nContent-Location:");
    ASSERT_NE(std::string::npos, at);
    size_t image = page.find("\r\n\r\n", at) + 4;
    EXPECT_EQ(std::string("II*\0page2", 9), page.substr(image, 9));
    EXPECT_EQ(0u, page.compare(image + 9, std::string::npos,
                               "\r\n--" + page.substr(2, page.find("\r\n") - 2) + "--\r\n"));

    session.m_postData.Replace("EP1000000", "EP9999999");
    EXPECT_NE(std::string::npos,
              get("ops.espacenet.com", "/OpenPatentServices/webService").find("<soapenv:Fault>"));
    EXPECT_EQ(500u, session.m_status);
}

TEST_F(FakeAnswersTest, MakersHostAndRules) {
    fake.setLatestVersion("22\n");
    fake.setDownload("program bytes", "signature bytes");
    EXPECT_EQ("22\n", get("www.quorvane.org", "/latest.html"));
    EXPECT_EQ("program bytes", get("www.quorvane.org", "/download.html"));
    EXPECT_EQ("signature bytes", get("www.quorvane.org", "/download.sig"));
    EXPECT_NE(std::string::npos, get("www.quorvane.org", "/proxyTest.htm").find("<html>"));

    // A rule counts its uses: the first two requests fail, the third is answered.
    fake.addRule("www.quorvane.org", "latest", qvfake::Fault::Status500, 2);
    EXPECT_EQ(500u, (get("www.quorvane.org", "/latest.html"), session.m_status));
    EXPECT_EQ(500u, (get("www.quorvane.org", "/latest.html"), session.m_status));
    EXPECT_EQ("22\n", get("www.quorvane.org", "/latest.html"));

    auto log = fake.requests();
    ASSERT_EQ(7u, log.size());
    EXPECT_EQ("www.quorvane.org", log[6].host);
    EXPECT_EQ("/latest.html", log[6].path);
    EXPECT_EQ("GET", log[6].method);
}

} // namespace

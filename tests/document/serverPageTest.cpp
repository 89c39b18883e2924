// AddPageFromServer over a real libcurl session, against the fake image host on 127.0.0.1.
#include "fakeService.h"
#include "fixtures.h"
#include "httpSession.h"
#include "pdfCheck.h"
#include "pdfWriter.h"
#include "testutil.h"

#include <gtest/gtest.h>

TEST(PdfWriterFromServer, FetchesPagesAndLeavesFailedRequestsToTheCaller) {
    qvfake::FakeService fake;
    ASSERT_TRUE(fake.ok());
    const std::string docid = "05123456";
    std::vector<std::string> pages;
    for (unsigned s = 1; s <= 3; ++s) {
        qvfix::FixtureOptions o;
        o.seed = s;
        o.coding = s == 2 ? qvfix::Coding::Group3_2D : qvfix::Coding::Group4;
        pages.push_back(qvfix::makeTiff(o));
    }
    fake.addUsptoDocument(docid, pages);
    const std::string host = qvfake::FakeService::usptoHost(docid);

    httpSession session(ConnectionType::HttpProxy, "127.0.0.1", wxString::Format("%d", fake.port()),
                        "", "");
    ASSERT_TRUE(session.m_ok);
    ASSERT_TRUE(session.Connect(host));

    qvtest::TempDir dir("qvdoc");
    const std::string path = dir.file("US5123456.pdf");
    {
        pdfWriter w(path, 3);
        ASSERT_TRUE(w.AddPageFromServer(session, fake.usptoPagePath(docid, 1)));

        // A dropped connection: no stream, m_message untouched, the page can be retried.
        fake.addRule(host, "", qvfake::Fault::Drop, 2);
        EXPECT_FALSE(w.AddPageFromServer(session, fake.usptoPagePath(docid, 2)));
        EXPECT_TRUE(w.m_ok);
        EXPECT_EQ(w.m_message, "");
        EXPECT_FALSE(session.GetError().empty());
        fake.clearRules();

        // An error page instead of the image: the reader's text, still retryable.
        qvfake::Response busy;
        busy.body = "<html>busy</html>";
        fake.setRoute(host, "/broken", busy);
        EXPECT_FALSE(w.AddPageFromServer(session, "/broken"));
        EXPECT_TRUE(w.m_ok);
        EXPECT_EQ(w.m_message, "Not a tiff image? 116");

        ASSERT_TRUE(w.AddPageFromServer(session, fake.usptoPagePath(docid, 2)));
        ASSERT_TRUE(w.AddPageFromServer(session, fake.usptoPagePath(docid, 3)));
    }
    pdfcheck::Pdf pdf;
    ASSERT_TRUE(pdfcheck::ReadPdf(path, 3, pdf));
    EXPECT_TRUE(pdfcheck::QpdfClean(path));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(pdfcheck::RendersLike(path, i + 1, pages[size_t(i)]));
}

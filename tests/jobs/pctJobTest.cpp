// Whole Espacenet jobs against the fake web service.
#include "jobHarness.h"

#include "fixtures.h"
#include "pct.h"

#include <algorithm>
#include <chrono>

namespace {

using qvfake::EspacenetDocument;
using qvfake::Fault;

const char kOps[] = "ops.espacenet.com";

EspacenetDocument Document(int pages, const std::string& id) {
    EspacenetDocument doc;
    doc.id = id;
    for (int i = 0; i < pages; ++i) {
        qvfix::FixtureOptions o;
        o.seed = 40 + static_cast<unsigned>(i);
        o.coding = i % 2 ? qvfix::Coding::Group3_1D : qvfix::Coding::Group4;
        doc.pages.push_back(qvfix::makeTiff(o));
    }
    return doc;
}

class PctJob : public JobTest {};

TEST_F(PctJob, TwoPageDocumentAsRequestedAndInOrder) {
    const EspacenetDocument doc = Document(2, "EP.1000000.A1");
    fake->addEspacenetDocument("EP1000000", doc);
    ASSERT_TRUE(Run(new pct(4, "EP1000000")));

    const std::string pdf = Path("EP1000000.pdf");
    EXPECT_EQ(
        recorder->Sequence(4),
        (std::vector<std::string>{"S:Downloading", "S:Downloading from worldwide.espacenet.com",
                                  "S:Downloading page 1 of 2", "S:Downloading page 2 of 2",
                                  "S:Finished!", "R:" + pdf, "E:" + pdf}));
    EXPECT_TRUE(PdfMatchesPages(pdf, doc.pages));

    const auto requests = fake->requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.host, kOps);
        EXPECT_EQ(r.path, "/OpenPatentServices/webService");
        EXPECT_EQ(r.header("SOAPAction"), "\"ops.espacenet.com/OpenPatentServices/webService\"");
        EXPECT_EQ(r.header("Content-Type"), "text/xml; charset=utf-8");
    }
    EXPECT_EQ(requests[0].body, PctInquiryEnvelope("EP1000000").ToStdString());
    EXPECT_EQ(requests[2].body, PctRetrievalEnvelope("EP.1000000.A1", "EPODOC", 2).ToStdString());
}

TEST_F(PctJob, NoUsableInstanceIsNotFound) {
    EspacenetDocument none = Document(2, "EP.2.A1");
    none.announcedPages = 0;
    fake->addEspacenetDocument("EP2", none);
    EspacenetDocument noSystem = Document(2, "EP.3.A1");
    noSystem.system = "";
    fake->addEspacenetDocument("EP3", noSystem);

    ASSERT_TRUE(Run(new pct(1, "EP2")));
    ASSERT_TRUE(Run(new pct(2, "EP3")));
    const std::string pdf = Path("EP2.pdf");
    EXPECT_EQ(
        recorder->Sequence(1),
        (std::vector<std::string>{"S:Downloading", "S:Downloading from worldwide.espacenet.com",
                                  "S:Not Found!", "E:" + pdf}));
    EXPECT_EQ(recorder->Statuses(2).back(), "Not Found!");
    EXPECT_EQ(fake->requestCount(), 2u);
    EXPECT_TRUE(Files().empty());
}

TEST_F(PctJob, UnwritableFolderIsErrorOpeningPdfAsForUsptoJobs) {
    fake->addEspacenetDocument("EP9", Document(1, "EP.9.A1"));
    ASSERT_TRUE(Run(new pct(1, JobInput("EP9", ConnectionSettingsRecord(), Path("missing")))));
    EXPECT_EQ(recorder->Statuses(1).back(), "Error Opening PDF");
    EXPECT_EQ(fake->requestCount(), 1u); // the inquiry, no page
}

TEST_F(PctJob, SoapFaultIsAConnectionErrorWithItsStatus) {
    EspacenetDocument doc = Document(1, "EP.4.A1");
    doc.inquiryFault = true;
    fake->addEspacenetDocument("EP4", doc);
    ASSERT_TRUE(Run(new pct(1, "EP4")));
    const std::string last = recorder->Statuses(1).back();
    EXPECT_EQ(last.rfind("Connection Error ", 0), 0u) << last;
    EXPECT_EQ(last.substr(last.size() - 7), " -- 500") << last;
    EXPECT_TRUE(recorder->Ended(1));
}

TEST_F(PctJob, SlashStaysInTheSeedAndBecomesADashInTheFileName) {
    const EspacenetDocument doc = Document(1, "WO.2004012345.A1");
    fake->addEspacenetDocument("WO2004/012345", doc);
    ASSERT_TRUE(Run(new pct(1, "WO2004/012345")));
    EXPECT_EQ(recorder->Statuses(1).back(), "Finished!");
    EXPECT_NE(fake->requests()[0].body.find("SEED=&quot;WO2004/012345&quot;"), std::string::npos);
    EXPECT_TRUE(PdfMatchesPages(Path("WO2004-012345.pdf"), doc.pages));

    // Once there, the file is not fetched again, and nothing is asked.
    fake->clearRequests();
    ASSERT_TRUE(Run(new pct(2, "WO2004/012345")));
    const std::string pdf = Path("WO2004-012345.pdf");
    EXPECT_EQ(
        recorder->Sequence(2),
        (std::vector<std::string>{"S:Downloading", "S:Downloading from worldwide.espacenet.com",
                                  "S:Previously Downloaded!", "R:" + pdf, "E:" + pdf}));
    EXPECT_EQ(fake->requestCount(), 0u);
}

TEST_F(PctJob, HostileNumberArrivesAsOneWellFormedSeed) {
    const std::string number = "EP15\"/><X";
    ASSERT_TRUE(Run(new pct(1, number)));
    ASSERT_EQ(fake->requestCount(), 1u);
    qvtest::TempDir dir("qvsoap");
    ASSERT_TRUE(qvtest::writeFile(dir.file("sent.xml"), fake->requests()[0].body));
    std::string inner;
    ASSERT_EQ(qvtest::runCommand("xmllint --xpath 'string(//input_request)' '" +
                                     dir.file("sent.xml") + "'",
                                 &inner),
              0);
    ASSERT_TRUE(qvtest::writeFile(dir.file("inner.xml"), inner));
    std::string seed;
    ASSERT_EQ(qvtest::runCommand("xmllint --xpath 'string(//INQUIRY/@SEED)' '" +
                                     dir.file("inner.xml") + "'",
                                 &seed),
              0);
    EXPECT_EQ(seed, number + "\n");
    // The fake knows no such document: a SOAP fault.
    const std::string last = recorder->Statuses(1).back();
    EXPECT_EQ(last.substr(last.size() - 7), " -- 500") << last;
}

TEST_F(PctJob, PageThatFailsTwiceIsRetriedAfterTwoCountdowns) {
    const EspacenetDocument doc = Document(3, "EP.5.A1");
    fake->addEspacenetDocument("EP5", doc);
    fake->addRule(kOps, "PAGE_NUMBER=&quot;2&quot;", Fault::EmptyBody, 2);
    ASSERT_TRUE(Run(new pct(1, "EP5")));
    EXPECT_EQ(recorder->Statuses(1).back(), "Finished!");
    EXPECT_EQ(recorder->CountStatusesContaining(1, "Downloading Tiff Reconnecting in "), 20u);
    EXPECT_EQ(recorder->CountStatusesContaining(
                  1, "Error Empty Stream Downloading Tiff Reconnecting in 10s"),
              2u);
    // The page is announced again after each countdown.
    EXPECT_EQ(recorder->CountStatusesContaining(1, "Downloading page 2 of 3"), 3u);
    EXPECT_TRUE(PdfMatchesPages(Path("EP5.pdf"), doc.pages));
}

TEST_F(PctJob, PageAnswerWithoutImagePartIsBadTiffAndRetried) {
    EspacenetDocument doc = Document(1, "EP.6.A1");
    doc.noContentLocation = true;
    fake->addEspacenetDocument("EP6", doc);
    pct* job = new pct(1, "EP6");
    Start(job);
    ASSERT_TRUE(WaitUntil([&] { return fake->requestCount() >= 3; })); // inquiry + 2 tries
    job->Delete();
    delete job;
    wxLog::FlushActive();
    // Said in the row, never in a box: a worker's log message would open one.
    EXPECT_TRUE(log->Messages().empty());
    EXPECT_GE(
        recorder->CountStatusesContaining(1, "Error bad tiff Downloading Tiff Reconnecting in 1s"),
        1u);
    EXPECT_TRUE(Files().empty());
}

TEST_F(PctJob, CancelDuringCountdownLeavesWithinASecond) {
    ziv2ize::SetCountdownStepMs(1000);
    fake->addEspacenetDocument("EP7", Document(2, "EP.7.A1"));
    fake->addRule(kOps, "PAGE_NUMBER=&quot;2&quot;", Fault::EmptyBody, -1);
    pct* job = new pct(1, "EP7");
    Start(job);
    ASSERT_TRUE(WaitUntil([&] { return recorder->CountStatusesContaining(1, "in 8s") == 1; }));
    const auto before = std::chrono::steady_clock::now();
    job->Delete();
    const auto took = std::chrono::steady_clock::now() - before;
    delete job;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);
    const size_t seen = recorder->events.size();
    recorder->Pump();
    EXPECT_EQ(recorder->events.size(), seen);
    EXPECT_FALSE(recorder->Ended(1));
    EXPECT_TRUE(Files().empty());
}

} // namespace

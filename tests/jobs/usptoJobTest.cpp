// Whole USPTO jobs against the fake image servers and search host.
#include "jobHarness.h"

#include "fixtures.h"
#include "uspto.h"

#include <algorithm>
#include <chrono>

namespace {

using qvfake::Fault;
using qvfake::PageListShape;

std::vector<std::string> Pages(int count, unsigned seed = 1) {
    std::vector<std::string> pages;
    for (int i = 0; i < count; ++i) {
        qvfix::FixtureOptions o;
        o.seed = seed + static_cast<unsigned>(i);
        o.coding = i % 2 ? qvfix::Coding::Group3_2D : qvfix::Coding::Group4;
        pages.push_back(qvfix::makeTiff(o));
    }
    return pages;
}

class UsptoJob : public JobTest {};

TEST_F(UsptoJob, PatentFromSecondaryHostInOrderOnOneConnection) {
    const std::vector<std::string> pages = Pages(3);
    fake->addUsptoDocument("5123456", pages);
    ASSERT_TRUE(Run(new uspto(7, "5123456")));

    const std::string pdf = Path("5123456.pdf");
    EXPECT_EQ(recorder->Sequence(7),
              (std::vector<std::string>{
                  "S:Downloading", "S:Downloading", "S:Downloading page 1 of 3", "U",
                  "S:Downloading page 2 of 3", "U", "S:Downloading page 3 of 3", "U", "S:Finished!",
                  "R:" + pdf, "E:" + pdf}));
    EXPECT_TRUE(PdfMatchesPages(pdf, pages));
    EXPECT_EQ(Files(), std::vector<std::string>{"5123456.pdf"});

    const auto requests = fake->requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].host, "patimg2.uspto.gov");
    EXPECT_EQ(requests[0].path, "/.piw?Docid=5123456&idkey=NONE");
    for (int page = 1; page <= 3; ++page) {
        EXPECT_EQ(requests[page].host, "patimg2.uspto.gov");
        EXPECT_EQ(requests[page].path, fake->usptoPagePath("5123456", page));
        EXPECT_EQ(requests[page].connection, requests[0].connection) << "keep-alive";
    }
}

TEST_F(UsptoJob, EveryFormFetchedFromItsHost) {
    struct Case {
        const char* typed;
        const char* docid;
        const char* host;
        const char* file;
    } cases[] = {
        {"4123456", "4123456", "patimg1.uspto.gov", "4123456.pdf"},
        {"d365123", "D0365123", "patimg1.uspto.gov", "D365123.pdf"},
        {"PP012835", "PP012835", "patimg1.uspto.gov", "PP12835.pdf"},
        {"RE35136A", "RE035136", "patimg1.uspto.gov", "RE35136.pdf"},
        {"T0106201", "T0106201", "patimg1.uspto.gov", "T106201.pdf"},
        {"H0001520", "H0001520", "patimg1.uspto.gov", "H1520.pdf"},
        {"AI000318", "AI000318", "patimg1.uspto.gov", "AI318.pdf"},
        {"X0000001", "X0000001", "patimg1.uspto.gov", "X1.pdf"},
        {"123", "123", "patimg1.uspto.gov", "123.pdf"},
        {"000612345678901", "612345678901", "patimg2.uspto.gov", "612345678901.pdf"},
        {"20020000001", "20020000001", "aiw1.uspto.gov", "20020000001.pdf"},
        {"55020000001", "55020000001", "aiw2.uspto.gov", "55020000001.pdf"},
    };
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        const std::vector<std::string> pages = Pages(1, static_cast<unsigned>(id) + 5);
        fake->addUsptoDocument(c.docid, pages);
        fake->clearRequests();
        ASSERT_TRUE(Run(new uspto(++id, c.typed)));
        EXPECT_EQ(recorder->Statuses(id).back(), "Finished!");
        const auto requests = fake->requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].host, c.host);
        EXPECT_EQ(requests[0].path, UsPageListLocation(c.docid).path);
        EXPECT_TRUE(PdfMatchesPages(Path(c.file), pages));
    }
}

TEST_F(UsptoJob, TwelvePagesFromASplitEmbedTag) {
    const std::vector<std::string> pages = Pages(12);
    PageListShape shape;
    shape.splitEmbed = true;
    fake->addUsptoDocument("6000001", pages, shape);
    ASSERT_TRUE(Run(new uspto(1, "6000001")));
    EXPECT_EQ(recorder->Statuses(1).back(), "Finished!");
    const auto requests = fake->requests();
    ASSERT_EQ(requests.size(), 13u);
    EXPECT_NE(requests[10].path.find("PageNum=10"), std::string::npos);
    EXPECT_EQ(requests[12].path, fake->usptoPagePath("6000001", 12));
    EXPECT_EQ(std::count_if(recorder->events.begin(), recorder->events.end(),
                            [](const JobEventRecord& e) { return e.kind == 'U'; }),
              12);
    EXPECT_TRUE(PdfMatchesPages(Path("6000001.pdf"), pages));
}

TEST_F(UsptoJob, PageListWithoutPagesEndsTheJob) {
    PageListShape noPageNum;
    noPageNum.noPageNum = true;
    fake->addUsptoDocument("4000001", Pages(2), noPageNum);
    PageListShape noCount;
    noCount.noNumPages = true;
    fake->addUsptoDocument("4000002", Pages(2), noCount);

    ASSERT_TRUE(Run(new uspto(1, "4000001")));
    ASSERT_TRUE(Run(new uspto(2, "4000002")));
    const std::string first = Path("4000001.pdf");
    EXPECT_EQ(recorder->Sequence(1), (std::vector<std::string>{"S:Downloading", "S:Downloading",
                                                               "S:Not Found", "E:" + first}));
    EXPECT_EQ(recorder->Statuses(2).back(), "Error Downloading Check Proxy");
    EXPECT_EQ(fake->requestCount(), 2u); // the two page lists, no page
    EXPECT_TRUE(Files().empty());
}

TEST_F(UsptoJob, SerialNumberResolvedThroughTheSearchHost) {
    const std::vector<std::string> pages = Pages(2);
    fake->addPublication("836917", "20010012345", "1%2F1%2F1998-%3E12%2F31%2F2001");
    fake->addUsptoDocument("20010012345", pages);
    ASSERT_TRUE(Run(new uspto(3, "09/836917")));

    EXPECT_EQ(recorder->Statuses(3).back(), "Finished!");
    EXPECT_TRUE(PdfMatchesPages(Path("9-836917.pdf"), pages));
    const auto requests = fake->requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].host, "appft1.uspto.gov");
    EXPECT_EQ(requests[0].path, UsSearchPath("9/836917"));
    EXPECT_EQ(requests[1].host, "aiw1.uspto.gov");
    EXPECT_EQ(requests[1].path, "/.aiw?Docid=20010012345&idkey=NONE");

    // Series 8 has no date range; an unknown serial is not found and nothing is fetched.
    fake->addPublication("123456", "20020000009");
    fake->addUsptoDocument("20020000009", Pages(1));
    fake->clearRequests();
    ASSERT_TRUE(Run(new uspto(4, "08\\123456")));
    EXPECT_EQ(recorder->Statuses(4).back(), "Finished!");
    EXPECT_EQ(fake->requests()[0].path, UsSearchPath("8/123456"));

    fake->clearRequests();
    recorder->events.clear();
    ASSERT_TRUE(Run(new uspto(5, "10/999999")));
    EXPECT_EQ(recorder->Sequence(5),
              (std::vector<std::string>{"S:Downloading", "S:Serial Number Not Found", "E:"}));
    ASSERT_EQ(fake->requestCount(), 1u);
    EXPECT_EQ(fake->requests()[0].host, "appft1.uspto.gov");
}

TEST_F(UsptoJob, UsesTheUsersProxyWhateverTheEnvironmentSays) {
    // Only the proxy entered in Setup leads out; the environment names a dead one.
    setenv("http_proxy", "http://127.0.0.1:9", 1);
    const std::vector<std::string> pages = Pages(2);
    fake->addPublication("836917", "20010012345", "1%2F1%2F1998-%3E12%2F31%2F2001");
    fake->addUsptoDocument("20010012345", pages);
    ConnectionSettingsRecord proxy;
    proxy.connectionType = int(ConnectionType::HttpProxy);
    proxy.proxyServer = "127.0.0.1";
    proxy.proxyPort = wxString::Format("%d", fake->port());
    qvtest::TempDir other("qvjobs-other");
    ASSERT_TRUE(Run(new uspto(3, JobInput("09/836917", proxy, other.path()))));
    EXPECT_EQ(recorder->Statuses(3).back(), "Finished!");
    // Into the folder it was given, not the current one.
    EXPECT_TRUE(PdfMatchesPages(other.file("9-836917.pdf"), pages));
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(fake->requestCount(), 4u); // search, page list, two pages
}

TEST_F(UsptoJob, NeverFinishedWithoutTheFile) {
    // A folder under the final name: said at once, nothing fetched.
    fake->addUsptoDocument("5000010", Pages(1));
    ASSERT_TRUE(wxMkdir(Path("5000010.pdf")));
    ASSERT_TRUE(Run(new uspto(1, "5000010")));
    EXPECT_EQ(recorder->Statuses(1).back(),
              "Error Writing PDF " + Path("5000010.pdf") + " is a folder");
    EXPECT_EQ(fake->requestCount(), 0u);

    // The download folder removed while the document downloads: the last step fails.
    const std::vector<std::string> pages = Pages(2);
    fake->addUsptoDocument("5000011", pages);
    fake->addRule("", fake->usptoPagePath("5000011", 2), Fault::None, 1,
                  std::chrono::milliseconds(400));
    auto gone = std::make_unique<qvtest::TempDir>("qvjobs-gone");
    const std::string folder = gone->path();
    std::unique_ptr<uspto> job(
        new uspto(2, JobInput("5000011", ConnectionSettingsRecord(), folder)));
    Start(job.get());
    ASSERT_TRUE(WaitUntil([&] { return fake->requestCount() >= 3; }));
    gone.reset();
    ASSERT_TRUE(WaitUntil([&] { return recorder->Ended(2); }));
    job->Wait();
    const auto statuses = recorder->Statuses(2);
    EXPECT_EQ(statuses.back().rfind("Error Writing PDF Renaming PDF to " + folder, 0), 0u)
        << statuses.back();
    EXPECT_EQ(recorder->CountStatusesContaining(2, "Finished!"), 0u);
    for (const auto& e : recorder->events)
        EXPECT_NE(e.kind, 'R');
}

TEST_F(UsptoJob, OddPublicationNumberCannotAlterThePageListRequest) {
    qvfake::Response answer;
    answer.body = "<A HREF=/netacgi/nph-Parser?Sect1=PTO2&Sect2=HITOFF&u=%2Fnetahtml%2FPTO%2F"
                  "search-adv.html&r=1>2001 0&idkey=X#/../?a</A>\n";
    fake->setRoute("appft1.uspto.gov", "/netacgi/nph-Parser", answer);
    ASSERT_TRUE(Run(new uspto(1, "9/1")));
    const auto requests = RequestsTo("patimg1.uspto.gov");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/.piw?Docid=2001%200%26idkey%3DX%23%2F..%2F%3Fa&idkey=NONE");
}

TEST_F(UsptoJob, ExistingFileMeansNoRequestAtAll) {
    ASSERT_TRUE(qvtest::writeFile(Path("RE35136.pdf"), "kept as it is"));
    uspto* job = new uspto(2, "RE035136");
    // The row says "Downloading" as soon as the job exists, before its thread runs.
    recorder->Pump();
    EXPECT_EQ(recorder->Statuses(2), std::vector<std::string>{"Downloading"});
    ASSERT_TRUE(Run(job));
    const std::string pdf = Path("RE35136.pdf");
    EXPECT_EQ(recorder->Sequence(2),
              (std::vector<std::string>{"S:Downloading", "S:Downloading",
                                        "S:Previously Downloaded!", "R:" + pdf, "E:" + pdf}));
    EXPECT_EQ(fake->requestCount(), 0u);
    EXPECT_EQ(qvtest::readFile(pdf), "kept as it is");
}

TEST_F(UsptoJob, UnknownFormatsEndBeforeAnyRequest) {
    const char* typed[] = {"DE123456", "5123456B1", "HK1234", "E12"};
    int id = 0;
    for (const char* t : typed) {
        SCOPED_TRACE(t);
        ASSERT_TRUE(Run(new uspto(++id, t)));
        EXPECT_EQ(recorder->Sequence(id),
                  (std::vector<std::string>{"S:Downloading", "S:Unknown Patent/Application Format",
                                            "E:"}));
    }
    EXPECT_EQ(fake->requestCount(), 0u);
}

TEST_F(UsptoJob, FailingPageAndPageListAreRetriedAfterCountdowns) {
    const std::vector<std::string> pages = Pages(3);
    fake->addUsptoDocument("5000002", pages);
    fake->addRule("patimg2.uspto.gov", ".piw", Fault::Drop, 1);
    fake->addRule("patimg2.uspto.gov", "PageNum=2", Fault::Status500, 2);
    ASSERT_TRUE(Run(new uspto(1, "5000002")));

    const std::vector<std::string> statuses = recorder->Statuses(1);
    EXPECT_EQ(statuses.back(), "Finished!");
    EXPECT_EQ(recorder->CountStatusesContaining(1, "Connection Error2 Error Downloading Tiff List "
                                                   "Reconnecting in "),
              10u);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(),
                        "Connection Error2 Error Downloading Tiff List Reconnecting in 1"),
              statuses.end());
    // Two failed attempts at page 2: two countdowns, and page 2 announced once.
    EXPECT_EQ(recorder->CountStatusesContaining(1, " Error Downloading Page Reconencting in "),
              20u);
    EXPECT_EQ(recorder->CountStatusesContaining(1, "Reconencting in 10s"), 2u);
    EXPECT_EQ(recorder->CountStatusesContaining(1, "Reconencting in 1s"), 2u);
    EXPECT_EQ(recorder->CountStatusesContaining(1, "Downloading page 2 of 3"), 1u);
    EXPECT_TRUE(PdfMatchesPages(Path("5000002.pdf"), pages));
}

TEST_F(UsptoJob, UnusablePageEndsWithoutAPdfAndALaterJobDownloadsAgain) {
    std::vector<std::string> pages = Pages(3);
    qvfix::FixtureOptions blackIsZero;
    blackIsZero.photometric = 1;
    std::vector<std::string> bad = pages;
    bad[1] = qvfix::makeTiff(blackIsZero);
    fake->addUsptoDocument("5000003", bad);
    ASSERT_TRUE(Run(new uspto(1, "5000003")));
    const std::string pdf = Path("5000003.pdf");
    EXPECT_EQ(recorder->Sequence(1).back(), "E:" + pdf);
    EXPECT_EQ(recorder->Statuses(1).back(),
              "Colorspace unsupported! Error Downloading page 2 Colorspace unsupported!");
    EXPECT_TRUE(Files().empty());

    fake->addUsptoDocument("5000003", pages);
    ASSERT_TRUE(Run(new uspto(2, "5000003")));
    EXPECT_EQ(recorder->Statuses(2).back(), "Finished!");
    EXPECT_TRUE(PdfMatchesPages(pdf, pages));
}

// Real one-second steps: a cancelled job must not sit out its pause.
TEST_F(UsptoJob, CancelDuringCountdownLeavesWithinASecondAndPostsNothing) {
    ziv2ize::SetCountdownStepMs(1000);
    const std::vector<std::string> pages = Pages(2);
    fake->addUsptoDocument("5000004", pages);
    fake->addRule("patimg2.uspto.gov", "PageNum=2", Fault::Status500, -1);
    uspto* job = new uspto(1, "5000004");
    Start(job);
    ASSERT_TRUE(WaitUntil([&] { return recorder->CountStatusesContaining(1, "in 9s") == 1; }));
    const auto before = std::chrono::steady_clock::now();
    job->Delete();
    const auto took = std::chrono::steady_clock::now() - before;
    delete job;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);

    const size_t seen = recorder->events.size();
    recorder->Pump();
    wxThread::Sleep(50);
    recorder->Pump();
    for (size_t i = seen; i < recorder->events.size(); ++i)
        EXPECT_NE(recorder->events[i].kind, 'E');
    EXPECT_FALSE(recorder->Ended(1));
    EXPECT_TRUE(Files().empty()) << "no PDF and no partial file";

    fake->clearRules();
    ASSERT_TRUE(Run(new uspto(2, "5000004")));
    EXPECT_EQ(recorder->Statuses(2).back(), "Finished!");
    EXPECT_TRUE(PdfMatchesPages(Path("5000004.pdf"), pages));
}

TEST_F(UsptoJob, CancelDuringAStalledRequestLeavesPromptly) {
    fake->addUsptoDocument("5000005", Pages(2));
    fake->addRule("patimg2.uspto.gov", "PageNum=2", Fault::Stall, -1);
    uspto* job = new uspto(1, "5000005");
    Start(job);
    ASSERT_TRUE(WaitUntil([&] { return RequestsTo("patimg2.uspto.gov").size() == 3; }));
    wxThread::Sleep(200); // well inside the request
    const auto before = std::chrono::steady_clock::now();
    job->Delete();
    const auto took = std::chrono::steady_clock::now() - before;
    delete job;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1500);
    recorder->Pump();
    EXPECT_FALSE(recorder->Ended(1));
    EXPECT_TRUE(Files().empty());
    fake->releaseStalls();
}

} // namespace

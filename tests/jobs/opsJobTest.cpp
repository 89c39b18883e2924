// Whole EPO jobs against the fake service: HTTPS through the fake as the proxy (CONNECT),
// the test CA trusted through CURL_CA_BUNDLE, every page through libcurl and real sockets.
#include "opsJobHarness.h"

#include "fixtures.h"

#include <algorithm>

namespace {

using qvfake::OpsFault;
using qvfake::OpsFaultOptions;

// The requests of one kind, in arrival order.
std::vector<qvfake::RecordedRequest> Matching(const std::vector<qvfake::RecordedRequest>& all,
                                              const std::string& part) {
    std::vector<qvfake::RecordedRequest> out;
    for (const auto& r : all)
        if (r.server == "tls" && r.path.find(part) != std::string::npos)
            out.push_back(r);
    return out;
}

TEST_F(OpsJob, EpDocumentWithTheRealPageAsServedAndInOrder) {
    const std::vector<std::string> pages = {qvfake::opsSample("EP2400812A1-fullimage-p1.tiff"),
                                            qvfake::opsPage(2, 400, 560),
                                            qvfake::opsLandscapePage(3, 560, 400)};
    ASSERT_FALSE(pages[0].empty());
    service->addPublication(qvfake::opsPublication("EP", "2400812", "A1", pages, {pages[2]}));
    const bool ran = Run(MakeJob(4, "EP2400812"));
    ASSERT_TRUE(ran);

    const std::string pdf = Path("EP2400812.pdf");
    EXPECT_EQ(recorder->Sequence(4),
              (std::vector<std::string>{"S:Downloading", "S:Downloading from ops.epo.org",
                                        "S:Downloading EP 2400812 A1 page 1 of 3",
                                        "S:Downloading EP 2400812 A1 page 2 of 3",
                                        "S:Downloading EP 2400812 A1 page 3 of 3", "S:Finished!",
                                        "R:" + pdf, "E:" + pdf}));
    EXPECT_TRUE(PdfMatchesPages(pdf, pages));

    const auto all = fake->requests();
    const auto token = Matching(all, "/3.2/auth/accesstoken");
    ASSERT_EQ(token.size(), 1u);
    EXPECT_EQ(token[0].method, "POST");
    EXPECT_EQ(token[0].body, "grant_type=client_credentials");
    EXPECT_EQ(token[0].header("Content-Type"), "application/x-www-form-urlencoded");
    const auto inquiry = Matching(all, "/publication/");
    ASSERT_EQ(inquiry.size(), 1u);
    EXPECT_EQ(inquiry[0].path,
              "/3.2/rest-services/published-data/publication/epodoc/EP2400812/images");
    const auto got = Matching(all, "fullimage");
    ASSERT_EQ(got.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i].path,
                  "/3.2/rest-services/published-data/images/EP/2400812/A1/fullimage.tiff?Range=" +
                      std::to_string(i + 1));
        EXPECT_EQ(got[i].header("Authorization"), "Bearer " + service->tokens().front());
    }
    // Every request went through the tunnel; none in the clear.
    for (const auto& r : all)
        EXPECT_NE(r.server, "http") << r.target;
    ExpectNoSecretShown();
}

struct Publication {
    const char* typed;
    const char* country;
    const char* number;             // docdb
    std::vector<const char*> kinds; // the publications the service holds, each of 2 pages
    const char* taken;              // the kind the job must fetch
    const char* file;
    const char* inquiry;
};

TEST_F(OpsJob, EveryNumberFormEndsAsThePublicationItNames) {
    const Publication table[] = {
        {"WO2010050748A2",
         "WO",
         "2010050748",
         {"A2", "A3"},
         "A2",
         "WO2010050748A2.pdf",
         "docdb/WO.2010050748.A2/images"},
        {"5,123,456", "US", "5123456", {"A"}, "A", "5123456.pdf", "epodoc/US5123456/images"},
        {"6123456", "US", "6123456", {"A1", "B2"}, "B2", "6123456.pdf", "epodoc/US6123456/images"},
        {"D0365123", "US", "D365123", {"S"}, "S", "D365123.pdf", "epodoc/USD365123/images"},
        {"RE35136", "US", "RE35136", {"E"}, "E", "RE35136.pdf", "epodoc/USRE35136/images"},
        {"20020000001",
         "US",
         "2002000001",
         {"A1"},
         "A1",
         "20020000001.pdf",
         "epodoc/US2002000001/images"},
        {"EP1000000",
         "EP",
         "1000000",
         {"A1", "B1"},
         "B1",
         "EP1000000.pdf",
         "epodoc/EP1000000/images"},
        {"EP1000000A1",
         "EP",
         "1000000",
         {"A1", "B1"},
         "A1",
         "EP1000000A1.pdf",
         "docdb/EP.1000000.A1/images"},
        {"EP2000000",
         "EP",
         "2000000",
         {"A3", "A2"},
         "A2",
         "EP2000000.pdf",
         "epodoc/EP2000000/images"},
    };
    int id = 0;
    unsigned seed = 10;
    for (const Publication& p : table) {
        SCOPED_TRACE(p.typed);
        service->clearPublications();
        fake->clearRequests();
        std::vector<std::string> taken;
        for (const char* kind : p.kinds) {
            const std::vector<std::string> pages = {qvfake::opsPage(++seed, 240, 320),
                                                    qvfake::opsPage(++seed, 240, 320)};
            if (std::string(kind) == p.taken)
                taken = pages;
            if (std::string(kind) == "A3")
                service->addPublication(qvfake::opsSearchReport(p.country, p.number, kind, pages));
            else
                service->addPublication(qvfake::opsPublication(p.country, p.number, kind, pages));
        }
        ++id;
        ASSERT_TRUE(Run(MakeJob(id, p.typed)));
        EXPECT_EQ(recorder->Statuses(id).back(), "Finished!");
        EXPECT_EQ(recorder->CountStatusesContaining(id, std::string("Downloading ") + p.country +
                                                            " " + p.number + " " + p.taken +
                                                            " page 2 of 2"),
                  1u);
        EXPECT_TRUE(PdfMatchesPages(Path(p.file), taken));
        const auto inquiries = Matching(fake->requests(), "/publication/");
        ASSERT_EQ(inquiries.size(), 1u);
        EXPECT_EQ(inquiries[0].path,
                  std::string("/3.2/rest-services/published-data/publication/") + p.inquiry);
    }
    EXPECT_EQ(service->stats().tokenRequests, 1) << "one token for every job of the key";
}

TEST_F(OpsJob, CertificateOfCorrectionIsNeverTheDocument) {
    const std::vector<std::string> pages = {qvfake::opsPage(1, 240, 320),
                                            qvfake::opsPage(2, 240, 320)};
    qvfake::OpsPublication us = qvfake::opsPublication("US", "7000001", "B2", pages);
    // The certificate comes first in the answer.
    us.instances.insert(us.instances.begin(), qvfake::opsCertificateOfCorrection(
                                                  "7000001", {qvfake::opsPage(9, 240, 320)}));
    service->addPublication(us);
    ASSERT_TRUE(Run(MakeJob(1, "7000001")));
    EXPECT_TRUE(PdfMatchesPages(Path("7000001.pdf"), pages));
    EXPECT_TRUE(Matching(fake->requests(), "X6").empty());
}

TEST_F(OpsJob, UnknownDocumentIsNotFound) {
    ASSERT_TRUE(Run(MakeJob(1, "EP9999999")));
    ASSERT_TRUE(Run(MakeJob(2, "EP9999999B1")));
    EXPECT_EQ(recorder->Statuses(1).back(), "Not Found!");
    EXPECT_EQ(recorder->Statuses(2).back(), "Not Found!");
    // A typed kind the service does not hold is not found either, nothing else is taken.
    service->addPublication(
        qvfake::opsPublication("EP", "3000000", "A1", {qvfake::opsPage(1, 240, 320)}));
    ASSERT_TRUE(Run(MakeJob(3, "EP3000000B1")));
    EXPECT_EQ(recorder->Statuses(3).back(), "Not Found!");
    EXPECT_TRUE(Matching(fake->requests(), "fullimage").empty());
    EXPECT_TRUE(Files().empty());
}

TEST_F(OpsJob, TokenExpiringHalfWayIsRenewedExactlyOnceAndThePageReplayed) {
    const std::vector<std::string> pages = Pages(4);
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", pages));
    service->addRule("fullimage.tiff?Range=3", OpsFault::ExpireToken);
    ASSERT_TRUE(Run(MakeJob(1, "EP1000000")));
    EXPECT_EQ(recorder->Statuses(1).back(), "Finished!");
    EXPECT_TRUE(PdfMatchesPages(Path("EP1000000.pdf"), pages));
    const auto tokens = service->tokens();
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(service->stats().tokenRequests, 2);
    EXPECT_EQ(service->stats().invalidTokenAnswers, 1);
    // Page 3 asked twice (the old token, then the new one); no page before it again.
    const auto got = Matching(fake->requests(), "fullimage");
    std::vector<std::string> sent;
    for (const auto& r : got)
        sent.push_back(r.path.substr(r.path.find("Range=")) + " " +
                       (r.header("Authorization") == "Bearer " + tokens[0] ? "old" : "new"));
    EXPECT_EQ(sent, (std::vector<std::string>{"Range=1 old", "Range=2 old", "Range=3 old",
                                              "Range=3 new", "Range=4 new"}));
    EXPECT_EQ(recorder->CountStatusesContaining(1, "Reconnecting"), 0u);
}

TEST_F(OpsJob, ShortLivedTokensAreRenewedBeforeTheyRunOut) {
    service->setTokenLifetime(std::chrono::seconds(2));
    service->setThrottle(Allowing(120)); // a page every half second: the document takes 3 s
    const std::vector<std::string> pages = Pages(6);
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", pages));
    ASSERT_TRUE(Run(MakeJob(1, "EP1000000")));
    EXPECT_EQ(recorder->Statuses(1).back(), "Finished!");
    EXPECT_GE(service->stats().tokensIssued, 2);
    EXPECT_EQ(service->stats().invalidTokenAnswers, 0) << "renewed before the service refused it";
}

TEST_F(OpsJob, RefusedKeyEndsAtOnceAndEveryQueuedJobWithIt) {
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", Pages(2)));
    key.secret = "wrong secret";
    ASSERT_TRUE(Run(MakeJob(1, "EP1000000")));
    ASSERT_TRUE(Run(MakeJob(2, "EP1000000")));
    const std::string text = "EPO Refused the Key! Check the Consumer Key and Secret in Setup";
    EXPECT_EQ(recorder->Sequence(1),
              (std::vector<std::string>{"S:Downloading", "S:Downloading from ops.epo.org",
                                        "S:" + text, "E:" + Path("EP1000000.pdf")}));
    EXPECT_EQ(recorder->Statuses(2).back(), text);
    EXPECT_EQ(service->stats().tokenRequests, 1);
    EXPECT_TRUE(Files().empty());
    ExpectNoSecretShown();
}

TEST_F(OpsJob, BlackLightWaitsItsRetryAfterAndResumesTheSamePage) {
    const std::vector<std::string> pages = Pages(3);
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", pages));
    OpsFaultOptions black;
    black.retryAfterMs = 2500;
    service->addRule("fullimage.tiff?Range=2", OpsFault::BlackLight, 1, black);
    ASSERT_TRUE(Run(MakeJob(1, "EP1000000")));
    EXPECT_EQ(recorder->Statuses(1).back(), "Finished!");
    EXPECT_TRUE(PdfMatchesPages(Path("EP1000000.pdf"), pages));
    EXPECT_EQ(recorder->CountStatusesContaining(1, "EPO Asks to Wait, Resuming Page 2 in 3s"), 1u);
    EXPECT_EQ(recorder->CountStatusesContaining(1, "EPO Asks to Wait, Resuming Page 2 in 1s"), 1u);
    const auto got = Matching(fake->requests(), "fullimage");
    ASSERT_EQ(got.size(), 4u);
    EXPECT_NE(got[1].path.find("Range=2"), std::string::npos);
    EXPECT_NE(got[2].path.find("Range=2"), std::string::npos);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(got[2].arrival - got[1].arrival)
                  .count(),
              2500);
    EXPECT_EQ(service->stats().throttleRejections, 0);
}

// A black light that asks for no wait at all still gets one: a second, then two, counted down.
TEST_F(OpsJob, BlackLightWithoutAWaitWaitsASecondDoubling) {
    const std::vector<std::string> pages = Pages(2);
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", pages));
    OpsFaultOptions black;
    black.retryAfterMs = 0;
    service->addRule("fullimage.tiff?Range=2", OpsFault::BlackLight, 2, black);
    ASSERT_TRUE(Run(MakeJob(1, "EP1000000")));
    EXPECT_EQ(recorder->Statuses(1).back(), "Finished!");
    EXPECT_EQ(recorder->CountStatusesContaining(1, "EPO Asks to Wait, Resuming Page 2 in 2s"), 1u);
    const auto got = Matching(fake->requests(), "Range=2");
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 1; i < got.size(); ++i)
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(got[i].arrival -
                                                                        got[i - 1].arrival)
                      .count(),
                  long(1000 << (i - 1)));
}

TEST_F(OpsJob, WeeklyQuotaEndsTheJobAndKeepsTheLastFigure) {
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", Pages(3)));
    service->setQuotaUsed(0, 3999000000ULL);
    for (bool json : {false, true}) {
        SCOPED_TRACE(json ? "JSON" : "XML");
        OpsFaultOptions o;
        o.json = json;
        service->addRule("fullimage.tiff?Range=2", OpsFault::WeekQuota, 1, o);
        const int id = json ? 2 : 1;
        ASSERT_TRUE(Run(MakeJob(id, "EP1000000")));
        EXPECT_EQ(recorder->Statuses(id).back(), "EPO Weekly Quota Used Up! Try Again Next Week");
        EXPECT_EQ(recorder->CountStatusesContaining(id, "Reconnecting"), 0u);
        EXPECT_TRUE(Files().empty());
    }
    EXPECT_GE(OpsWeekQuotaUsedBytes(), 3999000000LL);
}

TEST_F(OpsJob, HourlyQuotaCountsDownAndCarriesOn) {
    const std::vector<std::string> pages = Pages(2);
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", pages));
    OpsFaultOptions o;
    o.json = true;
    service->addRule("fullimage.tiff?Range=2", OpsFault::HourQuota, 1, o);
    ASSERT_TRUE(Run(MakeJob(1, "EP1000000")));
    for (int n = 10; n >= 1; --n)
        EXPECT_EQ(recorder->CountStatusesContaining(1, "EPO Hourly Quota Used Up, Retrying in " +
                                                           std::to_string(n) + " min"),
                  1u);
    EXPECT_EQ(recorder->Statuses(1).back(), "Finished!");
    EXPECT_TRUE(PdfMatchesPages(Path("EP1000000.pdf"), pages));
    EXPECT_EQ(Matching(fake->requests(), "fullimage.tiff?Range=1").size(), 1u);
}

TEST_F(OpsJob, FlappingAndOddHeadersNeverProvokeARejection) {
    // Two jobs at once while the servers disagree: idle 600 and busy 300 pages a minute. The
    // pacer follows 300; any burst faster than that gets a 403 from the fake.
    qvfake::OpsThrottle idle = Allowing(600), busy = Allowing(300);
    busy.state = "busy";
    service->setThrottleCycle({idle, busy});
    OpsFaultOptions doubled;
    doubled.throttle = busy;
    service->addRule("Range=2", OpsFault::NoThrottleHeader, 2);
    service->addRule("Range=3", OpsFault::DoubledThrottleHeader, 2, doubled);
    const std::vector<std::string> a = Pages(6), b = Pages(6, 30);
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", a));
    service->addPublication(qvfake::opsPublication("WO", "2010050748", "A2", b));
    ziv2ize* first = MakeJob(1, "EP1000000");
    ziv2ize* second = MakeJob(2, "WO2010050748");
    Start(first);
    Start(second);
    ASSERT_TRUE(WaitUntil([&] { return recorder->Ended(1) && recorder->Ended(2); }, 30000));
    first->Wait();
    second->Wait();
    delete first;
    delete second;
    recorder->Pump();
    EXPECT_TRUE(PdfMatchesPages(Path("EP1000000.pdf"), a));
    EXPECT_TRUE(PdfMatchesPages(Path("WO2010050748.pdf"), b));
    EXPECT_EQ(service->stats().throttleRejections, 0);
    // Spaced as the busy allowance spaces them (about 206 ms), not as the idle one (103 ms);
    // a single gap may shrink by the network's jitter, never to two requests at once.
    const auto got = Matching(fake->requests(), "fullimage");
    ASSERT_EQ(got.size(), 12u);
    for (size_t i = 1; i < got.size(); ++i)
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(got[i].arrival -
                                                                        got[i - 1].arrival)
                      .count(),
                  60)
            << "request " << i;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(got.back().arrival -
                                                                    got.front().arrival)
                  .count(),
              11 * 180);
}

TEST_F(OpsJob, PreviouslyDownloadedAsksNothing) {
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", Pages(1)));
    ASSERT_TRUE(Run(MakeJob(1, "EP1000000")));
    fake->clearRequests();
    ASSERT_TRUE(Run(MakeJob(2, "EP 1000000")));
    EXPECT_EQ(recorder->Statuses(2).back(), "Previously Downloaded!");
    EXPECT_TRUE(fake->requests().empty());
}

} // namespace

namespace {

// Sets a SHORT entry of the first directory of a big-endian TIFF (the served form).
bool SetBigEndianShort(std::string& tiff, uint16_t tag, uint16_t value) {
    auto byte = [&](size_t at) { return static_cast<unsigned char>(tiff[at]); };
    if (tiff.size() < 8 || tiff.compare(0, 2, "MM") != 0)
        return false;
    const size_t ifd =
        (size_t(byte(4)) << 24) | (size_t(byte(5)) << 16) | (size_t(byte(6)) << 8) | byte(7);
    if (ifd + 2 > tiff.size())
        return false;
    const size_t count = (size_t(byte(ifd)) << 8) | byte(ifd + 1);
    for (size_t i = 0; i < count && ifd + 2 + 12 * (i + 1) <= tiff.size(); ++i) {
        const size_t entry = ifd + 2 + 12 * i;
        if (((byte(entry) << 8) | byte(entry + 1)) != tag)
            continue;
        tiff[entry + 8] = static_cast<char>(value >> 8);
        tiff[entry + 9] = static_cast<char>(value & 0xff);
        return true;
    }
    return false;
}

// One line per bookmark, "Title@page", as qpdf reads the outline; and the subject.
std::vector<std::string> Outline(const std::string& pdf) {
    std::string json;
    qvtest::runCommand("qpdf --json=2 --json-key=outlines '" + pdf + "'", &json);
    std::vector<std::string> out;
    size_t at = 0;
    while ((at = json.find("\"destpageposfrom1\": ", at)) != std::string::npos) {
        at += 20;
        const int page = std::atoi(json.c_str() + at);
        const size_t title = json.find("\"title\": \"", at);
        if (title == std::string::npos)
            break;
        const size_t end = json.find('"', title + 10);
        out.push_back(json.substr(title + 10, end - title - 10) + "@" + std::to_string(page));
    }
    return out;
}

TEST_F(OpsJob, OutlineFollowsTheSectionsAndTheSubjectNamesThePublication) {
    qvfake::OpsPublication pub = qvfake::opsPublication("EP", "1000000", "B1", Pages(5));
    pub.instances[0].sections = {{"CLAIMS", 4},
                                 {"BIBLIOGRAPHY", 1},
                                 {"DESCRIPTION", 2},
                                 {"ABSTRACT", 1},
                                 {"SEARCH_REPORT", 5}};
    service->addPublication(pub);
    ASSERT_TRUE(Run(MakeJob(1, "EP1000000")));
    const std::string pdf = Path("EP1000000.pdf");
    EXPECT_EQ(Outline(pdf),
              (std::vector<std::string>{"Bibliography@1", "Abstract@1", "Description@2", "Claims@4",
                                        "Search report@5"}));
    std::string info;
    qvtest::runCommand("pdfinfo '" + pdf + "'", &info);
    const size_t subject = info.find("Subject:");
    ASSERT_NE(subject, std::string::npos) << info;
    const size_t value = info.find_first_not_of(' ', subject + 8);
    EXPECT_EQ(info.substr(value, info.find('\n', value) - value), "EP 1000000 B1");
}

TEST_F(OpsJob, PageWhoseTiffCannotGoInUnchangedComesFromItsPdfWithItsRotation) {
    // Page 2's TIFF says black is zero, which the writer does not embed; its PDF form holds
    // the same Group 4 strip.
    const std::vector<std::string> pages = Pages(3);
    std::vector<std::string> served = pages;
    ASSERT_TRUE(SetBigEndianShort(served[1], 262, 1));
    qvfake::OpsPublication upright = qvfake::opsPublication("EP", "1000000", "B1", served);
    service->addPublication(upright);
    qvfake::OpsPublication turned = qvfake::opsPublication("EP", "1000001", "B1", served);
    turned.instances[0].rotate = {0, 90, 0};
    service->addPublication(turned);

    ASSERT_TRUE(Run(MakeJob(1, "EP1000000")));
    ASSERT_TRUE(Run(MakeJob(2, "EP1000001")));
    EXPECT_EQ(recorder->Statuses(1).back(), "Finished!");
    EXPECT_TRUE(PdfMatchesPages(Path("EP1000000.pdf"), pages));
    const auto all = fake->requests();
    EXPECT_EQ(Matching(all, "fullimage.pdf").size(), 2u);
    EXPECT_EQ(Matching(all, "fullimage.pdf?Range=2").size(), 2u);

    std::string info;
    qvtest::runCommand("pdfinfo -f 1 -l 3 '" + Path("EP1000001.pdf") + "'", &info);
    EXPECT_NE(info.find("Page    1 rot:   0"), std::string::npos) << info;
    EXPECT_NE(info.find("Page    2 rot:   90"), std::string::npos) << info;
    EXPECT_NE(info.find("Page    3 rot:   0"), std::string::npos) << info;
}

} // namespace

namespace {

// The small program that fetches one document with a key from the environment.
TEST_F(OpsJob, FetchProgramDownloadsWithTheKeyFromTheEnvironment) {
    const std::vector<std::string> pages = Pages(2);
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", pages));
    const std::string program = QV_OPS_FETCH;
    const std::string folder = Path("");
    std::string out;
    setenv("QUORVANE_OPS_KEY", qvfake::kOpsSampleKey, 1);
    setenv("QUORVANE_OPS_SECRET", qvfake::kOpsSampleSecret, 1);
    EXPECT_EQ(qvtest::runCommand("'" + program + "' EP1000000B1 '" + folder + "' 2>&1", &out), 0)
        << out;
    EXPECT_NE(out.find("Downloading EP 1000000 B1 page 2 of 2\nFinished!\n"), std::string::npos)
        << out;
    EXPECT_TRUE(PdfMatchesPages(Path("EP1000000B1.pdf"), pages));
    EXPECT_EQ(out.find(qvfake::kOpsSampleSecret), std::string::npos);

    setenv("QUORVANE_OPS_SECRET", "wrong", 1);
    EXPECT_EQ(qvtest::runCommand("'" + program + "' EP1000000 '" + folder + "' 2>&1", &out), 1);
    EXPECT_NE(out.find("EPO Refused the Key!"), std::string::npos) << out;
    unsetenv("QUORVANE_OPS_SECRET");
    EXPECT_EQ(qvtest::runCommand("'" + program + "' EP1000000 2>&1", &out), 2);
    unsetenv("QUORVANE_OPS_KEY");
}

} // namespace

namespace {

TEST_F(OpsJob, PageTheInquiryPromisedButTheServiceLacksEndsTheDocument) {
    qvfake::OpsPublication pub = qvfake::opsPublication("EP", "1000000", "B1", Pages(2));
    pub.instances[0].announcedPages = 3;
    service->addPublication(pub);
    ASSERT_TRUE(Run(MakeJob(1, "EP1000000")));
    EXPECT_EQ(recorder->Statuses(1).back(), "Error Page 3 Not Found!");
    EXPECT_EQ(Matching(fake->requests(), "fullimage.tiff?Range=3").size(), 1u);
    EXPECT_TRUE(Files().empty());
}

} // namespace

namespace {

TEST_F(OpsJob, CancelWhileTheServiceAsksToWaitLeavesAtOnce) {
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", Pages(3)));
    OpsFaultOptions black;
    black.retryAfterMs = 600000; // ten minutes, as seen in the middle of documents
    service->addRule("fullimage.tiff?Range=2", OpsFault::BlackLight, 1, black);
    ziv2ize* job = MakeJob(1, "EP1000000");
    Start(job);
    ASSERT_TRUE(WaitUntil([&] {
        return recorder->CountStatusesContaining(1, "EPO Asks to Wait, Resuming Page 2 in 600s") ==
               1;
    }));
    const auto before = std::chrono::steady_clock::now();
    job->Delete();
    const auto took = std::chrono::steady_clock::now() - before;
    delete job;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);
    EXPECT_TRUE(Files().empty());
}

} // namespace

// The EPO source's parts on their own: typed numbers, the images inquiry and the choice of
// a publication, the throttling header and the pacer, the token answer and the token store.
#include "opsInquiry.h"
#include "opsNumber.h"
#include "opsPacer.h"
#include "opsToken.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string ReadSample(const std::string& name) {
    std::ifstream in(std::string(QV_OPS_SAMPLES) + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct NumberCase {
    const char* typed;
    const char* inquiry; // empty: refused
    const char* name;
    const char* display;
};

TEST(OpsNumber, TypedFormsGiveTheirInquiryAndFileName) {
    const NumberCase cases[] = {
        {"EP1000000", "published-data/publication/epodoc/EP1000000/images", "EP1000000",
         "EP 1000000"},
        {"EP1000000B1", "published-data/publication/docdb/EP.1000000.B1/images", "EP1000000B1",
         "EP 1000000 B1"},
        {"ep1000000.b1", "published-data/publication/docdb/EP.1000000.B1/images", "EP1000000B1",
         "EP 1000000 B1"},
        {"EP 1000000 B1", "published-data/publication/docdb/EP.1000000.B1/images", "EP1000000B1",
         "EP 1000000 B1"},
        {"EP.1000000.A3", "published-data/publication/docdb/EP.1000000.A3/images", "EP1000000A3",
         "EP 1000000 A3"},
        {"WO2010050748A2", "published-data/publication/docdb/WO.2010050748.A2/images",
         "WO2010050748A2", "WO 2010050748 A2"},
        {"WO2004/012345", "published-data/publication/epodoc/WO2004012345/images", "WO2004-012345",
         "WO 2004012345"},
        // US grants without leading zeros, named as the USPTO job names them.
        {"5,123,456", "published-data/publication/epodoc/US5123456/images", "5123456",
         "US 5123456"},
        {"0005123456", "published-data/publication/epodoc/US5123456/images", "5123456",
         "US 5123456"},
        {"US5123456B2", "published-data/publication/docdb/US.5123456.B2/images", "5123456B2",
         "US 5123456 B2"},
        {"US5123456A", "published-data/publication/docdb/US.5123456.A/images", "5123456A",
         "US 5123456 A"},
        // Letter series keep their prefix.
        {"D0365123", "published-data/publication/epodoc/USD365123/images", "D365123", "US D365123"},
        {"d365123S", "published-data/publication/docdb/US.D365123.S/images", "D365123S",
         "US D365123 S"},
        {"RE35136", "published-data/publication/epodoc/USRE35136/images", "RE35136", "US RE35136"},
        {"USRE35136E", "published-data/publication/docdb/US.RE35136.E/images", "RE35136E",
         "US RE35136 E"},
        {"PP012835", "published-data/publication/epodoc/USPP12835/images", "PP12835", "US PP12835"},
        {"H0001520", "published-data/publication/epodoc/USH1520/images", "H1520", "US H1520"},
        // Publications: 4+7 becomes 4+6; the file keeps the 11 digits.
        {"20020000001", "published-data/publication/epodoc/US2002000001/images", "20020000001",
         "US 2002000001"},
        {"US2002/0000001A1", "published-data/publication/docdb/US.2002000001.A1/images",
         "20020000001A1", "US 2002000001 A1"},
        {"US2002000001", "published-data/publication/epodoc/US2002000001/images", "20020000001",
         "US 2002000001"},
        {"20151234567", "published-data/publication/epodoc/US20151234567/images", "20151234567",
         "US 20151234567"},
        // Not numbers of a publication.
        {"", "", "", ""},
        {"EP", "", "", ""},
        {"EPX", "", "", ""},
        {"EP1000000B12", "", "", ""},
        {"EP1000000/B1", "", "", ""},
        {"EP15\"/><X", "", "", ""},
        {"09/836917", "", "", ""},
        {"0", "", "", ""},
        {"EP1000000\xc3\xa9", "", "", ""},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.typed);
        const OpsNumber n = MapOpsNumber(wxString::FromUTF8(c.typed));
        EXPECT_EQ(n.ok, c.inquiry[0] != 0);
        if (!n.ok)
            continue;
        EXPECT_EQ(n.InquiryPath(), c.inquiry);
        EXPECT_EQ(n.name, c.name);
        EXPECT_EQ(n.Display(), c.display);
    }
}

// An inquiry answer in the recorded shape with the given instances.
std::string Inquiry(const std::vector<std::string>& instances) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><?xml-stylesheet "
                      "type=\"text/xsl\" href=\"/3.2/style/pub-inquiry.xsl\"?>\n"
                      "<ops:world-patent-data xmlns=\"http://www.epo.org/exchange\" "
                      "xmlns:ops=\"http://ops.epo.org\"><ops:document-inquiry>";
    for (const std::string& i : instances)
        xml += "<ops:inquiry-result>" + i + "</ops:inquiry-result>";
    return xml + "</ops:document-inquiry></ops:world-patent-data>";
}

std::string Instance(const std::string& kind, int pages, const std::string& sections,
                     const std::string& desc = "FullDocument", const std::string& cc = "EP") {
    return "<ops:document-instance system=\"ops.epo.org\" number-of-pages=\"" +
           std::to_string(pages) + "\" desc=\"" + desc + "\" link=\"published-data/images/" + cc +
           "/1000000/" + kind + "/fullimage\">" + sections + "</ops:document-instance>";
}

TEST(OpsInquiry, RecordedAnswerGivesItsThreeInstancesAndOutline) {
    std::vector<OpsInstance> found;
    ASSERT_TRUE(ParseOpsInquiry(ReadSample("inquiry-WO2010050748A2.xml"), found));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].desc, "FullDocument");
    EXPECT_EQ(found[0].link, "published-data/images/WO/2010050748/A2/fullimage");
    EXPECT_EQ(found[0].pages, 12);
    EXPECT_EQ(found[0].kind, "A2");
    EXPECT_EQ(found[0].country + found[0].number, "WO2010050748");
    EXPECT_EQ(found[1].desc, "Drawing");
    EXPECT_EQ(found[1].pages, 5);
    EXPECT_EQ(found[2].kind, "PA");
    EXPECT_EQ(ChooseOpsInstance(found, ""), 0);
    EXPECT_EQ(ChooseOpsInstance(found, "a2"), 0);
    EXPECT_EQ(ChooseOpsInstance(found, "A1"), -1);

    // Sections come out of order; the outline is in page order.
    std::vector<std::string> outline;
    for (const OpsBookmark& b : OpsOutline(found[0]))
        outline.push_back(b.title.ToStdString() + "@" + std::to_string(b.page));
    EXPECT_EQ(outline, (std::vector<std::string>{"Bibliography@1", "Abstract@1", "Description@3",
                                                 "Claims@7", "Drawings@8"}));
}

TEST(OpsInquiry, ChoiceOfThePublication) {
    const std::string full = "<ops:document-section name=\"CLAIMS\" start-page=\"2\"/>";
    const std::string amendment = "<ops:document-section name=\"AMENDMENT\" start-page=\"1\"/>";
    struct Choice {
        const char* what;
        std::vector<std::string> instances;
        const char* typed;
        int chosen;
    };
    const Choice cases[] = {
        {"B before A", {Instance("A1", 9, full), Instance("B1", 7, full)}, "", 1},
        {"B2 as typed", {Instance("B1", 7, full), Instance("B2", 7, full)}, "B2", 1},
        {"A1 before A2", {Instance("A2", 7, full), Instance("A1", 7, full)}, "", 1},
        {"A3 only when nothing else", {Instance("A3", 3, full), Instance("A2", 7, full)}, "", 1},
        {"A3 alone", {Instance("A3", 3, full)}, "", 0},
        {"typed A3 honoured", {Instance("A3", 3, full), Instance("A1", 7, full)}, "A3", 0},
        {"certificate of correction never",
         {Instance("X6", 1, amendment, "FullDocument", "US"),
          Instance("A", 9, full, "FullDocument", "US")},
         "",
         1},
        {"certificate even when typed", {Instance("X6", 1, amendment)}, "X6", -1},
        {"US design", {Instance("S", 4, full, "FullDocument", "US")}, "", 0},
        {"drawings only is not a document", {Instance("B1", 2, full, "Drawing")}, "", -1},
        {"typed kind absent", {Instance("A1", 9, full)}, "B1", -1},
        {"nothing", {}, "", -1},
    };
    for (const Choice& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<OpsInstance> found;
        ASSERT_TRUE(ParseOpsInquiry(Inquiry(c.instances), found));
        EXPECT_EQ(ChooseOpsInstance(found, c.typed), c.chosen);
    }
}

TEST(OpsInquiry, UnusableInstancesAreLeftOut) {
    const std::vector<std::string> bad = {
        "<ops:document-instance desc=\"FullDocument\" number-of-pages=\"3\"/>",
        "<ops:document-instance desc=\"FullDocument\" number-of-pages=\"3\" "
        "link=\"http://elsewhere/x\"/>",
        "<ops:document-instance desc=\"FullDocument\" number-of-pages=\"3\" "
        "link=\"published-data/../../x\"/>",
        "<ops:document-instance desc=\"FullDocument\" number-of-pages=\"3\" "
        "link=\"published-data/images/EP/1/B1/fullimage?Range=9\"/>",
        "<ops:document-instance desc=\"FullDocument\" number-of-pages=\"0\" "
        "link=\"published-data/images/EP/1/B1/fullimage\"/>",
        "<ops:document-instance desc=\"FullDocument\" number-of-pages=\"20001\" "
        "link=\"published-data/images/EP/1/B1/fullimage\"/>",
        "<ops:document-instance desc=\"FullDocument\" number-of-pages=\"-3\" "
        "link=\"published-data/images/EP/1/B1/fullimage\"/>",
    };
    for (const std::string& b : bad) {
        SCOPED_TRACE(b);
        std::vector<OpsInstance> found;
        EXPECT_TRUE(ParseOpsInquiry(Inquiry({b}), found));
        EXPECT_TRUE(found.empty());
    }
    std::vector<OpsInstance> found;
    EXPECT_FALSE(ParseOpsInquiry("<fault xmlns=\"http://ops.epo.org\"><code>SERVER."
                                 "EntityNotFound</code></fault>",
                                 found));
    EXPECT_FALSE(ParseOpsInquiry("", found));
    EXPECT_FALSE(ParseOpsInquiry(std::string(kMaxOpsInquiryBytes + 1, ' '), found));

    // Sections outside the document are not bookmarks.
    ASSERT_TRUE(ParseOpsInquiry(
        Inquiry({Instance("B1", 4,
                          "<ops:document-section name=\"DRAWINGS\" start-page=\"5\"/>"
                          "<ops:document-section name=\"CLAIMS\" start-page=\"0\"/>"
                          "<ops:document-section name=\"SEARCH_REPORT\" start-page=\"4\"/>")}),
        found));
    ASSERT_EQ(OpsOutline(found[0]).size(), 1u);
    EXPECT_EQ(OpsOutline(found[0])[0].title, "Search report");
}

struct HeaderCase {
    const char* header;
    bool named;
    OpsLight images;
    long imagesAllowance;
    OpsLight retrieval;
    long retrievalAllowance;
    const char* system;
};

TEST(OpsThrottling, HeaderIsReadByServiceName) {
    using L = OpsLight;
    const HeaderCase cases[] = {
        {"idle (images=green:200, inpadoc=green:60, other=green:1000, retrieval=green:200, "
         "search=green:30)",
         true, L::Green, 200, L::Green, 200, "idle"},
        {"busy (images=yellow:100, retrieval=red:50)", true, L::Yellow, 100, L::Red, 50, "busy"},
        // Two servers' headers joined by a comma: the most restrictive of each.
        {"idle (images=green:600, retrieval=green:200), busy (images=yellow:300, "
         "retrieval=green:100)",
         true, L::Yellow, 300, L::Green, 100, "busy"},
        {"overloaded (retrieval=black:0, images=green:50)", true, L::Green, 50, L::Black, 0,
         "overloaded"},
        {"IDLE (Images=Green:200)", true, L::Green, 200, L::None, 0, "idle"},
        {"idle (search=green:30, other=green:1000)", false, L::None, 0, L::None, 0, "idle"},
        {"", false, L::None, 0, L::None, 0, ""},
        {"images=purple:5, retrieval=green", true, L::None, 0, L::Green, 0, ""},
        {"idle (images=green:99999999999999999999)", true, L::Green, 100000, L::None, 0, "idle"},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.header);
        OpsThrottleReading r;
        EXPECT_EQ(ParseThrottlingControl(c.header, r), c.named);
        EXPECT_EQ(r.images.light, c.images);
        EXPECT_EQ(r.images.allowance, c.imagesAllowance);
        EXPECT_EQ(r.retrieval.light, c.retrieval);
        EXPECT_EQ(r.retrieval.allowance, c.retrievalAllowance);
        EXPECT_EQ(r.system, c.system);
    }
    EXPECT_EQ(ParseRetryAfterMs("1500"), 1500);
    EXPECT_EQ(ParseRetryAfterMs(" 240000"), 240000);
    EXPECT_EQ(ParseRetryAfterMs(""), 60000);
    EXPECT_EQ(ParseRetryAfterMs("soon"), 60000);
    EXPECT_EQ(ParseRetryAfterMs("-5"), 60000);
    EXPECT_EQ(ParseRetryAfterMs("99999999999999999999999"), 2LL * 3600 * 1000);
}

class OpsPacerTest : public ::testing::Test {
protected:
    void SetUp() override { opsPacer::Instance().Reset(); }
    void TearDown() override { opsPacer::Instance().Reset(); }
    opsPacer& pacer = opsPacer::Instance();
};

TEST_F(OpsPacerTest, FollowsTheMostRestrictiveAllowanceOfTheMinuteAndTheLight) {
    EXPECT_DOUBLE_EQ(pacer.Allowance(OpsService::Images), 50 * opsPacer::kGreenShare);
    pacer.Observe("idle (images=green:600, retrieval=green:200)");
    EXPECT_DOUBLE_EQ(pacer.Allowance(OpsService::Images), 600 * opsPacer::kGreenShare);
    EXPECT_DOUBLE_EQ(pacer.Allowance(OpsService::Retrieval), 200 * opsPacer::kGreenShare);
    // A busy server in between: its figure rules the next minute even after idle answers.
    pacer.Observe("busy (images=green:300, retrieval=green:100)");
    pacer.Observe("idle (images=green:600, retrieval=green:200)");
    EXPECT_DOUBLE_EQ(pacer.Allowance(OpsService::Images), 300 * opsPacer::kGreenShare);
    // A missing header changes nothing.
    pacer.Observe("");
    EXPECT_DOUBLE_EQ(pacer.Allowance(OpsService::Images), 300 * opsPacer::kGreenShare);
    pacer.Observe("idle (images=yellow:600)");
    EXPECT_DOUBLE_EQ(pacer.Allowance(OpsService::Images), 300 * opsPacer::kYellowShare);
    pacer.Observe("idle (images=red:600)");
    EXPECT_DOUBLE_EQ(pacer.Allowance(OpsService::Images), 300 * opsPacer::kRedShare);
    EXPECT_DOUBLE_EQ(pacer.Allowance(OpsService::Retrieval), 100 * opsPacer::kGreenShare);
}

TEST_F(OpsPacerTest, SpreadsRequestsAndSuspendsOneServiceOnly) {
    pacer.Observe("idle (images=green:60, retrieval=green:6000)");
    EXPECT_EQ(pacer.Turn(OpsService::Images).count(), 0);
    // The next image request waits about 60 / (60 * share) seconds; the other service not.
    const long wait = static_cast<long>(pacer.Turn(OpsService::Images).count());
    EXPECT_GT(wait, 950);
    EXPECT_LE(wait, 1040);
    EXPECT_EQ(pacer.Turn(OpsService::Retrieval).count(), 0);

    pacer.Suspend(OpsService::Retrieval, std::chrono::milliseconds(90000));
    const long black = static_cast<long>(pacer.Turn(OpsService::Retrieval).count());
    EXPECT_GT(black, 89000);
    EXPECT_LE(black, 90001);
    // Negative waits are clamped, never a time in the past that overflows.
    pacer.Suspend(OpsService::Images, std::chrono::milliseconds(-5000));
    EXPECT_LE(pacer.Turn(OpsService::Images).count(), 1040);
}

TEST_F(OpsPacerTest, ThreadsTogetherNeverGetMoreTurnsThanTheAllowance) {
    // An allowance of 6000 a minute spaces turns 10 ms apart; 4 threads asking for 200 ms
    // get about 20 turns between them, never two inside one spacing.
    pacer.Observe("idle (images=green:6000)");
    std::atomic<int> granted{0};
    std::vector<std::thread> threads;
    std::mutex m;
    std::vector<std::chrono::steady_clock::time_point> times;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            while (std::chrono::steady_clock::now() < end) {
                const auto wait = pacer.Turn(OpsService::Images);
                if (wait.count() == 0) {
                    ++granted;
                    std::lock_guard<std::mutex> lock(m);
                    times.push_back(std::chrono::steady_clock::now());
                } else {
                    std::this_thread::sleep_for(std::min(wait, std::chrono::milliseconds(3)));
                }
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_GE(granted.load(), 5);
    EXPECT_LE(granted.load(), 22);
}

TEST_F(OpsPacerTest, WeekQuotaKeepsTheLastValue) {
    EXPECT_EQ(pacer.WeekUsedBytes(), -1);
    pacer.NoteWeekUsed("1200000000");
    pacer.NoteWeekUsed("");
    pacer.NoteWeekUsed("lots");
    EXPECT_EQ(pacer.WeekUsedBytes(), 1200000000LL);
    pacer.NoteWeekUsed("1200004096");
    EXPECT_EQ(pacer.WeekUsedBytes(), 1200004096LL);
}

TEST(OpsTokenAnswer, RecordedAnswerAndRefusals) {
    const OpsTokenAnswer real = ReadOpsTokenAnswer(200, "", ReadSample("token-answer.json"));
    EXPECT_EQ(real.kind, OpsTokenAnswer::Granted);
    EXPECT_EQ(real.token, "mTWQ68P5kspSzXgP1MI1jxYAGq9R");
    EXPECT_EQ(real.expiresInSeconds, 1199);

    EXPECT_EQ(ReadOpsTokenAnswer(401, "", "{\"error\":\"invalid_client\"}").kind,
              OpsTokenAnswer::Refused);
    EXPECT_EQ(ReadOpsTokenAnswer(400, "", "").kind, OpsTokenAnswer::Refused);
    EXPECT_EQ(ReadOpsTokenAnswer(403, "", "").kind, OpsTokenAnswer::Refused);
    EXPECT_EQ(ReadOpsTokenAnswer(403, "IndividualQuotaPerHour", "").kind, OpsTokenAnswer::Failed);
    EXPECT_EQ(ReadOpsTokenAnswer(500, "", "").kind, OpsTokenAnswer::Failed);
    // A token that could end the header line it goes into is not taken.
    EXPECT_EQ(ReadOpsTokenAnswer(200, "", "{\"access_token\":\"ab\r\nX-Evil: 1\"}").kind,
              OpsTokenAnswer::Failed);
    EXPECT_EQ(ReadOpsTokenAnswer(200, "", "{\"access_token\":\"a b\"}").kind,
              OpsTokenAnswer::Failed);
    EXPECT_EQ(ReadOpsTokenAnswer(200, "", "{\"expires_in\":\"5\"}").kind, OpsTokenAnswer::Failed);
    const OpsTokenAnswer number =
        ReadOpsTokenAnswer(200, "", "{ \"access_token\" : \"x.y\", \"expires_in\": 30 }");
    EXPECT_EQ(number.kind, OpsTokenAnswer::Granted);
    EXPECT_EQ(number.expiresInSeconds, 30);

    OpsCredentials key{"Aladdin", "open sesame"};
    EXPECT_EQ(OpsBasicAuthorization(key), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

class OpsTokenStore : public ::testing::Test {
protected:
    void SetUp() override { opsTokens::Instance().Reset(); }
    void TearDown() override { opsTokens::Instance().Reset(); }
    opsTokens& tokens = opsTokens::Instance();
};

TEST_F(OpsTokenStore, OneFetchServesEveryThreadUntilRejected) {
    const OpsCredentials key{"k", "s"};
    std::atomic<int> fetches{0};
    const opsTokens::Fetcher fetch = [&] {
        const int n = ++fetches;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        OpsTokenAnswer a;
        a.kind = OpsTokenAnswer::Granted;
        a.token = "t" + std::to_string(n);
        a.expiresInSeconds = 1199;
        return a;
    };
    std::vector<std::thread> threads;
    std::vector<std::string> got(6);
    for (int i = 0; i < 6; ++i)
        threads.emplace_back([&, i] {
            wxString error;
            EXPECT_EQ(tokens.Get(key, fetch, {}, got[i], error), opsTokens::Result::Ok);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(fetches.load(), 1);
    for (const std::string& t : got)
        EXPECT_EQ(t, "t1");

    // A rejection of an old token does not throw away the new one.
    tokens.Rejected(key, "t1");
    std::string token;
    wxString error;
    ASSERT_EQ(tokens.Get(key, fetch, {}, token, error), opsTokens::Result::Ok);
    EXPECT_EQ(token, "t2");
    tokens.Rejected(key, "t1");
    ASSERT_EQ(tokens.Get(key, fetch, {}, token, error), opsTokens::Result::Ok);
    EXPECT_EQ(token, "t2");
    EXPECT_EQ(fetches.load(), 2);
    // Another key has its own token.
    ASSERT_EQ(tokens.Get({"k2", "s"}, fetch, {}, token, error), opsTokens::Result::Ok);
    EXPECT_EQ(token, "t3");
}

TEST_F(OpsTokenStore, ShortLivedTokenIsRenewedBeforeItsEnd) {
    const OpsCredentials key{"k", "s"};
    int fetches = 0;
    const opsTokens::Fetcher fetch = [&] {
        OpsTokenAnswer a;
        a.kind = OpsTokenAnswer::Granted;
        a.token = "t" + std::to_string(++fetches);
        a.expiresInSeconds = 1; // renewed 100 ms before its end
        return a;
    };
    std::string token;
    wxString error;
    ASSERT_EQ(tokens.Get(key, fetch, {}, token, error), opsTokens::Result::Ok);
    ASSERT_EQ(tokens.Get(key, fetch, {}, token, error), opsTokens::Result::Ok);
    EXPECT_EQ(token, "t1");
    std::this_thread::sleep_for(std::chrono::milliseconds(920));
    ASSERT_EQ(tokens.Get(key, fetch, {}, token, error), opsTokens::Result::Ok);
    EXPECT_EQ(token, "t2");
    EXPECT_EQ(opsTokens::RenewMargin(1199).count(), 60000);
    EXPECT_EQ(opsTokens::RenewMargin(20).count(), 2000);
}

TEST_F(OpsTokenStore, RefusedKeyIsNotAskedAgainAndFailuresAre) {
    int fetches = 0;
    OpsTokenAnswer::Kind kind = OpsTokenAnswer::Failed;
    const opsTokens::Fetcher fetch = [&] {
        ++fetches;
        OpsTokenAnswer a;
        a.kind = kind;
        a.error = "Server Error 500";
        return a;
    };
    std::string token;
    wxString error;
    EXPECT_EQ(tokens.Get({"k", "s"}, fetch, {}, token, error), opsTokens::Result::Failed);
    EXPECT_EQ(error, "Server Error 500");
    kind = OpsTokenAnswer::Refused;
    EXPECT_EQ(tokens.Get({"k", "s"}, fetch, {}, token, error), opsTokens::Result::Refused);
    EXPECT_EQ(tokens.Get({"k", "s"}, fetch, {}, token, error), opsTokens::Result::Refused);
    EXPECT_EQ(fetches, 2);
    // A corrected secret is asked at once.
    EXPECT_EQ(tokens.Get({"k", "s2"}, fetch, {}, token, error), opsTokens::Result::Refused);
    EXPECT_EQ(fetches, 3);
}

} // namespace

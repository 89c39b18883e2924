// Every fault of a misbehaving network, at every request of a job where it can happen: the
// page list, a page, the serial-number lookup, the Espacenet inquiry and a retrieval. The
// job either counts down, retries and completes once the fault is gone, or ends with its
// exact status text. A "Finished!" file is always complete; a failure leaves no file at all.
#include "jobHarness.h"

#include "fixtures.h"
#include "ops.h"
#include "pct.h"
#include "uspto.h"

#include <algorithm>
#include <functional>

namespace {

using qvfake::Fault;

enum class Place { PageList, Page, Lookup, Inquiry, Retrieval, OpsInquiry, OpsPage };

const char kPatent[] = "5000100";   // three pages on the secondary patent-image host
const char kSerial[] = "09/836917"; // resolved to kPublication by the search host
const char kPublication[] = "20010012345";
const char kEspacenet[] = "EP1000000"; // two pages
const char kOps[] = "ops.espacenet.com";
const char kEpo[] = "ops.epo.org";
const char kEpoNumber[] = "EP2400812"; // three pages at the EPO

bool AtEpo(Place place) {
    return place == Place::OpsInquiry || place == Place::OpsPage;
}

std::vector<std::string> MakePages(int count, unsigned seed) {
    std::vector<std::string> pages;
    for (int i = 0; i < count; ++i) {
        qvfix::FixtureOptions o;
        o.seed = seed + static_cast<unsigned>(i);
        o.coding = i % 2 ? qvfix::Coding::Group3_2D : qvfix::Coding::Group4;
        pages.push_back(qvfix::makeTiff(o));
    }
    return pages;
}

// A page cut off inside its strip: the directory behind the strip is lost.
std::string Truncated(const std::string& tiff) {
    return tiff.substr(0, tiff.size() / 3);
}

// A page whose strip table points past the end of what arrived.
std::string StripPastTheEnd(std::string tiff) {
    const uint32_t bytes = static_cast<uint32_t>(tiff.size()) + 4096;
    qvfix::setTagValue(tiff, 279, bytes);
    return tiff;
}

const char kHtml[] = "<html><body><h1>Service Temporarily Unavailable</h1></body></html>\n";
const char kPng[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0";

class FaultMatrix;

struct Case {
    std::string name;
    Place place;
    // Before the job starts.
    std::function<void(FaultMatrix&)> inject;
    // While the job runs, once its first countdown has begun; may wait for more.
    std::function<void(FaultMatrix&)> recover;
    // The text of countdown step n; empty when the job must not count down at all.
    std::function<std::string(int)> countdown;
    // Empty: the job completes. Otherwise its last status.
    std::string endStatus;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class FaultMatrix : public JobTest, public ::testing::WithParamInterface<Case> {
public:
    void SetUp() override {
        JobTest::SetUp();
        // A stall is given up after a second; a countdown takes 50 ms.
        ziv2ize::SetSessionTimeouts(2, 1);
        ziv2ize::SetCountdownStepMs(5);
        usPages = MakePages(3, 11);
        serialPages = MakePages(2, 21);
        espacenetPages = MakePages(2, 31);
        for (unsigned i = 0; i < 3; ++i)
            epoPages.push_back(qvfake::opsPage(51 + i, 240, 320));
        port = fake->port();
        epo = &fake->enableOps();
        ASSERT_TRUE(epo->ok()) << epo->error();
        qvfake::OpsThrottle quick; // pacing that takes no noticeable time
        quick.images = quick.retrieval = quick.other = 1200;
        epo->setThrottle(quick);
        setenv("https_proxy", fake->proxyUrl().c_str(), 1);
        setenv("CURL_CA_BUNDLE", epo->caBundlePath().c_str(), 1);
        opsPacer::Instance().Reset();
        opsTokens::Instance().Reset();
        AddDocuments();
    }
    void TearDown() override {
        if (fake)
            fake->releaseStalls();
        JobTest::TearDown();
        ziv2ize::SetSessionTimeouts(30, 60);
        unsetenv("https_proxy");
        unsetenv("CURL_CA_BUNDLE");
    }

    // The documents as they are when nothing is wrong.
    void AddDocuments() {
        fake->addUsptoDocument(kPatent, usPages);
        fake->addPublication("836917", kPublication, "1%2F1%2F1998-%3E12%2F31%2F2001");
        fake->addUsptoDocument(kPublication, serialPages);
        qvfake::EspacenetDocument doc;
        doc.id = "EP.1000000.A1";
        doc.pages = espacenetPages;
        fake->addEspacenetDocument(kEspacenet, doc);
        if (epo) {
            epo->clearPublications();
            epo->addPublication(qvfake::opsPublication("EP", "2400812", "A1", epoPages));
        }
    }

    // Page 2 of the document at place (a USPTO page or an Espacenet retrieval) replaced.
    void ReplacePage2(Place place, const std::string& bytes, bool contentLocation = true) {
        if (AtEpo(place)) {
            std::vector<std::string> pages = epoPages;
            pages[1] = bytes;
            epo->clearPublications();
            epo->addPublication(qvfake::opsPublication("EP", "2400812", "A1", pages));
        } else if (place == Place::Page) {
            std::vector<std::string> pages = usPages;
            pages[1] = bytes;
            fake->addUsptoDocument(kPatent, pages);
        } else {
            qvfake::EspacenetDocument doc;
            doc.id = "EP.1000000.A1";
            doc.pages = espacenetPages;
            doc.pages[1] = bytes;
            doc.noContentLocation = !contentLocation;
            fake->addEspacenetDocument(kEspacenet, doc);
        }
    }

    // The request a fault at place hits: host and a text of its path or body.
    static std::pair<std::string, std::string> Target(Place place) {
        switch (place) {
        case Place::PageList:
            return {"patimg2.uspto.gov", std::string(".piw?Docid=") + kPatent};
        case Place::Page:
            return {"patimg2.uspto.gov", "PageNum=2"};
        case Place::Lookup:
            return {"appft1.uspto.gov", "nph-Parser"};
        case Place::Inquiry:
            return {kOps, "DocumentInquiry"};
        case Place::OpsInquiry:
            return {kEpo, "/publication/"};
        case Place::OpsPage:
            return {kEpo, "fullimage.tiff?Range=2"};
        case Place::Retrieval:
        default:
            return {kOps, "PAGE_NUMBER=&quot;2&quot;"};
        }
    }
    void AddRule(Place place, Fault fault, int times = 1) {
        const auto target = Target(place);
        fake->addRule(target.first, target.second, fault, times);
    }

    // The proxy, and so every remote host, goes away and comes back on the same port.
    void ProxyDown() {
        epo = nullptr; // goes with the fake; the rows of the EPO service never take it down
        fake.reset();
    }
    void ProxyUp() {
        fake.reset(new qvfake::FakeService(port));
        ASSERT_TRUE(fake->ok()) << "port " << port << " taken meanwhile";
        AddDocuments();
    }

    bool SawStatus(const std::string& text) {
        return recorder->CountStatusesContaining(1, text) > 0;
    }
    // Waits until step n of a countdown has been posted `times` times.
    bool WaitForCountdown(int n, size_t times = 1) {
        const std::string text = GetParam().countdown(n);
        return WaitUntil([&] { return recorder->CountStatusesContaining(1, text) >= times; });
    }

    // A scripted answer of the EPO service at place.
    void AddEpoRule(Place place, qvfake::OpsFault fault, int times = 1) {
        epo->addRule(Target(place).second, fault, times);
    }

    ziv2ize* MakeJob(Place place) {
        if (AtEpo(place))
            return new ops(1, JobInput(kEpoNumber),
                           OpsCredentials{qvfake::kOpsSampleKey, qvfake::kOpsSampleSecret});
        if (place == Place::Inquiry || place == Place::Retrieval)
            return new pct(1, kEspacenet);
        return new uspto(1, place == Place::Lookup ? kSerial : kPatent);
    }
    std::string FileName(Place place) const {
        if (AtEpo(place))
            return std::string(kEpoNumber) + ".pdf";
        if (place == Place::Inquiry || place == Place::Retrieval)
            return std::string(kEspacenet) + ".pdf";
        return place == Place::Lookup ? "9-836917.pdf" : std::string(kPatent) + ".pdf";
    }
    const std::vector<std::string>& Pages(Place place) const {
        if (AtEpo(place))
            return epoPages;
        if (place == Place::Inquiry || place == Place::Retrieval)
            return espacenetPages;
        return place == Place::Lookup ? serialPages : usPages;
    }

    std::vector<std::string> usPages, serialPages, espacenetPages, epoPages;
    qvfake::OpsFake* epo = nullptr;
    int port = 0;
};

// Countdown texts of each step that is retried.
std::string PageListCountdown(const std::string& error, int n) {
    return error + " Error Downloading Tiff List Reconnecting in " + std::to_string(n);
}
std::function<std::string(int)> PageList(const std::string& error) {
    return [error](int n) { return PageListCountdown(error, n); };
}
std::function<std::string(int)> UsPage(const std::string& message) {
    return [message](int n) {
        return message + " Error Downloading Page Reconencting in " + std::to_string(n) + "s";
    };
}
std::function<std::string(int)> Lookup() {
    return [](int n) {
        return "Error downloading publication number reconencting in " + std::to_string(n) + "s";
    };
}
std::function<std::string(int)> Inquiry() {
    return [](int n) { return "Error Downloading PCT Reconnecting in " + std::to_string(n) + "s"; };
}
std::function<std::string(int)> Retrieval(const std::string& error) {
    return [error](int n) {
        return "Error " + error + " Downloading Tiff Reconnecting in " + std::to_string(n) + "s";
    };
}

std::function<std::string(int)> EpoList(const std::string& error) {
    return [error](int n) {
        return "Error " + error + " Downloading Page List Reconnecting in " + std::to_string(n) +
               "s";
    };
}
std::function<std::string(int)> EpoPage(const std::string& error) {
    return [error](int n) {
        return "Error " + error + " Downloading Page Reconnecting in " + std::to_string(n) + "s";
    };
}

// A fault of the EPO service's own for a number of requests; countdown empty: the job gets
// past it without one.
Case Epo(const std::string& name, Place place, qvfake::OpsFault fault, int times,
         std::function<std::string(int)> countdown = {}) {
    Case c;
    c.name = name;
    c.place = place;
    c.inject = [place, fault, times](FaultMatrix& t) { t.AddEpoRule(place, fault, times); };
    c.countdown = std::move(countdown);
    return c;
}

// Faults that a rule injects for a number of requests; the job gets past them by itself.
Case Transient(const std::string& name, Place place, Fault fault, int times,
               std::function<std::string(int)> countdown) {
    Case c;
    c.name = name;
    c.place = place;
    c.inject = [place, fault, times](FaultMatrix& t) { t.AddRule(place, fault, times); };
    c.countdown = std::move(countdown);
    return c;
}

Case Final(const std::string& name, Place place, Fault fault, const std::string& status) {
    Case c;
    c.name = name;
    c.place = place;
    c.inject = [place, fault](FaultMatrix& t) { t.AddRule(place, fault, 1); };
    c.endStatus = status;
    return c;
}

// Page 2 is a directory built to make a reader work without end: refused at once, for good.
const char* const kTwice = " tag 273 appears twice in the image directory!";

Case HostilePage(const std::string& name, Place place, const std::string& status,
                 const std::string& page = qvfix::repeatedStripTableTiff()) {
    Case c;
    c.name = name;
    c.place = place;
    c.inject = [place, page](FaultMatrix& t) { t.ReplacePage2(place, page); };
    c.endStatus = status;
    return c;
}

// A well-formed page larger than any viewer takes (PDF integers end at 2^31).
std::string HugeTiff(uint32_t width, uint32_t height) {
    std::string tiff = qvfix::makeTiff();
    qvfix::setTagValue(tiff, 256, width);
    qvfix::setTagValue(tiff, 257, height);
    return tiff;
}

// The proxy refuses connections from the start, and is started once the job counts down.
Case RefusedFromTheStart(const std::string& name, Place place,
                         std::function<std::string(int)> countdown) {
    Case c;
    c.name = name;
    c.place = place;
    c.inject = [](FaultMatrix& t) { t.ProxyDown(); };
    c.recover = [](FaultMatrix& t) { t.ProxyUp(); };
    c.countdown = std::move(countdown);
    return c;
}

// The proxy goes away while page 2 is asked for; at least one attempt is refused before it
// comes back.
Case RefusedMidDocument(const std::string& name, Place place,
                        std::function<std::string(int)> countdown) {
    Case c;
    c.name = name;
    c.place = place;
    c.inject = [place](FaultMatrix& t) { t.AddRule(place, Fault::Stall, -1); };
    c.countdown = std::move(countdown);
    c.recover = [place](FaultMatrix& t) {
        (void)place;
        t.ProxyDown();
        ASSERT_TRUE(t.WaitForCountdown(1, 2)) << "no refused attempt seen";
        t.ProxyUp();
    };
    return c;
}

// Page 2 arrives broken until the test puts the right one in place.
Case BrokenPage(const std::string& name, Place place, std::function<std::string(FaultMatrix&)> bad,
                std::function<std::string(int)> countdown, bool contentLocation = true) {
    Case c;
    c.name = name;
    c.place = place;
    c.inject = [place, bad, contentLocation](FaultMatrix& t) {
        t.ReplacePage2(place, bad(t), contentLocation);
    };
    c.recover = [](FaultMatrix& t) { t.AddDocuments(); };
    c.countdown = std::move(countdown);
    return c;
}

std::vector<Case> Cases() {
    const std::string sendError = "Error sending request";
    const std::string cutOff = "Error 18 in WinINetReadData.\n";
    const std::string stalledBody = "Error 28 in WinINetReadData.\n";
    const std::string noImage = " seeking to number of entries of image!";
    const std::string pastTheEnd = " strip outside image data!";
    const std::string noPagePdf = "Page PDF cannot be read: no PDF header";
    const std::string kHuge = "Image too large (4294967295 x 4294967295 pixels)!";
    auto us2 = [](FaultMatrix& t) { return t.usPages[1]; };
    auto ep2 = [](FaultMatrix& t) { return t.espacenetPages[1]; };
    std::vector<Case> cases = {
        // Connection refused.
        RefusedFromTheStart("Refused_PageList", Place::PageList, PageList("Connection Error2")),
        RefusedMidDocument("Refused_Page", Place::Page, UsPage("")),
        RefusedFromTheStart("Refused_Lookup", Place::Lookup, Lookup()),
        RefusedFromTheStart("Refused_Inquiry", Place::Inquiry, Inquiry()),
        RefusedMidDocument("Refused_Retrieval", Place::Retrieval, Retrieval(sendError)),
        // Connection dropped in the middle of the body.
        Transient("DroppedMidBody_PageList", Place::PageList, Fault::DropMidBody, 1,
                  PageList("Connection Error2")),
        Transient("DroppedMidBody_Page", Place::Page, Fault::DropMidBody, 1, UsPage("")),
        Transient("DroppedMidBody_Lookup", Place::Lookup, Fault::DropMidBody, 1, Lookup()),
        Transient("DroppedMidBody_Inquiry", Place::Inquiry, Fault::DropMidBody, 1, Inquiry()),
        Transient("DroppedMidBody_Retrieval", Place::Retrieval, Fault::DropMidBody, 1,
                  Retrieval(cutOff)),
        // 500 with an HTML body.
        Final("Status500_PageList", Place::PageList, Fault::Status500,
              "Error Downloading Check Proxy"),
        Transient("Status500_Page", Place::Page, Fault::Status500, 1,
                  UsPage("Not a tiff image? 116")),
        Final("Status500_Lookup", Place::Lookup, Fault::Status500, "Serial Number Not Found"),
        Final("Status500_Inquiry", Place::Inquiry, Fault::Status500, "Connection Error  -- 500"),
        Final("Status500_Retrieval", Place::Retrieval, Fault::Status500,
              "Connection Error  -- 500"),
        // 200 without a body.
        Transient("EmptyBody_PageList", Place::PageList, Fault::EmptyBody, 1,
                  PageList("Connection Error2")),
        Transient("EmptyBody_Page", Place::Page, Fault::EmptyBody, 1, UsPage("")),
        Transient("EmptyBody_Lookup", Place::Lookup, Fault::EmptyBody, 1, Lookup()),
        Transient("EmptyBody_Inquiry", Place::Inquiry, Fault::EmptyBody, 1, Inquiry()),
        Transient("EmptyBody_Retrieval", Place::Retrieval, Fault::EmptyBody, 1,
                  Retrieval("Empty Stream")),
        // 407 from the proxy.
        Transient("ProxyAuth_PageList", Place::PageList, Fault::ProxyAuth, 1,
                  PageList("Connection Error2")),
        Transient("ProxyAuth_Page", Place::Page, Fault::ProxyAuth, 1, UsPage("")),
        Transient("ProxyAuth_Lookup", Place::Lookup, Fault::ProxyAuth, 1, Lookup()),
        Transient("ProxyAuth_Inquiry", Place::Inquiry, Fault::ProxyAuth, 1, Inquiry()),
        Final("ProxyAuth_Retrieval", Place::Retrieval, Fault::ProxyAuth,
              "Connection Error Proxy Authentication Error -- 407"),
        // A server that says nothing, before or after the status line.
        Transient("Stall_PageList", Place::PageList, Fault::Stall, 1,
                  PageList("Connection Error2")),
        Transient("Stall_Page", Place::Page, Fault::Stall, 1, UsPage("")),
        Transient("Stall_Lookup", Place::Lookup, Fault::Stall, 1, Lookup()),
        Transient("Stall_Inquiry", Place::Inquiry, Fault::Stall, 1, Inquiry()),
        Transient("Stall_Retrieval", Place::Retrieval, Fault::Stall, 1, Retrieval(sendError)),
        Transient("StallMidBody_Page", Place::Page, Fault::StallMidBody, 1, UsPage("")),
        Transient("StallMidBody_Retrieval", Place::Retrieval, Fault::StallMidBody, 1,
                  Retrieval(stalledBody)),
        // Truncated pages: the directory lost, or the strip running past the end.
        BrokenPage(
            "TruncatedTiff_Page", Place::Page, [us2](FaultMatrix& t) { return Truncated(us2(t)); },
            UsPage(noImage)),
        BrokenPage(
            "StripPastTheEnd_Page", Place::Page,
            [us2](FaultMatrix& t) { return StripPastTheEnd(us2(t)); }, UsPage(pastTheEnd)),
        BrokenPage(
            "TruncatedTiff_Retrieval", Place::Retrieval,
            [ep2](FaultMatrix& t) { return Truncated(ep2(t)); }, Retrieval(noImage)),
        BrokenPage(
            "StripPastTheEnd_Retrieval", Place::Retrieval,
            [ep2](FaultMatrix& t) { return StripPastTheEnd(ep2(t)); }, Retrieval(pastTheEnd)),
        // Bodies that are no TIFF at all.
        BrokenPage(
            "HtmlInsteadOfTiff_Page", Place::Page, [](FaultMatrix&) { return kHtml; },
            UsPage("Not a tiff image? 116")),
        BrokenPage(
            "PngInsteadOfTiff_Page", Place::Page,
            [](FaultMatrix&) { return std::string(kPng, sizeof kPng - 1); },
            UsPage("Not a tiff image? 78")),
        BrokenPage(
            "HtmlInsteadOfTiff_Retrieval", Place::Retrieval, [](FaultMatrix&) { return kHtml; },
            Retrieval("Not a tiff image? 116")),
        // The strip table repeated 65,535 times in one directory.
        HostilePage("RepeatedStripTable_Page", Place::Page,
                    std::string(kTwice) + " Error Downloading page 2 " + kTwice),
        HostilePage("RepeatedStripTable_Retrieval", Place::Retrieval,
                    std::string("Error Downloading page 2 ") + kTwice),
        // Sizes no real page has are refused for good on every route.
        HostilePage("HugePage_Page", Place::Page, kHuge + " Error Downloading page 2 " + kHuge,
                    HugeTiff(4294967295u, 4294967295u)),
        // The multipart answer without its image part.
        BrokenPage("NoImagePart_Retrieval", Place::Retrieval, ep2, Retrieval("bad tiff"), false),

        // The EPO service: network faults inside the tunnel count down and resume the page.
        Transient("DroppedMidBody_OpsInquiry", Place::OpsInquiry, Fault::DropMidBody, 1,
                  EpoList("Incomplete Answer (18)")),
        Transient("DroppedMidBody_OpsPage", Place::OpsPage, Fault::DropMidBody, 1,
                  EpoPage("Incomplete Answer (18)")),
        Transient("Status500_OpsInquiry", Place::OpsInquiry, Fault::Status500, 1,
                  EpoList("Server Error 500")),
        Transient("Status500_OpsPage", Place::OpsPage, Fault::Status500, 2,
                  EpoPage("Server Error 500")),
        Transient("Stall_OpsInquiry", Place::OpsInquiry, Fault::Stall, 1, EpoList(sendError)),
        Transient("StallMidBody_OpsPage", Place::OpsPage, Fault::StallMidBody, 1,
                  EpoPage("Incomplete Answer (28)")),
        // Its own faults.
        Epo("DomainAccess_OpsInquiry", Place::OpsInquiry, qvfake::OpsFault::DomainAccess, 1,
            EpoList("500 SERVER.DomainAccess")),
        Epo("DomainAccess_OpsPage", Place::OpsPage, qvfake::OpsFault::DomainAccess, 1,
            EpoPage("500 SERVER.DomainAccess")),
        Epo("InvalidToken_OpsInquiry", Place::OpsInquiry, qvfake::OpsFault::InvalidToken, 1),
        Epo("InvalidToken_OpsPage", Place::OpsPage, qvfake::OpsFault::InvalidToken, 1),
        // A token refused twice in a row is not renewed in a loop: the page counts down.
        Epo("InvalidTokenTwice_OpsPage", Place::OpsPage, qvfake::OpsFault::InvalidToken, 2,
            EpoPage("400 invalid_access_token")),
        Epo("NoThrottleHeader_OpsInquiry", Place::OpsInquiry, qvfake::OpsFault::NoThrottleHeader,
            1),
        Epo("WrongContentType_OpsPage", Place::OpsPage, qvfake::OpsFault::WrongContentType, 1),
        // A page that arrives broken in both forms is fetched again (the fake makes the PDF
        // form from the same broken bytes).
        BrokenPage(
            "TruncatedTiff_OpsPage", Place::OpsPage,
            [](FaultMatrix& t) { return Truncated(t.epoPages[1]); }, EpoPage(noPagePdf)),
        BrokenPage(
            "HtmlInsteadOfTiff_OpsPage", Place::OpsPage, [](FaultMatrix&) { return kHtml; },
            EpoPage(noPagePdf)),
        HostilePage("HugePage_OpsPage", Place::OpsPage,
                    "Error Page 2 Cannot Be Kept Unchanged: Image too large (16777216 x 3508 "
                    "pixels)!",
                    HugeTiff(16777216u, 3508u)),
        // A page damaged every time ends the document after three answers, not never.
        [&] {
            Case c = HostilePage("DamagedEveryTime_OpsPage", Place::OpsPage,
                                 "Error Page 2 Damaged: " + noPagePdf, kHtml);
            c.countdown = EpoPage(noPagePdf);
            return c;
        }(),
    };
    return cases;
}

TEST_P(FaultMatrix, RetriesAndCompletesOrEndsWithItsText) {
    const Case& c = GetParam();
    if (c.inject)
        c.inject(*this);
    ziv2ize* job = MakeJob(c.place);
    Start(job);
    if (c.recover) {
        const bool counting = WaitForCountdown(10);
        EXPECT_TRUE(counting) << "no countdown";
        if (counting)
            c.recover(*this);
    }
    const bool ended = WaitUntil([&] { return recorder->Ended(1); }, 30000);
    if (ended)
        job->Wait();
    else
        job->Delete();
    delete job;
    recorder->Pump();
    wxLog::FlushActive();
    ASSERT_TRUE(ended) << "the job did not end";

    const std::vector<std::string> statuses = recorder->Statuses(1);
    if (c.countdown) {
        // The first countdown runs through all ten steps in order.
        auto first = std::find(statuses.begin(), statuses.end(), c.countdown(10));
        ASSERT_NE(first, statuses.end()) << "no countdown with: " << c.countdown(10);
        for (int n = 10; n >= 1; --n, ++first) {
            ASSERT_NE(first, statuses.end());
            EXPECT_EQ(*first, c.countdown(n));
        }
    } else {
        for (const std::string& s : statuses)
            EXPECT_EQ(s.find("Reconn"), std::string::npos) << "unexpected countdown: " << s;
    }

    const std::string pdf = Path(FileName(c.place));
    const std::vector<std::string> sequence = recorder->Sequence(1);
    if (c.endStatus.empty()) {
        EXPECT_EQ(statuses.back(), "Finished!");
        ASSERT_GE(sequence.size(), 3u);
        EXPECT_EQ(sequence[sequence.size() - 2], "R:" + pdf);
        EXPECT_EQ(sequence.back(), "E:" + pdf);
        EXPECT_TRUE(PdfMatchesPages(pdf, Pages(c.place)));
        EXPECT_EQ(Files(), std::vector<std::string>{FileName(c.place)}) << "nothing else left";
    } else {
        EXPECT_EQ(statuses.back(), c.endStatus);
        EXPECT_EQ(std::count_if(sequence.begin(), sequence.end(),
                                [](const std::string& s) { return s[0] == 'R'; }),
                  0);
        // A serial number that was not found never got a file name.
        const bool named = c.endStatus != "Serial Number Not Found";
        EXPECT_EQ(sequence.back(), "E:" + (named ? pdf : std::string()));
        EXPECT_TRUE(Files().empty()) << "a failed job leaves no file, complete or temporary";
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return info.param.name;
                         });

// Matrix rows that need more than a rule.
class FaultCases : public FaultMatrix {};

TEST_F(FaultCases, GzipEncodedAnswersEverywhereGiveCompleteFiles) {
    fake->setCompression(true);
    ASSERT_TRUE(Run(new uspto(1, kSerial)));
    ASSERT_TRUE(Run(new pct(2, kEspacenet)));
    EXPECT_EQ(recorder->Statuses(1).back(), "Finished!");
    EXPECT_EQ(recorder->Statuses(2).back(), "Finished!");
    EXPECT_EQ(recorder->CountStatusesContaining(1, "Reconn"), 0u);
    EXPECT_EQ(recorder->CountStatusesContaining(2, "Reconn"), 0u);
    EXPECT_TRUE(PdfMatchesPages(Path("9-836917.pdf"), serialPages));
    EXPECT_TRUE(PdfMatchesPages(Path("EP1000000.pdf"), espacenetPages));
    // Every request of both jobs asked for gzip, so every answer came encoded.
    const auto requests = fake->requests();
    ASSERT_EQ(requests.size(), 2u + 2u + 1u + 2u); // lookup, list, 2 pages; inquiry, 2 pages
    for (const auto& r : requests)
        EXPECT_NE(r.header("Accept-Encoding").find("gzip"), std::string::npos) << r.path;
}

TEST_F(FaultCases, PageListWithoutPageCountOrPagePathEndsWithoutAFile) {
    qvfake::PageListShape noCount;
    noCount.noNumPages = true;
    fake->addUsptoDocument("4000002", MakePages(2, 41), noCount);
    qvfake::PageListShape noPageNum;
    noPageNum.noPageNum = true;
    fake->addUsptoDocument("4000003", MakePages(2, 43), noPageNum);
    qvfake::PageListShape zero;
    zero.announcedPages = 0;
    fake->addUsptoDocument("4000004", MakePages(2, 45), zero);

    ASSERT_TRUE(Run(new uspto(1, "4000002")));
    ASSERT_TRUE(Run(new uspto(2, "4000003")));
    ASSERT_TRUE(Run(new uspto(3, "4000004")));
    EXPECT_EQ(recorder->Sequence(1), (std::vector<std::string>{"S:Downloading", "S:Downloading",
                                                               "S:Error Downloading Check Proxy",
                                                               "E:" + Path("4000002.pdf")}));
    EXPECT_EQ(recorder->Statuses(2).back(), "Not Found");
    EXPECT_EQ(recorder->Statuses(3).back(), "Not Found");
    EXPECT_EQ(RequestsTo("patimg1.uspto.gov").size(), 3u) << "no page was asked for";
    EXPECT_TRUE(Files().empty());
}

TEST_F(FaultCases, OddPublicationNumbersEndWithoutAFileAndStayOneQueryValue) {
    struct Odd {
        const char* anchor;
        const char* status;
        const char* pageListPath; // "" when no page list may be asked for
    } odd[] = {
        {"<B>20010012345</B>", "Not Found", "/.piw?Docid=%3CB%3E20010012345%3C%2FB%3E&idkey=NONE"},
        {"20010012345 ", "Not Found", "/.piw?Docid=20010012345%20&idkey=NONE"},
        {"2001001234\xE9", "Not Found", "/.piw?Docid=2001001234%C3%A9&idkey=NONE"},
        {"", "Serial Number Not Found", ""},
    };
    int id = 0;
    for (const Odd& o : odd) {
        SCOPED_TRACE(o.anchor);
        qvfake::Response answer;
        answer.body = std::string("<HTML><BODY><TABLE><TR><TD><A HREF=/netacgi/nph-Parser?Sect1="
                                  "PTO2&Sect2=HITOFF&u=%2Fnetahtml%2FPTO%2Fsearch-adv.html&r=1>") +
                      o.anchor + "</A></TD></TR></TABLE></BODY></HTML>\n";
        fake->setRoute("appft1.uspto.gov", "/netacgi/nph-Parser", answer);
        fake->clearRequests();
        ASSERT_TRUE(Run(new uspto(++id, kSerial)));
        EXPECT_EQ(recorder->Statuses(id).back(), o.status);
        const auto lists = RequestsTo("patimg1.uspto.gov");
        if (*o.pageListPath) {
            ASSERT_EQ(lists.size(), 1u);
            EXPECT_EQ(lists[0].path, o.pageListPath);
        } else {
            EXPECT_TRUE(lists.empty());
        }
        EXPECT_TRUE(Files().empty());
    }
}

TEST_F(FaultCases, UnusablePageEndsBothJobsWithoutAFile) {
    qvfix::FixtureOptions blackIsZero;
    blackIsZero.photometric = 1;
    ReplacePage2(Place::Page, qvfix::makeTiff(blackIsZero));
    ReplacePage2(Place::Retrieval, qvfix::makeTiff(blackIsZero));
    ASSERT_TRUE(Run(new uspto(1, kPatent)));
    ASSERT_TRUE(Run(new pct(2, kEspacenet)));
    EXPECT_EQ(recorder->Statuses(1).back(),
              "Colorspace unsupported! Error Downloading page 2 Colorspace unsupported!");
    EXPECT_EQ(recorder->Statuses(2).back(), "Error Downloading page 2 Colorspace unsupported!");
    EXPECT_TRUE(Files().empty());
}

} // namespace

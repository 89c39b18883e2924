// The fake EPO OPS 3.2 service (https://ops.epo.org/3.2/), served by FakeService through
// proxy tunnels: the client names the fake as its HTTPS proxy, sends
// "CONNECT ops.epo.org:443", and speaks TLS inside the tunnel to a certificate for
// ops.epo.org signed by a test CA that the fake makes when OPS is enabled. Clients verify it
// as usual (peer and host) once they trust caBundlePath().
//
//   qvfake::FakeService fake;
//   qvfake::OpsFake& ops = fake.enableOps();     // check ops.ok()
//   // libcurl: CURLOPT_PROXY = fake.proxyUrl() (or https_proxy), CURLOPT_CAINFO =
//   // ops.caBundlePath() (the program: CURL_CA_BUNDLE)
//   ops.addPublication(qvfake::opsPublication("EP", "2400812", "A1", pages));
//   ... GET https://ops.epo.org/3.2/rest-services/published-data/publication/docdb/
//       EP.2400812.A1/images, then .../published-data/images/EP/2400812/A1/fullimage.tiff?Range=1
//
// Behaviour, as the live service's:
//   POST /3.2/auth/accesstoken     Basic key:secret and grant_type=client_credentials give
//                                  the token JSON (every value a string); else 401 JSON
//   everything else under /3.2/    needs "Authorization: Bearer <valid token>", else 400
//                                  invalid_access_token (application/xml, WWW-Authenticate)
//   .../publication/docdb/CC.N.K/images, .../publication/epodoc/CCN/images   inquiry XML;
//                                  unknown: 404 SERVER.EntityNotFound
//   /3.2/rest-services/{link}.tiff?Range=N   page N as TIFF; {link}.pdf?Range=N  one-page PDF
//                                  with the page's Group 4 stream; past the end: 404 fault
//   every /3.2/ answer             X-Throttling-Control, X-IndividualQuotaPerHour-Used and
//                                  X-RegisteredQuotaPerWeek-Used
// Requests per service (inquiries: retrieval, pages: images, anything else: other) are
// counted over a rolling minute; one above the smallest allowance advertised in that minute
// gets 403 ThrottlingControlQuota with Retry-After (ms) and counts in stats().throttleRejections.
// The minute is a second shorter than the client's, so that a request that arrives a little
// after it was sent never counts twice. Requests to ops.epo.org as plain HTTP get 404.
//
// Each tunnel holds a server thread on each side while it lasts; the fake has 48 of each.
//
// The generic rules of FakeService::addRule work inside the tunnel too (host "ops.epo.org"):
// Drop, DropMidBody (a truncated body), Stall, StallMidBody, Status500, delays. OPS answers
// are scripted with addRule below. All members may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qvfake {

// The consumer key pair every OpsFake accepts until setKeys replaces it.
extern const char* const kOpsSampleKey;
extern const char* const kOpsSampleSecret;

// Where the recorded OPS samples live (the QV_OPS_SAMPLES_DIR definition): the two real
// pages EP2400812A1-fullimage-p1.tiff and EP2400812A1-drawing-p1.tiff, the inquiry answer
// inquiry-WO2010050748A2.xml and the token answer token-answer.json.
std::string opsSamplesDir();
// A sample file's bytes ("" when it cannot be read).
std::string opsSample(const std::string& name);

// ---- Page images as the service serves them -------------------------------------------
// Big-endian ("MM") TIFF, one strip, CCITT Group 4, WhiteIsZero, resolution in pixels per
// centimetre (123.429 x 118.114), no BitsPerSample or FillOrder tag. Written by libtiff.

// Any bilevel TIFF (any coding, byte order, fill order) re-encoded in the served form.
// Empty on failure, with the reason in *error.
std::string opsPageFromTiff(const std::string& tiff, std::string* error = nullptr);
// A drawn page in the served form: text-like black shapes varied by seed. The default
// size is the service's A4 page (2592 x 3508); smaller sizes keep tests quick.
std::string opsPage(unsigned seed = 1, uint32_t width = 2592, uint32_t height = 3508);
// A landscape page (wider than tall): 3508 x 2592 by default.
std::string opsLandscapePage(unsigned seed = 1, uint32_t width = 3508, uint32_t height = 2592);

// The PDF form of a served page: one A4 page (portrait or landscape as the image) whose only
// image XObject is the TIFF's Group 4 strip unchanged (/CCITTFaxDecode, /K -1), /Rotate
// `rotate`. Empty when the TIFF is not a single-strip Group 4 image.
std::string opsPagePdf(const std::string& tiff, int rotate = 0);

// ---- Publications -----------------------------------------------------------------------

struct OpsSection {
    std::string name; // ABSTRACT, AMENDMENT, BIBLIOGRAPHY, CLAIMS, DESCRIPTION, DRAWINGS,
                      // SEARCH_REPORT
    int startPage = 1;
};

struct OpsInstance {
    std::string desc = "FullDocument"; // FullDocument, Drawing, FirstPageClipping...
    std::string link;                  // "published-data/images/EP/2400812/A1/fullimage"
    std::vector<std::string> pages;    // served TIFFs, page 1 first
    int announcedPages = -1;           // number-of-pages; -1: pages.size()
    std::vector<int> rotate;           // /Rotate of page i+1's PDF form; missing: 0
    std::vector<OpsSection> sections;  // written in this order (the service's is not page order)
    std::vector<std::string> formats = {"application/pdf", "application/tiff"};
};

struct OpsPublication {
    std::string country; // docdb: "EP"
    std::string number;  // "2400812"
    std::string kind;    // "A1"
    std::vector<OpsInstance> instances;
};

// A publication as the service usually shows it: a FullDocument of the given pages (link
// .../CC/N/K/fullimage, sections BIBLIOGRAPHY and ABSTRACT at 1, then DESCRIPTION, CLAIMS
// and DRAWINGS spread over the pages, listed out of page order), a Drawing instance of
// drawingPages (link .../thumbnail, only DRAWINGS; none when 0) and a FirstPageClipping
// (link .../CC/N/PA/firstpage, one page: a copy of page 1).
OpsPublication opsPublication(const std::string& country, const std::string& number,
                              const std::string& kind, std::vector<std::string> pages,
                              std::vector<std::string> drawingPages = {});
// A search-report-only publication (kind A3 usually): one FullDocument whose only section
// is SEARCH_REPORT at 1, and a FirstPageClipping.
OpsPublication opsSearchReport(const std::string& country, const std::string& number,
                               const std::string& kind, std::vector<std::string> pages);
// The extra FullDocument of a US certificate of correction: link
// published-data/images/US/<number>/X6/fullimage, only section AMENDMENT at 1. Append it
// to a publication's instances.
OpsInstance opsCertificateOfCorrection(const std::string& number, std::vector<std::string> pages);

// ---- Throttling -------------------------------------------------------------------------

// What an answer advertises in X-Throttling-Control. The light of each service follows its
// use of the allowance in the rolling minute (green < 50 %, yellow < 75 %, red above) unless
// the service is named in black.
struct OpsThrottle {
    std::string state = "idle"; // idle, busy, overloaded
    int images = 200;
    int inpadoc = 60;
    int other = 1000;
    int retrieval = 200;
    int search = 30;
    std::vector<std::string> black; // services shown black ("images", "retrieval"...)
    // Lights shown whatever the use: service -> light ({"images", "red"}).
    std::vector<std::pair<std::string, std::string>> lights;
};
OpsThrottle opsBusy();       // busy: images 100, retrieval 100, search 15, inpadoc 30, other 500
OpsThrottle opsOverloaded(); // overloaded: images 50, retrieval 50, search 5, inpadoc 10, other 250

// ---- Scripted answers -------------------------------------------------------------------

enum class OpsFault {
    ExpireToken,           // the request's token expires now: this and later requests with it
                           // get the 400 invalid-token answer
    InvalidToken,          // 400 invalid-token answer; the token stays valid
    BlackLight,            // 403 X-Rejection-Reason: ThrottlingControlQuota, Retry-After:
                           // retryAfterMs, the request's service shown black
    HourQuota,             // 403 X-Rejection-Reason: IndividualQuotaPerHour (json: JSON body)
    WeekQuota,             // 403 X-Rejection-Reason: RegisteredQuotaPerWeek (json: JSON body)
    DomainAccess,          // 500 <fault> SERVER.DomainAccess
    NoThrottleHeader,      // normal answer without X-Throttling-Control
    DoubledThrottleHeader, // normal answer whose X-Throttling-Control holds two values joined
                           // with ", ": the configured one, then `throttle`
    Advertise,             // normal answer advertising `throttle` instead of the configured one
    WrongContentType,      // normal answer with Content-Type `contentType`
};

struct OpsFaultOptions {
    int retryAfterMs = 60000; // BlackLight
    bool json = false;        // HourQuota, WeekQuota: JSON body instead of XML
    OpsThrottle throttle;     // DoubledThrottleHeader, Advertise
    std::string contentType = "application/octet-stream"; // WrongContentType
};

// Counters of the OPS answers so far (FakeService::requests() has every request).
struct OpsStats {
    int tokenRequests = 0; // POSTs to /3.2/auth/accesstoken, granted or not
    int tokensIssued = 0;
    int invalidTokenAnswers = 0; // 400 invalid_access_token answers
    int throttleRejections = 0;  // 403 ThrottlingControlQuota provoked by exceeding an allowance
                                 // (not those scripted with BlackLight)
    int scriptedFaults = 0;      // answers changed by an OpsFault rule
    uint64_t bytesServed = 0;    // body bytes of /3.2/ answers
};

struct OpsState; // private

// The OPS part of a FakeService; get it with FakeService::enableOps(). Lives as long as the
// FakeService.
class OpsFake {
public:
    // True when the test CA, the server certificate and the TLS server are ready.
    bool ok() const;
    // Why not ok().
    std::string error() const;
    // The test CA's certificate (PEM), for CURLOPT_CAINFO / CURL_CA_BUNDLE / SSL_CERT_FILE.
    // The file lives in a temporary folder removed with the FakeService.
    std::string caBundlePath() const;
    // The loopback port of the TLS server behind the tunnels (for diagnostics only).
    int tlsPort() const;

    // Accepted consumer keys (replaces the sample pair).
    void setKeys(const std::vector<std::pair<std::string, std::string>>& keySecretPairs);
    // expires_in of new tokens; they stop working that long after they were issued.
    void setTokenLifetime(std::chrono::seconds lifetime);
    // Each new token works for this many requests, then gets the invalid-token answer
    // (0: no limit, the default).
    void setTokenUses(int requests);
    // Every token issued so far stops working.
    void expireTokens();

    void addPublication(OpsPublication publication);
    void clearPublications();

    // What answers advertise (and the allowances enforced); default: OpsThrottle{}.
    void setThrottle(const OpsThrottle& throttle);
    // Answers advertise these in turn, one per answer (idle/busy flapping: consecutive
    // answers from different servers disagree). An empty list returns to setThrottle's.
    void setThrottleCycle(const std::vector<OpsThrottle>& cycle);
    // Bytes already used, the starting values of the two quota headers.
    void setQuotaUsed(uint64_t hour, uint64_t week);
    // When false, allowances are only advertised, never enforced (default true).
    void setEnforceAllowance(bool on);

    // Applies fault to the next `times` OPS requests (negative: all) whose path and query
    // contain `contains` ("" any; "accesstoken", "/images", ".tiff?Range=3"...). The rule
    // added first wins. Generic FakeService rules matching the same request win over these.
    void addRule(const std::string& contains, OpsFault fault, int times = 1,
                 OpsFaultOptions options = OpsFaultOptions());
    void clearRules();

    OpsStats stats() const;
    // Every token issued so far, oldest first (for asserting that one renewal happened).
    std::vector<std::string> tokens() const;

    explicit OpsFake(OpsState* state) : m_state(state) {}

private:
    OpsState* m_state;
};

} // namespace qvfake

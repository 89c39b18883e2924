// The fake USPTO Patent Public Search (https://ppubs.uspto.gov), served by FakeService
// through proxy tunnels like the EPO fake: "CONNECT ppubs.uspto.gov:443", then TLS to a
// certificate for ppubs.uspto.gov signed by the same test CA (OpsFake::caBundlePath()).
//
//   qvfake::FakeService fake;
//   qvfake::PpubsFake& ppubs = fake.enablePpubs();        // check ppubs.ok()
//   ppubs.addDocument(qvfake::ppubsRecordedDocument("6103599"));
//
// The flow, as recorded in April 2025 (answers built from tests/fixtures/ppubs):
//   GET  /pubwebapp/                        the app shell (text/html)
//   POST /api/users/me/session   body -1    session JSON with userCase.caseId; the token in
//                                           the x-access-token answer header
//   POST /api/searches/counts               {"numResults":N,...}
//   POST /api/searches/searchWithBeFamily   "NNN".PN. in query.q, the database in
//                                           query.databaseFilters: the document's answer, or
//                                           numFound 0 (also for the wrong database)
//   POST /api/print/imageviewer             pageKeys, patentGuid, source: the job number
//   POST /api/print/print-process           ["job"]: [{...,"pdfName":..,"printStatus":..}]
//   GET  /api/print/save/{pdfName}          the PDF (application/pdf, content-disposition)
// Every /api/ request but the session needs a live X-Access-Token, else 403.
//
// Rate limits, as the live service's: counts and searches share one bucket, imageviewer and
// save another; each refills continuously (the whole capacity per refill period). An answer
// from a bucket carries x-rate-limit-remaining; a request to an empty bucket gets 429
// {"message": "Too many requests"} with x-rate-limit-retry-after-seconds, and counts in
// stats().tooManyRequests. All members may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qvfake {

// Where the recorded answers live (tests/fixtures/ppubs), and one of them ("" if unreadable).
std::string ppubsSamplesDir();
std::string ppubsSample(const std::string& name);

// A PDF as the service's print step makes it: one page per TIFF, each page 612 x 792 with one
// image XObject /Im1 holding the TIFF's Group 4 strip unchanged (/K -1, /Columns, /Rows), the
// page tree nested in leaves of ten, no object streams. Empty when a TIFF is not single-strip
// Group 4. With `flatePage` >= 1, that page's image is Flate-coded grey instead (not CCITT).
std::string ppubsPdf(const std::vector<std::string>& tiffPages, int flatePage = 0);

struct PpubsDocument {
    std::string number;        // as publicationReferenceDocumentNumber: "6103599", "D645062"
    std::string type;          // "USPAT" or "US-PGPUB"
    std::string guid;          // "US-6103599-A"
    std::string kind;          // "A"
    std::string imageLocation; // "uspat/US/06/103/599"
    int pageCount = 0;
    std::string searchAnswer; // the whole search answer; "" builds one from the fields above
    std::string pdf;          // what save serves
};

// The four recorded documents: "6103599" (a utility grant, with the real 12-page PDF),
// "D645062" (design, 8 pages), "RE43633" (reissue, 22 pages) and "20160009839" (a
// publication, 17 pages), with their recorded search answers; the pages of the last three
// are drawn (their PDFs were not recorded), `pageWidth` x `pageHeight` pixels.
PpubsDocument ppubsRecordedDocument(const std::string& number, uint32_t pageWidth = 1240,
                                    uint32_t pageHeight = 1754);
// A made-up document with these pages (single-strip Group 4 TIFFs): a utility grant (up to 8
// digits), a lettered grant ("D365123", "RE35136", "PP12835") or a publication (11 digits),
// as the PN index writes the number.
PpubsDocument ppubsDocument(const std::string& number, const std::vector<std::string>& tiffPages);

enum class PpubsFault {
    Forbidden,    // 403 (as an expired session)
    TooMany,      // 429, retry after options
    Status500,    // 500 with a JSON error
    PrintFailed,  // print-process says FAILED
    PrintPending, // print-process says PROCESSING (the job is not done yet)
    SearchError,  // 200 search answer with an error object
    NonCcittSave, // save serves the document with page 2 Flate-coded
};

struct PpubsStats {
    int sessions = 0;        // sessions opened
    int searches = 0;        // searchWithBeFamily answered 200
    int counts = 0;          // counts answered 200
    int prints = 0;          // print jobs made
    int saves = 0;           // PDFs served
    int tooManyRequests = 0; // 429 provoked by an empty bucket (not scripted ones)
    int forbidden = 0;       // 403 for a token that is not live (not scripted ones)
    int scriptedFaults = 0;
};

struct PpubsBucket {
    int capacity = 40;
    std::chrono::milliseconds refill{70000}; // time to refill the whole capacity
};

struct PpubsState; // private

class PpubsFake {
public:
    bool ok() const;
    std::string error() const;
    std::string caBundlePath() const;

    void addDocument(PpubsDocument document);
    // Buckets of the searches (40 per 70 s) and of the print steps (5 per 70 s).
    void setSearchBucket(PpubsBucket bucket);
    void setPrintBucket(PpubsBucket bucket);
    // Every session token issued so far stops working (403).
    void expireSessions();
    // Applies fault to the next `times` requests (negative: all) whose path contains
    // `contains` ("" any). retryAfterSeconds: the TooMany header.
    void addRule(const std::string& contains, PpubsFault fault, int times = 1,
                 int retryAfterSeconds = 1);
    void clearRules();

    PpubsStats stats() const;

    explicit PpubsFake(PpubsState* state) : m_state(state) {}

private:
    PpubsState* m_state;
};

} // namespace qvfake

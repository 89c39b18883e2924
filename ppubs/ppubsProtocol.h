// The requests and answers of the USPTO's Patent Public Search (https://ppubs.uspto.gov) as
// its own web page uses them: a session, a search by publication number, a print job of all
// pages, its progress, and the finished PDF. Pure functions: what goes out is built here,
// what comes back is read and checked here, so that nothing a server sends reaches a path,
// a header or a file name unchecked.
#pragma once

#include "remoteHosts.h"

#include <string>
#include <utility>
#include <vector>

namespace ppubshost {
constexpr const char* kBase = remotehosts::kPpubsBase;
constexpr const char* kApp = "/pubwebapp/";
constexpr const char* kSession = "/api/users/me/session";
constexpr const char* kCounts = "/api/searches/counts";
constexpr const char* kSearch = "/api/searches/searchWithBeFamily";
constexpr const char* kPrint = "/api/print/imageviewer";
constexpr const char* kPrintProcess = "/api/print/print-process";
constexpr const char* kSave = "/api/print/save/";
} // namespace ppubshost

// What to search for: the number as the PN index writes it, and the database holding it.
struct PpubsQuery {
    std::string number;   // "6103599", "D645062", "RE43633", "PP12835", "H002067", "20160009839"
    std::string database; // "USPAT" or "US-PGPUB"
};

// The query for a US number as the program normalises it ("5123456", "D365123", "RE35136",
// "PP12835", "H2067", "T109201", "20020000001"). False for forms the service does not index
// by number (application serials, X and AI patents, kind codes, anything else).
bool PpubsQueryFor(const std::string& normalisedNumber, PpubsQuery& query);

// The JSON bodies of the search and its count, for the case of the session.
std::string PpubsSearchBody(const PpubsQuery& query, long long caseId);
std::string PpubsCountsBody(const PpubsQuery& query, long long caseId);

struct PpubsSession {
    std::string token; // the x-access-token answer header, sent back with every request
    long long caseId = 0;
};
// Reads the session answer. False with a reason when the token or the case is missing or
// unusable (a token must be a short run of URL-safe characters: it goes into a header).
bool ReadPpubsSession(const std::string& tokenHeader, const std::string& body,
                      PpubsSession& session, std::string& error);

// The document found: what the print request names.
struct PpubsHit {
    std::string guid;          // "US-6103599-A"
    std::string type;          // "USPAT", "US-PGPUB": the print request's source
    std::string number;        // publicationReferenceDocumentNumber, equal to the query's
    std::string kind;          // "A", "B2", "S", "E", "A1" (first kind code; may be empty)
    std::string imageLocation; // "uspat/US/06/103/599"
    int pageCount = 0;
    // Where the parts of the document start (page from 1), named for the bookmarks:
    // BIBLIOGRAPHY, ABSTRACT, DRAWINGS, DESCRIPTION, CLAIMS, CERTIFICATE_OF_CORRECTION...
    std::vector<std::pair<std::string, int>> sections;
};

// How a search answer ended.
enum class PpubsSearchResult {
    Found,        // a hit whose number equals the query's exactly
    NotFound,     // no such document (other family members do not count)
    Unreadable,   // not the answer's shape: another try may mend it
    ServiceError, // the service says the search failed (an error object)
};
// The largest page count believed: more pages than any document has.
constexpr int kMaxPpubsPages = 20000;
PpubsSearchResult ReadPpubsSearch(const std::string& body, const PpubsQuery& query, PpubsHit& hit,
                                  std::string& error);

// The print request of all pages of hit: the page keys are imageLocation/0000000N.tif.
std::string PpubsPrintBody(const PpubsHit& hit, long long caseId);
// The print job's number: the bare answer (a number, or a number in quotes). False otherwise.
bool ReadPpubsPrintJob(const std::string& body, std::string& jobId);
// The body of a progress request: ["jobId"].
std::string PpubsPrintProcessBody(const std::string& jobId);

enum class PpubsPrintState { Completed, Failed, Waiting, Unreadable };
// Reads the progress answer of jobId; Completed gives the PDF's name (letters, digits, '-',
// '_' and '.', ending in ".pdf": it goes into the save path).
PpubsPrintState ReadPpubsPrintProcess(const std::string& body, const std::string& jobId,
                                      std::string& pdfName, std::string& error);

// x-rate-limit-retry-after-seconds: seconds, at most kLongestRetryAfter; 1 when missing or
// unreadable.
constexpr long kLongestPpubsRetryAfter = 600;
long ParsePpubsRetryAfter(const std::string& header);
// x-rate-limit-remaining; -1 when missing or unreadable.
long ParsePpubsRemaining(const std::string& header);

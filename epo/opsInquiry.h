// The EPO's images inquiry: which publications of a number have page images, and which
// one a job fetches.
#pragma once

#include <wx/string.h>

#include <string>
#include <vector>

struct OpsSection {
    wxString name; // as the service names it: "CLAIMS", "SEARCH_REPORT", ...
    long startPage = 0;
};

struct OpsInstance {
    wxString desc;            // "FullDocument", "Drawing", "FirstPageClipping", ...
    wxString link;            // "published-data/images/EP/1000000/B1/fullimage", taken as given
    wxString kind;            // of the publication the link names ("B1"); "" when it names none
    wxString country, number; // of the publication, from the link or the result
    long pages = 0;
    std::vector<OpsSection> sections; // in the answer's order
};

// Answers larger than this are not read: a real inquiry is a few kilobytes.
constexpr size_t kMaxOpsInquiryBytes = size_t(1) << 20;
// A document of more pages is not believed (the page tree is written before page 1).
constexpr long kMaxOpsPages = 20000;

// Reads every document instance of an inquiry answer, in answer order. Instances without a
// link, with a link that could not go into a request path, or with a page count outside
// 1..kMaxOpsPages are left out. False when the bytes hold no inquiry answer at all. Time
// and memory grow linearly with the input.
bool ParseOpsInquiry(const std::string& bytes, std::vector<OpsInstance>& out);

// The full document to fetch: with a typed kind that publication; without one a granted
// publication (B...) before other kinds, an application (A1, A2) before a search-report
// publication (A3); never an instance whose only section is AMENDMENT (a US certificate of
// correction). Index into instances, -1 when none fits.
int ChooseOpsInstance(const std::vector<OpsInstance>& instances, const wxString& typedKind);

// One bookmark of the outline.
struct OpsBookmark {
    wxString title; // "Bibliography", "Abstract", ..., "Search report", "Amendment"
    long page = 0;  // 1-based
};
// The sections of an instance in page order (ties in the order of the titles above), each
// within the document; unknown section names are shown as the service spells them.
std::vector<OpsBookmark> OpsOutline(const OpsInstance& instance);

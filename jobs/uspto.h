// The USPTO job: US patents, published applications and application serial numbers,
// fetched page by page from the USPTO image servers.
#pragma once

#include "ziv2ize.h"

#include <wx/stream.h>

#include <functional>
#include <vector>

class pdfWriter;
struct UsNumber;

// How far a page-list request got.
enum class PageListState : int {
    CountFound = 0, // the answer was read and named its page count
    NoAnswer = 1,   // no answer to read
    NoCount = 2,    // an answer without a page count
};

// What a page-list answer says.
struct UsPageList {
    long numPages = 0;
    PageListState listState = PageListState::NoCount;
    wxString embedPath;
    std::vector<wxString> pages; // server paths, page 1 first
};

// Reads a page-list answer to its end. cancelled, if given, is asked after every line;
// a true answer stops the reading and the result is false.
bool ParseUsPageList(wxInputStream& in, UsPageList& out,
                     const std::function<bool()>& cancelled = {});
bool ParseUsPageListText(const wxString& text, UsPageList& out);

// Host and page-list path of a docid.
struct UsLocation {
    wxString host;
    wxString path;
};
UsLocation UsPageListLocation(const wxString& docid);

// Search-host path that looks up the publication of "series/serial".
wxString UsSearchPath(const wxString& lookupText);
// The anchor text of the first result link of a search answer; empty when there is none
// or when cancelled says so.
wxString ParseUsSearchAnswer(wxInputStream& in, const std::function<bool()>& cancelled = {});
wxString ParseUsSearchAnswerText(const wxString& text);

class uspto : public ziv2ize {
public:
    uspto(int id, const JobInput& input);
    // Into the current folder with the default connection.
    uspto(int id, const wxString& number) : uspto(id, JobInput(number)) {}
    ~uspto() override;

    // The PDF's name for a typed number, empty when it has no US form.
    static wxString PdfName(const wxString& number);
    static wxString PdfName(const UsNumber& recognised);

    // One attempt at the page list of docid: true when an answer was read to its end.
    bool FetchPageList(const wxString& docid);
    // The publication number of "series/serial", empty when none was found or cancelled.
    wxString LookupPublicationNumber(const wxString& text);

protected:
    ExitCode Entry() override;

    PageListState listState;
    std::vector<wxString> pages;
    wxString lastError;

private:
    bool AddPages(pdfWriter& writer);
};

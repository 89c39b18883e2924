// The main window's record of one job and its list row, and the routing of typed text to
// a job kind.
#pragma once

#include <wx/string.h>

class ziv2ize;

// Typed text is classified as a USPTO or an Espacenet number; with an EPO key, either kind
// is fetched by the EPO job instead, since both original services are retired.
enum JobKind { kUsptoJob = 0, kPctJob = 1, kOpsJob = 2 };

// Decides from the cleaned text which job kind takes it: returns false when neither does.
bool ClassifyNumber(const wxString& number, int* kind);

// The typed text as a message may quote it: at most kMaxQuotedLength characters, longer
// text cut with "…", so that a pasted page of text cannot make a box wider than the screen.
constexpr size_t kMaxQuotedLength = 60;
wxString TextForMessage(const wxString& typed);

// The text with every "," and then every " " removed.
wxString CleanNumber(const wxString& typed);

struct JobRecord {
    explicit JobRecord(const wxString& text);
    ~JobRecord();
    JobRecord(const JobRecord&) = delete;
    JobRecord& operator=(const JobRecord&) = delete;

    wxString pdfPath;       // set when the job reports its PDF
    wxString number;        // cleaned text handed to the job
    int id = -1;            // unique for the whole run; every event of the job carries it
    bool finished = false;  // ended, stopped, or nothing to do
    ziv2ize* job = nullptr; // the running or ended job (owned), either kind
    int kind = kUsptoJob;
    bool valid = false;
};

// One document of the download list: the number as given, the job kind it is routed to, its
// job while it runs and the job's last report. The routing of typed text to a job kind.
#pragma once

#include "jobProgress.h"
#include "ziv2ize.h"

#include <wx/string.h>

#include <memory>

// Typed text is classified as a USPTO or an Espacenet number; with an EPO key, either kind
// is fetched by the EPO job instead, since both original services are retired.
enum JobKind { kUsptoJob = 0, kPctJob = 1, kOpsJob = 2, kPpubsJob = 3 };

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
    JobRecord(const JobRecord&) = delete;
    JobRecord& operator=(const JobRecord&) = delete;

    wxString pdfPath;             // set when the job reports its PDF
    wxString number;              // cleaned text handed to the job
    int id = -1;                  // unique for the whole run; every event of the job carries it
    bool finished = false;        // ended, stopped, or nothing to do
    std::unique_ptr<ziv2ize> job; // while it runs, and until its end is handled
    int kind = kUsptoJob;
    bool valid = false;
    wxString target;  // the PDF its job makes (full path), set when the job starts
    JobProgress last; // the last report, of the job or of the queue
};

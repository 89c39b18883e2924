// What a job reports with every status text it posts: the phase it is in, the page it
// fetches, the publication taken and the file made. The views show the text and take
// everything else from here; nothing reads the text back.
#pragma once

#include <string>

enum class JobPhase {
    Waiting,       // in the queue, not started
    LookingUp,     // started: finding the document and its pages
    Downloading,   // fetching page `page` of `pageCount`
    Countdown,     // waiting before it tries again
    Finished,      // the PDF is in place at `file`
    AlreadyThere,  // the PDF was in place before: `file`
    NotFound,      // the service has no such document
    UnknownFormat, // the number has no known form
    Failed,        // ended without the PDF for any other reason
    Cancelled,     // stopped by the user
};

// Finished and AlreadyThere: the document is in the folder.
inline bool IsSuccessPhase(JobPhase phase) {
    return phase == JobPhase::Finished || phase == JobPhase::AlreadyThere;
}
// True for the phases a document ends in.
inline bool IsFinalPhase(JobPhase phase) {
    return IsSuccessPhase(phase) || phase >= JobPhase::NotFound;
}

// UTF-8 strings: the report crosses from the job's thread to the view's, and std::string
// copies share nothing.
struct JobProgress {
    int id = -1;
    JobPhase phase = JobPhase::Waiting;
    std::string status;      // the text the window's row shows, exactly
    int page = 0;            // the page being fetched, 0 before the pages
    int pageCount = 0;       // pages of the document, 0 while unknown
    std::string publication; // EPO: the publication taken ("EP 1000000 B1"), else empty
    std::string file;        // Finished and AlreadyThere: the PDF's full path
};

// The status of a number no job can place, whether the list or a job finds it out.
constexpr const char kUnknownFormatStatus[] = "Unknown Patent/Application Format";

// quorvane-get without its process: the command line, how a job's last report counts, and
// the text it prints. Kept apart from main() so that the rules can be checked one by one.
#pragma once

#include "jobProgress.h"
#include "settings.h"

#include <string>
#include <vector>

namespace qvget {

struct Options {
    std::string folder;                 // -o, as given ("" = the current folder)
    int jobs = 0;                       // -j, 1...511 (0 = the stored max_threads)
    std::vector<std::string> listFiles; // -f, in order ("-" = standard input)
    std::vector<std::string> numbers;   // the arguments that are numbers, in order
    bool quiet = false;                 // --quiet
    bool json = false;                  // --json
    bool help = false;                  // --help
    bool version = false;               // --version
};

// Reads the arguments (without the program name). False with a one-line reason in error for
// an unknown option, a missing or bad value; "nothing to do" is judged later, once the list
// files are read.
bool ParseArguments(const std::vector<std::string>& args, Options& options, std::string& error);

// The highest -j: the same ceiling as the window's jobs-at-once setting.
constexpr int kMaxJobs = int(kMaxThreadsLimit);

// How a document ended, by the phase of its job's last report (a job that stopped midway
// failed).
enum class Outcome { Finished, PreviouslyDownloaded, NotFound, UnknownFormat, Failed, Cancelled };
Outcome OutcomeOfPhase(JobPhase lastPhase);
// Finished and PreviouslyDownloaded: the document is in the folder.
bool IsSuccess(Outcome outcome);

// "12 finished, 2 previously downloaded, 1 not found": the outcomes that occurred, in a fixed
// order; "nothing downloaded" when counts are all zero. counts is indexed by Outcome.
std::string Summary(const std::vector<int>& counts);

// Text as a JSON string, quotes included. Bytes that are not valid UTF-8 become U+FFFD, so
// the line stays valid JSON whatever a status held.
std::string JsonString(const std::string& utf8);

// Text for a terminal: control characters (C0, DEL and the C1 range) become '?', so that no
// status text, which may carry bytes from the network, can move the cursor or change the
// terminal's state.
std::string Printable(const std::string& utf8);

} // namespace qvget

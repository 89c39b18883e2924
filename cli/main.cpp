// quorvane-get: downloads the documents of a list of numbers into a folder, several at once,
// on the same jobs as the window. It links the base library of wxWidgets only, so it runs
// where there is no display (over SSH, from cron).
#include "console.h"
#include "downloadQueue.h"
#include "getCore.h"
#include "netInit.h"
#include "numberList.h"
#include "settings.h"

#include <wx/event.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/init.h>
#include <wx/log.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using qvget::Outcome;

const char* const kProgram = "quorvane-get";

const char* const kHelp =
    "Usage: quorvane-get [-o DIR] [-j N] [-f FILE|-] [--quiet] [--json] NUMBER...\n"
    "Download patent documents by their numbers, one PDF per document.\n"
    "\n"
    "  -o DIR     download folder (default: the current folder; made when missing)\n"
    "  -j N       documents downloaded at once, 1 to 511 (default: max_threads of the\n"
    "             settings, 3 when not set)\n"
    "  -f FILE    read numbers from FILE, one per line or the first column of a .csv\n"
    "             file; blank lines and lines starting with # are skipped; - reads\n"
    "             standard input\n"
    "  --quiet    one line per document when it ends, no live display\n"
    "  --json     one JSON object per document when it ends:\n"
    "             {\"number\":..,\"status\":..,\"file\":..,\"pages\":..}\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Numbers are written as in the window: 5,123,456  D0365123  09/836917  EP1000000.\n"
    "US numbers come from the USPTO's Patent Public Search, no key needed; the others\n"
    "need an EPO key. The connection settings (proxy), the EPO key and where US\n"
    "documents come from are those of the window's Setup; QUORVANE_OPS_KEY and\n"
    "QUORVANE_OPS_SECRET stand in for the stored key, QUORVANE_US_SOURCE=ppubs|epo|\n"
    "uspto-images for the stored US source.\n"
    "\n"
    "Exit status: 0 when every document was downloaded or already there, 1 when any\n"
    "was not, 2 for a usage error, 130 when interrupted.\n";

// Everything taken from the settings the window's Setup writes, read in this one place, so
// one Setup serves both programs.
struct StoredSettings {
    ConnectionSettingsRecord connection;
    OpsKeyRecord opsKey; // empty: no EPO key, the retired services' jobs run
    UsSource usSource = UsSource::Ppubs;
    unsigned maxThreads = 3;
};

StoredSettings LoadStoredSettings() {
    auto config = OpenSettings();
    LoadStartupSettings(*config); // fills ConnectionSettings
    StoredSettings stored;
    stored.connection = ConnectionSettings;
    stored.opsKey = OpsKeyInUse();
    stored.usSource = UsSourceInUse();
    stored.maxThreads = ReadMaxThreads(*config);
    return stored;
}

std::string Utf8(const wxString& text) {
    const wxScopedCharBuffer bytes = text.utf8_str();
    return std::string(bytes.data(), bytes.length());
}

struct Document {
    std::string given;           // as given, for the output
    JobRecord* record = nullptr; // in the queue, which owns it
    bool ended = false;
    Outcome outcome = Outcome::Failed;
};

enum class Display { Live, Lines, Json };

// Shows the documents of the download queue, at most `limit` at once. The jobs post to
// this handler from their threads; QueueEvent also wakes the main thread, which sleeps
// until there is something to do or a stop request arrives.
class Runner : public wxEvtHandler {
public:
    Runner(const std::vector<wxString>& numbers, const StoredSettings& settings,
           const wxString& folder, unsigned limit, Display display, console::Waiter& waiter)
        : m_settings(settings), m_folder(folder), m_display(display), m_waiter(waiter),
          m_queue([this] { return Context(); }, [this](JobRecord&) { m_dirty = true; },
                  [this](JobRecord& r) { End(r); }) {
        Bind(wxEVT_JOB_STATUS, &Runner::OnStatus, this);
        Bind(wxEVT_JOB_PDF_READY, &Runner::OnPdfReady, this);
        Bind(wxEVT_JOB_ENDED, &Runner::OnEnded, this);
        m_queue.SetLimit(limit);
        // The queue's ids run from 0 in the order added: the documents' indexes.
        m_docs.resize(numbers.size());
        for (size_t i = 0; i < numbers.size(); ++i) {
            m_docs[i].given = Utf8(numbers[i]);
            JobRecord& record = m_queue.Add(std::make_unique<JobRecord>(numbers[i]));
            m_docs[i].record = &record;
            if (record.finished)
                End(record); // a number of no known form
        }
    }
    ~Runner() override { m_queue.StopAll(); }

    // Called on the jobs' threads: the queue has its own lock, and the waiter does not
    // change while jobs run.
    void QueueEvent(wxEvent* event) override {
        wxEvtHandler::QueueEvent(event);
        m_waiter.Wake();
    }

    // Exit status: 0, 1, or 130 when a stop signal cancelled the jobs.
    int Run();

private:
    JobContext Context() const {
        JobContext context;
        context.connection = m_settings.connection;
        context.folder = m_folder;
        context.key = m_settings.opsKey;
        context.usSource = m_settings.usSource;
        return context;
    }
    void OnStatus(wxThreadEvent& event) {
        JobProgress progress;
        if (JobProgressOf(event, progress))
            m_queue.Report(progress);
    }
    void OnPdfReady(wxThreadEvent& event) { m_queue.PdfReady(event.GetId(), event.GetString()); }
    void OnEnded(wxThreadEvent& event) { m_queue.Ended(event.GetId()); }

    Document* DocOf(const JobRecord& record);
    void End(JobRecord& record);
    void Drain();
    void Redraw(bool now);
    std::string EndLine(const Document& doc) const;

    std::vector<Document> m_docs;
    const StoredSettings& m_settings;
    const wxString m_folder;
    const Display m_display;
    console::Waiter& m_waiter;
    DownloadQueue m_queue;
    size_t m_ended = 0;
    std::vector<int> m_counts = std::vector<int>(6, 0);
    // Live display: lines drawn below the finished ones, and what is still to print.
    int m_liveLines = 0;
    std::string m_endedText;
    bool m_dirty = false;
    Clock::time_point m_lastDraw;
};

Document* Runner::DocOf(const JobRecord& record) {
    if (record.id < 0 || static_cast<size_t>(record.id) >= m_docs.size())
        return nullptr;
    return &m_docs[static_cast<size_t>(record.id)];
}

void Runner::End(JobRecord& record) {
    Document* found = DocOf(record);
    if (!found || found->ended)
        return;
    Document& doc = *found;
    const JobProgress& last = record.last;
    doc.ended = true;
    doc.outcome = qvget::OutcomeOfPhase(last.phase);
    ++m_counts[static_cast<size_t>(doc.outcome)];
    ++m_ended;
    switch (m_display) {
    case Display::Json: {
        std::string line = "{\"number\":" + qvget::JsonString(doc.given) +
                           ",\"status\":" + qvget::JsonString(last.status) + ",\"file\":";
        line += qvget::IsSuccess(doc.outcome) && !last.file.empty() ? qvget::JsonString(last.file)
                                                                    : "null";
        line += ",\"pages\":";
        line += last.pageCount > 0 && doc.outcome == Outcome::Finished
                    ? std::to_string(last.pageCount)
                    : "null";
        console::Write(line + "}\n");
        break;
    }
    case Display::Lines:
        console::Write(EndLine(doc) + "\n");
        break;
    case Display::Live:
        m_endedText += EndLine(doc) + "\n";
        m_dirty = true;
        break;
    }
}

std::string Runner::EndLine(const Document& doc) const {
    const JobProgress& last = doc.record->last;
    std::string line = qvget::Printable(doc.given + ": " + last.status);
    if (doc.outcome == Outcome::Finished && last.pageCount > 0)
        line += ", " + std::to_string(last.pageCount) + (last.pageCount == 1 ? " page" : " pages");
    if (qvget::IsSuccess(doc.outcome) && !last.file.empty())
        line += " -> " + qvget::Printable(last.file);
    return line;
}

// Cuts a line to the terminal's width: a wrapped line would break the cursor arithmetic.
// Counts bytes, which errs on the short side for non-ASCII text.
std::string Fit(const std::string& line, size_t width) {
    return line.size() < width ? line : line.substr(0, width > 1 ? width - 1 : 0);
}

void Runner::Redraw(bool now) {
    if (m_display != Display::Live || (!m_dirty && !now))
        return;
    const Clock::time_point t = Clock::now();
    if (!now && t - m_lastDraw < std::chrono::milliseconds(100))
        return; // drawn at the next wake-up or time-out
    m_lastDraw = t;
    m_dirty = false;
    const size_t width = console::Width();

    std::string out;
    // Back to the first live line and clear from there: the live lines are drawn anew below
    // the documents that ended since.
    if (m_liveLines > 0)
        out += "\r\x1b[" + std::to_string(m_liveLines) + "A";
    out += "\r\x1b[J";
    out += m_endedText;
    m_endedText.clear();
    m_liveLines = 0;
    for (const Document& doc : m_docs) {
        if (doc.ended || !doc.record->job)
            continue;
        std::string line = "  " + qvget::Printable(doc.given);
        if (line.size() < 20)
            line.resize(20, ' ');
        line += " " + qvget::Printable(doc.record->last.status);
        out += Fit(line, width) + "\n";
        ++m_liveLines;
    }
    if (m_ended < m_docs.size()) {
        out += Fit("[" + std::to_string(m_ended) + "/" + std::to_string(m_docs.size()) + "] " +
                       std::to_string(m_queue.RunningCount()) + " running",
                   width) +
               "\n";
        ++m_liveLines;
    }
    console::Write(out);
}

void Runner::Drain() {
    // ProcessPendingEvents handles one event per call.
    for (;;) {
        {
            wxCriticalSectionLocker lock(m_pendingEventsLock);
            if (!m_pendingEvents || m_pendingEvents->IsEmpty())
                break;
        }
        ProcessPendingEvents();
    }
}

int Runner::Run() {
    m_queue.Dispatch();
    Redraw(true);
    while (m_ended < m_docs.size()) {
        const console::Woke woke = m_waiter.Wait(m_display == Display::Live ? 100 : -1);
        if (woke == console::Woke::Failed)
            break;
        if (woke == console::Woke::Stop) {
            // Every job is asked at once and all are awaited together. What they posted
            // before they stopped still counts.
            m_queue.StopAll();
            Drain();
            m_queue.EndUnfinished();
            Redraw(true);
            if (m_display == Display::Live)
                console::Write(qvget::Summary(m_counts) + "\n");
            std::fprintf(stderr, "%s: interrupted\n", kProgram);
            return 130;
        }
        Drain();
        wxLog::FlushActive(); // what a job logged on its thread goes to standard error now
        Redraw(false);
    }
    Redraw(true);
    if (m_display == Display::Live)
        console::Write(qvget::Summary(m_counts) + "\n");
    for (const Document& doc : m_docs)
        if (!qvget::IsSuccess(doc.outcome))
            return 1;
    return 0;
}

Runner* g_runner = nullptr;
wxEvtHandler* CurrentRunner() {
    return g_runner;
}

int Usage(const std::string& error) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, error.c_str(),
                 kProgram);
    return 2;
}

// The absolute download folder, made when missing; empty with a message when unusable.
wxString PrepareFolder(const std::string& given) {
    wxFileName dir = wxFileName::DirName(given.empty() ? wxGetCwd() : wxString::FromUTF8(given));
    dir.MakeAbsolute();
    const wxString path = dir.GetPath();
    if (!wxDirExists(path) && !wxFileName::Mkdir(path, 0777, wxPATH_MKDIR_FULL)) {
        std::fprintf(stderr, "%s: cannot make the download folder %s\n", kProgram,
                     Utf8(path).c_str());
        return wxString();
    }
    if (!wxFileName::IsDirWritable(path)) {
        std::fprintf(stderr, "%s: cannot write into the download folder %s\n", kProgram,
                     Utf8(path).c_str());
        return wxString();
    }
    return path;
}

int Main(int argc, char** argv) {
    qvget::Options options;
    std::string error;
    if (!qvget::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), options, error))
        return Usage(error);
    if (options.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", kProgram, QV_VERSION);
        return 0;
    }

    std::vector<wxString> numbers;
    for (const std::string& n : options.numbers)
        numbers.push_back(wxString::FromUTF8(n));
    for (const std::string& file : options.listFiles) {
        std::vector<wxString> listed;
        wxString readError;
        if (!ReadListFile(wxString::FromUTF8(file), listed, readError)) {
            std::fprintf(stderr, "%s: %s\n", kProgram, Utf8(readError).c_str());
            return 2;
        }
        numbers.insert(numbers.end(), listed.begin(), listed.end());
    }
    if (numbers.empty())
        return Usage("no numbers to download");

    const wxString folder = PrepareFolder(options.folder);
    if (folder.empty())
        return 1;
    const StoredSettings settings = LoadStoredSettings();
    const unsigned limit =
        options.jobs > 0 ? static_cast<unsigned>(options.jobs) : settings.maxThreads;

    // Before the first job thread: the stop request goes to the main thread alone.
    console::Waiter waiter;
    if (!waiter.Open()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, std::strerror(errno));
        return 1;
    }

    Display display = Display::Lines;
    if (options.json)
        display = Display::Json;
    else if (!options.quiet && console::OutputIsTerminal())
        display = Display::Live;

    int status = 1;
    {
        Runner runner(numbers, settings, folder, limit, display, waiter);
        g_runner = &runner;
        SetJobEventTarget(&CurrentRunner);
        status = runner.Run();
        SetJobEventTarget(nullptr);
        g_runner = nullptr;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    console::Prepare();
    wxInitializer wx;
    if (!wx.IsOk()) {
        std::fprintf(stderr, "%s: cannot initialise wxWidgets\n", kProgram);
        return 1;
    }
    if (!qvNetInit()) {
        std::fprintf(stderr, "%s: cannot initialise the network library\n", kProgram);
        return 1;
    }
    const int status = Main(argc, argv);
    qvNetCleanup();
    return status;
}

// The client of the USPTO's Patent Public Search: one document from number to PDF bytes,
// step by step (search, print, save), over HTTPS through a job's httpSession (certificates
// verified, https_proxy or the Setup proxy, CURL_CA_BUNDLE, HTTP/2 where libcurl has it).
// Every request waits for the process-wide pacer; a 429 waits what the service asks and
// resumes the same step; a 403 (an expired session) opens a new session once and replays.
// GUI-free; used by one thread at a time (the job's).
#pragma once

#include "ppubsProtocol.h"

#include <wx/string.h>

#include <functional>
#include <string>

class SpoolFile;
class httpSession;
struct httpAnswer;

// How a step ended.
enum class PpubsOutcome {
    Ok,
    NotFound,  // the service has no document of that number
    Retry,     // no usable answer (refused connection, TLS, 5xx, time-out...): try again later
    Final,     // the document cannot be had this way (print job failed, a page not CCITT...)
    Cancelled, // the job was told to stop
};

// What the client needs from its job.
struct PpubsHooks {
    // Sleeps ms in slices; false as soon as the job is told to stop.
    std::function<bool(long long ms)> pause;
    // Shows a wait the service asked for ("USPTO Asks to Wait, Resuming in 2s").
    std::function<void(const wxString&)> status;
};

// "Quorvane/2.NN": the program and its version, honestly, in every request.
std::string PpubsUserAgent();

// The most a search answer may hold (a real one is some kilobytes).
constexpr size_t kMaxPpubsJsonAnswer = size_t(4) << 20;

class ppubsClient {
public:
    ppubsClient(httpSession& session, PpubsHooks hooks);

    PpubsOutcome Search(const PpubsQuery& query, PpubsHit& hit);
    // Asks for the PDF of all pages and waits for it: progress once every pollMs, at most
    // kMaxPrintWait; gives the PDF's name.
    PpubsOutcome Print(const PpubsHit& hit, std::string& pdfName);
    // The PDF made by Print (at most kMaxPagePdfBytesEach bytes per page of hit), written
    // into `pdf` as it arrives.
    PpubsOutcome Save(const PpubsHit& hit, const std::string& pdfName, SpoolFile& pdf);

    // Why the last step did not end Ok; never holds a token.
    wxString Error() const { return m_error; }

    // The wait between progress requests, as the web page polls (tests shorten it).
    static void SetPollInterval(long long ms);
    static constexpr long long kMaxPrintWaitMs = 5 * 60 * 1000;
    // A 429 after this many in a row on one step counts as no answer.
    static constexpr int kMaxTooMany = 20;

    // Forgets the process-wide session (tests).
    static void ForgetSession();

private:
    PpubsOutcome Session(std::string& token, long long& caseId, bool renew);
    PpubsOutcome Open(PpubsSession& opened);
    // One request: path under the base, GET without bodyOf, else POST of its body for the
    // session's case (a new session has a new case). Ok with a 200 answer.
    using BodyOfCase = std::function<std::string(long long caseId)>;
    PpubsOutcome Call(const std::string& path, const BodyOfCase& bodyOf, size_t maxBody,
                      httpAnswer& answer);
    // The request as sent, with or without the session's token.
    bool Send(const std::string& path, const std::string& body, const std::string& token,
              size_t maxBody, httpAnswer& answer);
    PpubsOutcome Fail(PpubsOutcome outcome, const wxString& text);

    httpSession& m_http;
    PpubsHooks m_hooks;
    long long m_caseId = 0;
    wxString m_error;
    SpoolFile* m_savePdf = nullptr; // where a 200 answer of the request under way goes
};

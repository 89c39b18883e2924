#include "ppubsClient.h"

#include "ppubsPacer.h"
#include "spoolFile.h"

#include "httpSession.h"
#include "pdfPageImage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

namespace {

#define QV_STR2(x) #x
#define QV_STR(x) QV_STR2(x)
const char kUserAgent[] = "Quorvane/2." QV_STR(QV_VERSION_MINOR);

// The service ends a session after 30 minutes; a new one is opened a little before.
const std::chrono::minutes kSessionLife(25);
const size_t kMaxSmallAnswer = size_t(64) << 10;

// Set by tests while no job runs; atomic because every job's thread reads it.
std::atomic<long long> g_pollMs{1000};

// One session for the whole process, as one user of the web page has one: every job asks
// here. All jobs' threads read and write it: one lock, and a flag while one job opens it
// (the others wait rather than each opening their own).
struct SharedSession {
    std::mutex mutex;
    PpubsSession session;
    std::chrono::steady_clock::time_point opened{};
    bool opening = false;
};

SharedSession& Shared() {
    static SharedSession shared;
    return shared;
}

} // namespace

std::string PpubsUserAgent() {
    return kUserAgent;
}

void ppubsClient::SetPollInterval(long long ms) {
    g_pollMs = std::max(1LL, ms);
}

void ppubsClient::ForgetSession() {
    SharedSession& s = Shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.session = PpubsSession();
}

ppubsClient::ppubsClient(httpSession& session, PpubsHooks hooks)
    : m_http(session), m_hooks(std::move(hooks)) {
    m_http.SetHttp2(true);
}

PpubsOutcome ppubsClient::Fail(PpubsOutcome outcome, const wxString& text) {
    m_error = text;
    return outcome;
}

bool ppubsClient::Send(const std::string& path, const std::string& body, const std::string& token,
                       size_t maxBody, httpAnswer& answer) {
    std::vector<std::string> headers = {"Accept: */*",
                                        std::string("Origin: ") + ppubshost::kBase,
                                        std::string("Referer: ") + ppubshost::kBase +
                                            ppubshost::kApp,
                                        "X-Requested-With: XMLHttpRequest",
                                        "Cache-Control: no-cache",
                                        std::string("User-Agent: ") + kUserAgent};
    if (!body.empty())
        headers.push_back("Content-Type: application/json");
    if (!token.empty())
        headers.push_back("X-Access-Token: " + token);
    m_http.SetMaxBodyBytes(maxBody);
    return m_http.Exchange(wxString(ppubshost::kBase) + wxString::FromUTF8(path), headers, body,
                           answer);
}

PpubsOutcome ppubsClient::Open(PpubsSession& opened) {
    httpAnswer a;
    // The page itself first, as the web page's visitors load it.
    ppubsPacer& pacer = ppubsPacer::Instance();
    for (const char* step : {ppubshost::kApp, ppubshost::kSession}) {
        for (;;) {
            const long long wait = pacer.Turn(PpubsBucket::Other).count();
            if (wait == 0)
                break;
            if (!m_hooks.pause(wait))
                return PpubsOutcome::Cancelled;
        }
        const bool session = step == ppubshost::kSession;
        if (!Send(step, session ? "-1" : "", "", kMaxSmallAnswer, a)) {
            pacer.Lost(PpubsBucket::Other);
            return Fail(PpubsOutcome::Retry, m_http.GetError());
        }
        pacer.Answered(PpubsBucket::Other, -1);
        if (a.status != 200)
            return Fail(PpubsOutcome::Retry, wxString::Format("Server Error %ld", a.status));
    }
    std::string error;
    if (!ReadPpubsSession(a.Header("x-access-token"), a.body, opened, error))
        return Fail(PpubsOutcome::Retry, "USPTO session: " + wxString::FromUTF8(error));
    return PpubsOutcome::Ok;
}

PpubsOutcome ppubsClient::Session(std::string& token, long long& caseId, bool renew) {
    SharedSession& s = Shared();
    const std::string rejected = token;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            const bool fresh = !s.session.token.empty() &&
                               std::chrono::steady_clock::now() - s.opened < kSessionLife &&
                               !(renew && s.session.token == rejected);
            if (fresh) {
                token = s.session.token;
                caseId = s.session.caseId;
                return PpubsOutcome::Ok;
            }
            if (!s.opening) {
                s.opening = true;
                break;
            }
        }
        if (!m_hooks.pause(50))
            return PpubsOutcome::Cancelled;
    }
    PpubsSession opened;
    const PpubsOutcome got = Open(opened);
    std::lock_guard<std::mutex> lock(s.mutex);
    s.opening = false;
    if (got != PpubsOutcome::Ok)
        return got;
    s.session = opened;
    s.opened = std::chrono::steady_clock::now();
    token = opened.token;
    caseId = opened.caseId;
    return PpubsOutcome::Ok;
}

PpubsOutcome ppubsClient::Call(const std::string& path, const BodyOfCase& bodyOf, size_t maxBody,
                               httpAnswer& answer) {
    ppubsPacer& pacer = ppubsPacer::Instance();
    const PpubsBucket bucket = PpubsBucketOf(path.c_str());
    std::string token;
    bool renewed = false;
    int tooMany = 0;
    PpubsOutcome got = Session(token, m_caseId, false);
    if (got != PpubsOutcome::Ok)
        return got;
    for (;;) {
        for (;;) {
            const long long wait = pacer.Turn(bucket).count();
            if (wait == 0)
                break;
            if (!m_hooks.pause(std::min(wait, 250LL)))
                return PpubsOutcome::Cancelled;
        }
        answer = httpAnswer();
        if (m_savePdf) {
            // Each try writes the file from its start.
            wxString error;
            if (!m_savePdf->Create(error))
                return Fail(PpubsOutcome::Final, error);
            SpoolFile* file = m_savePdf;
            m_http.SetBodySink(
                [file](const char* data, size_t size) { return file->Append(data, size); });
        }
        if (!Send(path, bodyOf ? bodyOf(m_caseId) : std::string(), token, maxBody, answer)) {
            pacer.Lost(bucket);
            return Fail(PpubsOutcome::Retry, m_http.GetError());
        }
        if (answer.status == 429) {
            const long seconds =
                ParsePpubsRetryAfter(answer.Header("x-rate-limit-retry-after-seconds"));
            pacer.Refused(bucket, seconds);
            if (++tooMany > kMaxTooMany)
                return Fail(PpubsOutcome::Retry, "USPTO Too Many Requests");
            // The service asked for a pause; the same request follows after it.
            for (long left = seconds + 1; left > 0; --left) {
                m_hooks.status(wxString::Format("USPTO Asks to Wait, Resuming in %lis", left));
                if (!m_hooks.pause(1000))
                    return PpubsOutcome::Cancelled;
            }
            continue;
        }
        pacer.Answered(bucket, ParsePpubsRemaining(answer.Header("x-rate-limit-remaining")));
        if (answer.status == 403 && !renewed) {
            // An expired session: a new one, once, and the same request again.
            renewed = true;
            got = Session(token, m_caseId, true);
            if (got != PpubsOutcome::Ok)
                return got;
            continue;
        }
        if (answer.status != 200)
            return Fail(PpubsOutcome::Retry, wxString::Format("Server Error %ld", answer.status));
        return PpubsOutcome::Ok;
    }
}

PpubsOutcome ppubsClient::Search(const PpubsQuery& query, PpubsHit& hit) {
    httpAnswer a;
    // The count first, as the web page asks; its answer is not needed.
    PpubsOutcome got = Call(
        ppubshost::kCounts, [&query](long long c) { return PpubsCountsBody(query, c); },
        kMaxSmallAnswer, a);
    if (got != PpubsOutcome::Ok)
        return got;
    got = Call(
        ppubshost::kSearch, [&query](long long c) { return PpubsSearchBody(query, c); },
        kMaxPpubsJsonAnswer, a);
    if (got != PpubsOutcome::Ok)
        return got;
    std::string error;
    switch (ReadPpubsSearch(a.body, query, hit, error)) {
    case PpubsSearchResult::Found:
        return PpubsOutcome::Ok;
    case PpubsSearchResult::NotFound:
        return Fail(PpubsOutcome::NotFound, "Not Found");
    default:
        return Fail(PpubsOutcome::Retry, "USPTO " + wxString::FromUTF8(error));
    }
}

PpubsOutcome ppubsClient::Print(const PpubsHit& hit, std::string& pdfName) {
    httpAnswer a;
    PpubsOutcome got = Call(
        ppubshost::kPrint, [&hit](long long c) { return PpubsPrintBody(hit, c); }, kMaxSmallAnswer,
        a);
    if (got != PpubsOutcome::Ok)
        return got;
    std::string job;
    if (!ReadPpubsPrintJob(a.body, job))
        return Fail(PpubsOutcome::Retry, "USPTO print request unanswered");
    const long long poll = g_pollMs.load();
    for (long long waited = 0;; waited += poll) {
        got = Call(
            ppubshost::kPrintProcess, [&job](long long) { return PpubsPrintProcessBody(job); },
            kMaxSmallAnswer, a);
        if (got != PpubsOutcome::Ok)
            return got;
        std::string error;
        switch (ReadPpubsPrintProcess(a.body, job, pdfName, error)) {
        case PpubsPrintState::Completed:
            return PpubsOutcome::Ok;
        case PpubsPrintState::Failed:
            return Fail(PpubsOutcome::Final, "USPTO Could Not Prepare the PDF");
        case PpubsPrintState::Unreadable:
            return Fail(PpubsOutcome::Retry, "USPTO " + wxString::FromUTF8(error));
        case PpubsPrintState::Waiting:
            break;
        }
        if (waited >= kMaxPrintWaitMs)
            return Fail(PpubsOutcome::Final, "USPTO Did Not Finish the PDF in 5 Minutes");
        if (!m_hooks.pause(poll))
            return PpubsOutcome::Cancelled;
    }
}

PpubsOutcome ppubsClient::Save(const PpubsHit& hit, const std::string& pdfName, SpoolFile& pdf) {
    httpAnswer a;
    const size_t most = std::max<size_t>(1, size_t(hit.pageCount)) * kMaxPagePdfBytesEach;
    m_savePdf = &pdf;
    const PpubsOutcome got = Call(ppubshost::kSave + pdfName, nullptr, most, a);
    m_savePdf = nullptr;
    if (got != PpubsOutcome::Ok)
        return got;
    if (a.Header("Content-Type").find("application/pdf") == std::string::npos)
        return Fail(PpubsOutcome::Retry, "USPTO sent no PDF");
    return PpubsOutcome::Ok;
}

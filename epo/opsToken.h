// Access tokens of the EPO's services: one token per key for the whole process, shared by
// every job, asked for again shortly before it runs out.
#pragma once

#include "opsCredentials.h"

#include <wx/string.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class httpSession;

// Every request to the EPO's services names the program so.
constexpr const char* kOpsUserAgent = "Quorvane (EPO OPS 3.2 client)";
// The largest token answer read: far above a real one (under 1 kB).
constexpr size_t kMaxOpsTokenAnswer = size_t(64) << 10;

// What the token endpoint answered.
struct OpsTokenAnswer {
    enum Kind { Granted, Refused, Failed } kind = Failed;
    std::string token;
    long expiresInSeconds = 0;
    wxString error; // for Failed: why, fit for a status text (never the token)
};

// Classifies an answer of POST /3.2/auth/accesstoken: 200 with a usable token is Granted,
// 400 and 401 (and 403 without a rejection reason) are a refused key, the rest Failed.
OpsTokenAnswer ReadOpsTokenAnswer(long status, const std::string& rejectionReason,
                                  const std::string& body);

// Asks the token endpoint through session for key: what Setup's key check and the jobs use.
OpsTokenAnswer RequestOpsToken(httpSession& session, const OpsCredentials& key);

// "Basic base64(key:secret)", the value of the token request's Authorization header.
std::string OpsBasicAuthorization(const OpsCredentials& key);

class opsTokens {
public:
    enum class Result { Ok, Refused, Failed, Cancelled };
    using Fetcher = std::function<OpsTokenAnswer()>;

    static opsTokens& Instance();

    // A token for key: the shared one while it is good for a while yet, else a new one
    // through fetch (one job fetches while the others with the same key wait for it).
    // cancelled is asked while waiting. error is set for Refused and Failed.
    Result Get(const OpsCredentials& key, const Fetcher& fetch,
               const std::function<bool()>& cancelled, std::string& token, wxString& error);
    // The service said the token is not valid (400 invalid_access_token): the next Get
    // fetches a new one, unless another job already replaced it.
    void Rejected(const OpsCredentials& key, const std::string& token);

    // Forgets every token and refusal (tests).
    void Reset();

    // How long before its end a token is renewed: a tenth of its life, at most a minute.
    static std::chrono::milliseconds RenewMargin(long expiresInSeconds);
    // A refused key is not asked again for this long: queued jobs with the same key end at
    // once instead of each knocking at the token endpoint.
    static constexpr std::chrono::seconds kRefusalMemory{60};

private:
    opsTokens() = default;
    using Clock = std::chrono::steady_clock;
    struct Entry {
        std::string token;
        Clock::time_point renewAt{};
        bool fetching = false;
        bool refused = false;
        Clock::time_point refusedAt{};
    };
    static std::string Id(const OpsCredentials& key);

    // All jobs' threads read and write the entries: one lock, and the condition on which
    // jobs wait while one of them fetches.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, Entry> m_entries;
};

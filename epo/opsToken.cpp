#include "opsToken.h"

#include "httpSession.h"
#include "opsPacer.h"
#include "remoteHosts.h"

#include <wx/base64.h>

#include <algorithm>
#include <cctype>

namespace {

const size_t kMaxTokenLength = 2048;

// The string value of a top-level key of a flat JSON object; numbers are taken as text too.
// False when the key is missing or its value holds an escape.
bool JsonValue(const std::string& body, const char* key, std::string& value) {
    const std::string quoted = std::string("\"") + key + "\"";
    size_t at = 0;
    while ((at = body.find(quoted, at)) != std::string::npos) {
        size_t i = at + quoted.size();
        at = i;
        while (i < body.size() && std::isspace(static_cast<unsigned char>(body[i])))
            ++i;
        if (i >= body.size() || body[i] != ':')
            continue; // the text was a value, not a key
        ++i;
        while (i < body.size() && std::isspace(static_cast<unsigned char>(body[i])))
            ++i;
        if (i < body.size() && body[i] == '"') {
            const size_t end = body.find('"', i + 1);
            if (end == std::string::npos)
                return false;
            value = body.substr(i + 1, end - i - 1);
            return value.find('\\') == std::string::npos;
        }
        size_t end = i;
        while (end < body.size() && std::isdigit(static_cast<unsigned char>(body[end])))
            ++end;
        value = body.substr(i, end - i);
        return !value.empty();
    }
    return false;
}

// The characters of a bearer token (b64token): nothing that could end a header line.
bool UsableToken(const std::string& token) {
    if (token.empty() || token.size() > kMaxTokenLength)
        return false;
    for (char c : token) {
        const bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ||
                        c == '_' || c == '~' || c == '+' || c == '/' || c == '=';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

OpsTokenAnswer ReadOpsTokenAnswer(long status, const std::string& rejectionReason,
                                  const std::string& body) {
    OpsTokenAnswer answer;
    if (status == 400 || status == 401 || (status == 403 && rejectionReason.empty())) {
        answer.kind = OpsTokenAnswer::Refused;
        return answer;
    }
    if (status != 200) {
        answer.error = wxString::Format("Server Error %ld", status);
        return answer;
    }
    std::string token, expires;
    if (!JsonValue(body, "access_token", token) || !UsableToken(token)) {
        answer.error = "Unreadable Access Token";
        return answer;
    }
    long seconds = 0;
    if (JsonValue(body, "expires_in", expires) && !expires.empty() && expires.size() < 9 &&
        std::all_of(expires.begin(), expires.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        seconds = std::stol(expires);
    answer.kind = OpsTokenAnswer::Granted;
    answer.token = token;
    // A token without a lifetime is used until the service rejects it.
    answer.expiresInSeconds = seconds > 0 ? seconds : 20 * 60;
    return answer;
}

OpsTokenAnswer RequestOpsToken(httpSession& session, const OpsCredentials& key) {
    httpAnswer a;
    std::vector<std::string> headers = {"Authorization: " + OpsBasicAuthorization(key),
                                        "Content-Type: application/x-www-form-urlencoded",
                                        "Accept: application/json",
                                        std::string("User-Agent: ") + kOpsUserAgent};
    session.SetMaxBodyBytes(kMaxOpsTokenAnswer);
    if (!session.Exchange(wxString(remotehosts::kEpoOpsBase) + "auth/accesstoken", headers,
                          "grant_type=client_credentials", a)) {
        OpsTokenAnswer failed;
        failed.error = session.GetError();
        return failed;
    }
    opsPacer::Instance().Observe(a.Header("X-Throttling-Control"));
    opsPacer::Instance().NoteWeekUsed(a.Header("X-RegisteredQuotaPerWeek-Used"));
    return ReadOpsTokenAnswer(a.status, a.Header("X-Rejection-Reason"), a.body);
}

std::string OpsBasicAuthorization(const OpsCredentials& key) {
    const wxString text = key.key + ":" + key.secret;
    const wxScopedCharBuffer pair = text.utf8_str();
    return "Basic " + std::string(wxBase64Encode(pair.data(), pair.length()).utf8_str());
}

opsTokens& opsTokens::Instance() {
    static opsTokens tokens;
    return tokens;
}

std::chrono::milliseconds opsTokens::RenewMargin(long expiresInSeconds) {
    const long long tenth = expiresInSeconds * 100LL; // milliseconds
    return std::chrono::milliseconds(std::min<long long>(tenth, 60000));
}

std::string opsTokens::Id(const OpsCredentials& key) {
    // The secret is part of the identity (a corrected secret is a new key) but is kept only
    // as a hash.
    // Converts copies: a wxString caches its conversion inside itself, so converting a key
    // that several threads hold would race on that cache.
    const std::string secret(wxString(key.secret).utf8_str());
    return std::string(wxString(key.key).utf8_str()) + "\n" +
           std::to_string(std::hash<std::string>()(secret));
}

opsTokens::Result opsTokens::Get(const OpsCredentials& key, const Fetcher& fetch,
                                 const std::function<bool()>& cancelled, std::string& token,
                                 wxString& error) {
    const std::string id = Id(key);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        Entry& e = m_entries[id];
        const Clock::time_point now = Clock::now();
        if (!e.token.empty() && now < e.renewAt) {
            token = e.token;
            return Result::Ok;
        }
        if (e.refused && now - e.refusedAt < kRefusalMemory) {
            error = "Key Refused";
            return Result::Refused;
        }
        if (!e.fetching)
            break;
        // Another job is asking; waits in short steps so that a cancel is seen at once.
        m_changed.wait_for(lock, std::chrono::milliseconds(50));
        if (cancelled && cancelled())
            return Result::Cancelled;
    }
    m_entries[id].fetching = true;
    lock.unlock();
    const OpsTokenAnswer answer = fetch();
    lock.lock();
    Entry& e = m_entries[id];
    e.fetching = false;
    m_changed.notify_all();
    switch (answer.kind) {
    case OpsTokenAnswer::Granted:
        e.token = answer.token;
        e.refused = false;
        e.renewAt = Clock::now() + std::chrono::seconds(answer.expiresInSeconds) -
                    RenewMargin(answer.expiresInSeconds);
        token = e.token;
        return Result::Ok;
    case OpsTokenAnswer::Refused:
        e.token.clear();
        e.refused = true;
        e.refusedAt = Clock::now();
        error = "Key Refused";
        return Result::Refused;
    case OpsTokenAnswer::Failed:
    default:
        error = answer.error;
        return Result::Failed;
    }
}

void opsTokens::Rejected(const OpsCredentials& key, const std::string& token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Entry& e = m_entries[Id(key)];
    if (e.token == token)
        e.token.clear();
}

void opsTokens::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

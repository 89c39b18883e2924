#include "httpSession.h"

#include "systemProxy.h"
#include "tlsTrust.h"

#include <wx/mstream.h>

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

// What one transfer collects while libcurl runs it.
struct httpTransfer {
    CURL* curl = nullptr;
    std::string body;
    bool answered = false; // a status line came back
    bool reserved = false;
    bool tooLarge = false;
    size_t maxBody = 0;
    const std::function<bool()>* shouldStop = nullptr;
    std::chrono::steady_clock::time_point nextPoll;
    // Header lines of the answer, for the requests that read them (null: not kept).
    std::vector<std::pair<std::string, std::string>>* headers = nullptr;
    // Where the body of a 200 answer goes instead of `body` (null: kept in `body`).
    const std::function<bool(const char*, size_t)>* sink = nullptr;
    size_t sunk = 0;
    bool sinkFailed = false;
};

namespace {

const char* const kUserAgent =
    "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8.1.1) Gecko/20061204 Firefox/2.0.0.1";
const char* const kAcceptLine = "Accept: text/xml,application/xml,application/xhtml+xml,text/"
                                "html;q=0.9,text/plain;q=0.8,image/png,*/*;q=0.5";
// How often a running transfer asks its owner whether to stop.
const std::chrono::milliseconds kAbortPollInterval(100);

// Texts of this class are 8-bit; the C library's conversion decides the bytes, with UTF-8
// for what the current locale cannot represent.
std::string toBytes(const wxString& text) {
    if (text.empty())
        return std::string();
    wxCharBuffer bytes = text.mb_str(wxConvLibc);
    if (bytes.length() == 0)
        bytes = text.utf8_str();
    return std::string(bytes.data(), bytes.length());
}

// The body of a response, handed out without another copy: the bytes live in the base
// that is built before the stream reading them.
struct bodyHolder {
    explicit bodyHolder(std::string&& bytes) : m_bytes(std::move(bytes)) {}
    std::string m_bytes;
};

class bodyStream : private bodyHolder, public wxMemoryInputStream {
public:
    explicit bodyStream(std::string&& bytes)
        : bodyHolder(std::move(bytes)), wxMemoryInputStream(m_bytes.data(), m_bytes.size()) {}
};

// Header fields kept of one answer: more would be no answer of a service we talk to.
const size_t kMaxHeaderFields = 200;

std::string Trimmed(const std::string& text) {
    size_t a = 0, b = text.size();
    while (a < b && (text[a] == ' ' || text[a] == '\t'))
        ++a;
    while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t' || text[b - 1] == '\r' ||
                     text[b - 1] == '\n'))
        --b;
    return text.substr(a, b - a);
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    httpTransfer* t = static_cast<httpTransfer*>(user);
    t->answered = true;
    if (t->headers) {
        const std::string line(data, size * count);
        if (line.compare(0, 5, "HTTP/") == 0) {
            // A new status line (after a 100 Continue or a redirect): a new set of fields.
            t->headers->clear();
        } else {
            const size_t colon = line.find(':');
            if (colon != std::string::npos && colon > 0 && t->headers->size() < kMaxHeaderFields)
                t->headers->emplace_back(Trimmed(line.substr(0, colon)),
                                         Trimmed(line.substr(colon + 1)));
        }
    }
    return size * count;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    httpTransfer* t = static_cast<httpTransfer*>(user);
    long code = 0;
    if (t->sink && curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK &&
        code == 200) {
        if (size * count > t->maxBody - t->sunk) {
            t->tooLarge = true;
            return 0;
        }
        t->sunk += size * count;
        if (!(*t->sink)(data, size * count)) {
            t->sinkFailed = true;
            return 0;
        }
        return size * count;
    }
    if (!t->reserved) {
        t->reserved = true;
        curl_off_t length = -1;
        // Encoded answers decode to more than this; it is only a first guess.
        if (curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
            length > 0)
            t->body.reserve(static_cast<size_t>(std::min<curl_off_t>(length, t->maxBody)));
    }
    // Counted on the decoded bytes, so a small compressed bomb is stopped as early.
    if (size * count > t->maxBody - t->body.size()) {
        t->tooLarge = true;
        return 0; // ends the transfer
    }
    t->body.append(data, size * count);
    return size * count;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    httpTransfer* t = static_cast<httpTransfer*>(user);
    if (!t->shouldStop || !*t->shouldStop)
        return 0;
    auto now = std::chrono::steady_clock::now();
    if (now < t->nextPoll)
        return 0;
    t->nextPoll = now + kAbortPollInterval;
    return (*t->shouldStop)() ? 1 : 0;
}

} // namespace

void httpSession::SlistFree::operator()(curl_slist* list) const {
    curl_slist_free_all(list);
}

httpSession::httpSession(ConnectionType type, wxString proxyServer, wxString proxyPort,
                         wxString proxyUser, wxString proxyPass)
    : m_status(0), m_ok(true), m_curl(nullptr), m_proxyUser(proxyUser), m_proxyPass(proxyPass),
      m_connectTimeout(30), m_stallTimeout(60), m_maxBody(kDefaultMaxBody) {
    if (!OpenHandle()) {
        m_error.Printf("Can't Initialize HTTP Error %u", unsigned(CURLE_FAILED_INIT));
        m_ok = false;
        return;
    }
    m_systemProxy = type == ConnectionType::Automatic;
    if (type == ConnectionType::HttpProxy && !SetProxy(proxyServer, proxyPort)) {
        m_ok = false;
        return;
    }
    AddHeader("Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\n");
    AddHeader("Content-Type: text/xml; charset=utf-8\n");
    AddHeader("Accept-Encoding: gzip,deflate\n");
    AddHeader("Accept-Language: en-us,en;q=0.5\n");
    AddHeader("Connection: keep-alive\n");
}

httpSession::httpSession(const ConnectionSettingsRecord& settings)
    : httpSession(settings.Type(), settings.proxyServer, settings.proxyPort, settings.proxyUser,
                  settings.proxyPass) {}

httpSession::~httpSession() {
    if (m_multi)
        curl_multi_cleanup(m_multi);
    if (m_curl)
        curl_easy_cleanup(m_curl);
}

// A fresh handle has no connection yet; dropping the old one closes its connections.
bool httpSession::OpenHandle() {
    if (m_multi)
        curl_multi_cleanup(m_multi);
    if (m_curl)
        curl_easy_cleanup(m_curl);
    m_curl = curl_easy_init();
    m_multi = curl_multi_init();
    m_systemProxySet = false;
    if (!m_curl)
        return false;
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_USERAGENT, kUserAgent);
    // The header block advertises gzip and deflate; this makes libcurl decode such answers.
    curl_easy_setopt(m_curl, CURLOPT_ACCEPT_ENCODING, "gzip,deflate");
    curl_easy_setopt(m_curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(m_curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(m_curl, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(m_curl, CURLOPT_PROXYTYPE, long(CURLPROXY_HTTP));
    curl_easy_setopt(m_curl, CURLOPT_PROXYAUTH, long(CURLAUTH_BASIC));
    curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
    return true;
}

bool httpSession::SetProxy(const wxString& server, const wxString& port) {
    m_proxyUse = ProxyUse::Environment;
    m_proxyString.clear();
    if (server.empty()) {
        m_proxyUse = ProxyUse::None;
        return true;
    }
    wxString proxy = server + ":" + port;
    CURLcode rc = curl_easy_setopt(m_curl, CURLOPT_PROXY, toBytes(proxy).c_str());
    if (rc != CURLE_OK) {
        m_error.Printf("Error %u setting proxy", unsigned(rc));
        return false;
    }
    m_proxyString = proxy;
    m_proxyUse = ProxyUse::Explicit;
    return true;
}

bool httpSession::ApplyProxy(const wxString& host, bool https) {
    if (m_proxyUse == ProxyUse::None) {
        // An explicit "no proxy" also overrides http_proxy from the environment.
        curl_easy_setopt(m_curl, CURLOPT_PROXY, "");
        return true;
    }
    if (m_proxyUse == ProxyUse::Environment) {
        if (!m_systemProxy)
            return true; // libcurl follows http_proxy, https_proxy and no_proxy, as the curl tool
        std::string proxy;
        if (SystemProxyFor(https, toBytes(host), &proxy)) {
            curl_easy_setopt(m_curl, CURLOPT_PROXY, proxy.c_str());
            m_systemProxySet = true;
        } else if (m_systemProxySet) {
            // Back to the environment's proxy, which libcurl reads when none is set.
            curl_easy_setopt(m_curl, CURLOPT_PROXY, static_cast<const char*>(nullptr));
            m_systemProxySet = false;
        }
        return true;
    }
    // Host names without a dot are local and bypass the proxy.
    const bool local = host.Find('.') == wxNOT_FOUND;
    curl_easy_setopt(m_curl, CURLOPT_PROXY, local ? "" : toBytes(m_proxyString).c_str());
    if (!m_proxyUser.empty() &&
        curl_easy_setopt(m_curl, CURLOPT_PROXYUSERNAME, toBytes(m_proxyUser).c_str()) != CURLE_OK) {
        m_error.Printf("Error setting the proxy user to %s", m_proxyUser);
        return false;
    }
    if (!m_proxyPass.empty() &&
        curl_easy_setopt(m_curl, CURLOPT_PROXYPASSWORD, toBytes(m_proxyPass).c_str()) != CURLE_OK) {
        m_error = "Error setting the proxy password";
        return false;
    }
    return true;
}

void httpSession::SetTimeouts(long connectSeconds, long stallSeconds) {
    m_connectTimeout = connectSeconds;
    m_stallTimeout = stallSeconds;
}

bool httpSession::AddHeader(const wxString& line) {
    if (m_headers.empty())
        m_headers = line;
    else
        m_headers += "\n" + line;
    return true;
}

bool httpSession::Connect(const wxString& host) {
    if (!m_curl || host.empty()) {
        m_host.clear();
        m_error = "Can't connect";
        return false;
    }
    // Another host gets another connection; the same host keeps its open one, which is what
    // lets callers that connect before every request still use one connection per document.
    if (!m_host.empty() && host != m_host && !OpenHandle()) {
        m_host.clear();
        m_error = "Can't connect";
        return false;
    }
    m_host = host;
    return true;
}

// The extra header block goes out line by line; the empty lines between the fixed headers
// are only separators.
bool httpSession::PrepareHeaders() {
    if (m_headerList && m_headerListFor == m_headers)
        return true;
    m_headerList.reset();
    curl_slist* list = curl_slist_append(nullptr, kAcceptLine);
    wxString rest = m_headers;
    while (list && !rest.empty()) {
        wxString after;
        wxString line = rest.BeforeFirst('\n', &after);
        rest = after;
        line.Trim();
        if (!line.empty())
            list = curl_slist_append(list, toBytes(line).c_str());
    }
    // Without this libcurl would hold a larger POST body back waiting for "100 Continue".
    if (list)
        list = curl_slist_append(list, "Expect:");
    if (!list)
        return false;
    m_headerList.reset(list);
    m_headerListFor = m_headers;
    return true;
}

// Runs one transfer into t with this session's time limits, ceiling and abort check.
int httpSession::Perform(httpTransfer& t) {
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, m_connectTimeout > 0 ? m_connectTimeout : 0L);
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_LIMIT, m_stallTimeout > 0 ? kLowestSpeed : 0L);
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_TIME, m_stallTimeout > 0 ? m_stallTimeout : 0L);
    t.curl = m_curl;
    t.shouldStop = &m_shouldStop;
    t.maxBody = m_maxBody;
    curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, &t);
    // Driven through the session's multi handle, which also keeps its connections, so that a
    // stop is seen within a tenth of a second: on a stalled transfer libcurl calls the progress
    // callback only about once a second.
    if (!m_multi || curl_multi_add_handle(m_multi, m_curl) != CURLM_OK)
        return curl_easy_perform(m_curl);
    CURLcode result = CURLE_FAILED_INIT;
    for (bool done = false; !done;) {
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK)
            break;
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(m_multi, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_curl) {
                result = msg->data.result;
                done = true;
            }
        }
        if (done || running == 0)
            break;
        if (m_shouldStop && m_shouldStop()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_poll(m_multi, nullptr, 0, 100, nullptr);
    }
    curl_multi_remove_handle(m_multi, m_curl);
    return result;
}

std::unique_ptr<wxInputStream> httpSession::Request(const wxString& path) {
    if (!m_curl || m_host.empty()) {
        m_error = "Not Connected";
        return nullptr;
    }

    std::string url = "http://" + toBytes(m_host);
    if (!path.StartsWith("/"))
        url += "/";
    url += toBytes(path);
    if (curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str()) != CURLE_OK || !PrepareHeaders()) {
        m_error = "Error requesting " + path;
        return nullptr;
    }
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, m_headerList.get());

    std::string body;
    if (m_postData.empty()) {
        curl_easy_setopt(m_curl, CURLOPT_HTTPGET, 1L);
    } else {
        body = toBytes(m_postData);
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, body.data());
    }

    if (!ApplyProxy(m_host, false))
        return nullptr;

    httpTransfer t;
    CURLcode rc = static_cast<CURLcode>(Perform(t));
    // Nothing of this transfer may be touched by libcurl after it returns.
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));

    long code = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &code);
    if (code > 0)
        m_status = static_cast<uint32_t>(code);

    if (t.tooLarge) {
        m_error.Printf("Answer too large (more than %zu bytes)", m_maxBody);
        return nullptr;
    }
    if (rc != CURLE_OK) {
        // Refused, unreachable, timed out or dropped before a status line: the send failed.
        // Anything after the status line is a failure to read the body.
        if (!t.answered || code <= 0)
            m_error = "Error sending request";
        else
            m_error.Printf("Error %u in WinINetReadData.\n", unsigned(rc));
        return nullptr;
    }
    if (code <= 0) {
        m_error = "Error sending request";
        return nullptr;
    }
    if (code == 401) {
        m_error = "Server Authentication Error";
        return nullptr;
    }
    if (code == 407) {
        m_error = "Proxy Authentication Error";
        return nullptr;
    }
    if (t.body.empty()) {
        m_error = "Empty Stream";
        return nullptr;
    }
    return std::make_unique<bodyStream>(std::move(t.body));
}

std::string httpAnswer::Header(const std::string& name) const {
    std::string joined;
    for (const auto& h : headers) {
        if (h.first.size() != name.size() ||
            !std::equal(h.first.begin(), h.first.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            continue;
        if (!joined.empty())
            joined += ", ";
        joined += h.second;
    }
    return joined;
}

bool httpSession::Exchange(const wxString& url, const std::vector<std::string>& headers,
                           const std::string& body, httpAnswer& answer) {
    answer = httpAnswer();
    // The sink serves this exchange only, however it ends.
    const std::function<bool(const char*, size_t)> sink = std::move(m_sink);
    m_sink = nullptr;
    if (!m_curl) {
        m_error = "Not Connected";
        return false;
    }
    if (!m_extraCaRead) {
        // As the curl tool does: CURL_CA_BUNDLE first, then OpenSSL's own SSL_CERT_FILE.
        m_extraCaRead = true;
        if (m_systemCa.empty()) {
            const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
            if (info && info->cainfo)
                m_systemCa = info->cainfo;
        }
        for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
            const char* value = std::getenv(name);
            if (value && *value) {
                m_extraCa = value;
                break;
            }
        }
    }

    const std::string target = toBytes(url);
    HeaderList list;
    for (const std::string& line : headers) {
        // A line break would start another header: such a line is not sent at all.
        curl_slist* next = line.find_first_of("\r\n") == std::string::npos
                               ? curl_slist_append(list.get(), line.c_str())
                               : nullptr;
        if (!next) {
            m_error = "Error requesting " + url;
            return false;
        }
        list.release();
        list.reset(next);
    }
    curl_slist* withExpect = curl_slist_append(list.get(), "Expect:");
    if (withExpect) {
        list.release();
        list.reset(withExpect);
    }
    if (!withExpect || curl_easy_setopt(m_curl, CURLOPT_URL, target.c_str()) != CURLE_OK) {
        m_error = "Error requesting " + url;
        return false;
    }
    // Through the user's proxy as a CONNECT tunnel, or https_proxy of the environment.
    if (!ApplyProxy(url.AfterFirst('/').AfterFirst('/').BeforeFirst('/').BeforeFirst(':'), true))
        return false;

    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, list.get());
    // Only HTTPS, verified against the system's store and the extra bundle; never switched off.
    curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!SetTlsTrust(m_curl, m_systemCa, m_extraCa, &m_error))
        return false;
    // The tunnel's own answer ("200 Connection established") is not the service's.
    curl_easy_setopt(m_curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (m_http2) {
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        if (info && (info->features & CURL_VERSION_HTTP2))
            curl_easy_setopt(m_curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    }
    if (body.empty()) {
        curl_easy_setopt(m_curl, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, body.data());
    }

    httpTransfer t;
    t.headers = &answer.headers;
    if (sink)
        t.sink = &sink;
    const CURLcode rc = static_cast<CURLcode>(Perform(t));
    // Nothing of this exchange may be touched by libcurl after it returns; the plain requests
    // of this session set their own again.
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    ClearTlsTrust(m_curl);
    curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 0L);
    curl_easy_setopt(m_curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));

    long code = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &code);
    if (t.tooLarge) {
        m_error.Printf("Answer too large (more than %zu bytes)", m_maxBody);
        return false;
    }
    if (t.sinkFailed) {
        m_error = "Error Writing the Answer to Disk";
        return false;
    }
    if (rc != CURLE_OK) {
        // Texts of libcurl name the failure (certificate, proxy, time-out) but never a header.
        if (rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_SSL_CACERT_BADFILE ||
            rc == CURLE_SSL_CONNECT_ERROR)
            m_error.Printf("Secure Connection Failed (%s)", curl_easy_strerror(rc));
        else if (!t.answered || code <= 0)
            m_error = "Error sending request";
        else
            m_error.Printf("Incomplete Answer (%u)", unsigned(rc));
        return false;
    }
    if (code <= 0) {
        m_error = "Error sending request";
        return false;
    }
    m_status = static_cast<uint32_t>(code);
    answer.status = code;
    answer.body = std::move(t.body);
    return true;
}

// One HTTP session: one libcurl easy handle reused for every request, so that all
// requests to one host share a keep-alive connection. Not thread-safe: a session
// belongs to the thread that made it.
#pragma once

#include "connectionSettings.h"

#include <wx/stream.h>
#include <wx/string.h>

#include <cstdint>
#include <functional>
#include <memory>

#include <string>
#include <utility>
#include <vector>

typedef void CURL;
typedef void CURLM;
struct curl_slist;
struct httpTransfer; // what one transfer collects

// The whole answer of an Exchange.
struct httpAnswer {
    long status = 0;
    std::vector<std::pair<std::string, std::string>> headers; // in arrival order
    std::string body;
    // Every value of the named field (any case), joined with ", " as HTTP joins repeated
    // fields; "" when absent.
    std::string Header(const std::string& name) const;
};

class httpSession {
public:
    // Automatic and Direct follow the environment's http_proxy; HttpProxy goes through
    // proxyServer:proxyPort (none at all when the server is empty), with user and password
    // when given.
    httpSession(ConnectionType type, wxString proxyServer, wxString proxyPort, wxString proxyUser,
                wxString proxyPass);
    explicit httpSession(const ConnectionSettingsRecord& settings);
    ~httpSession();
    httpSession(const httpSession&) = delete;
    httpSession& operator=(const httpSession&) = delete;

    // Chooses the host of the following requests (port 80). A different host closes the
    // previous connection; the same host keeps its open keep-alive connection.
    bool Connect(const wxString& host);
    // GET (m_postData empty) or POST of path on the connected host. Returns a stream
    // holding the whole body, or null with the reason in GetError().
    std::unique_ptr<wxInputStream> Request(const wxString& path);
    // One HTTPS request to url ("https://host/path?query"): GET when body is empty, else
    // POST of body. headers are the complete extra lines ("Authorization: ...",
    // "Accept: ..."); the fixed header block of Request is not sent. The certificate is
    // verified against the system's store plus the bundle named by CURL_CA_BUNDLE or
    // SSL_CERT_FILE. The proxy: the one of type 2 as a CONNECT tunnel, else https_proxy /
    // HTTPS_PROXY from the environment. Any status is an answer (true); false when none came,
    // with the reason in GetError(), which never holds a header.
    bool Exchange(const wxString& url, const std::vector<std::string>& headers,
                  const std::string& body, httpAnswer& answer);
    // Lets the following Exchanges use HTTP/2 where libcurl offers it (negotiated in the TLS
    // handshake; HTTP/1.1 otherwise). Off unless set: the plain requests always use HTTP/1.1.
    void SetHttp2(bool on) { m_http2 = on; }
    // The body of the next Exchange's answer, when its status is 200, goes to sink as it
    // arrives instead of into the answer (within the same size limit); false from the sink
    // ends the transfer. Other answers are kept as usual. Used for large files, so that they
    // need not be held in memory.
    void SetBodySink(std::function<bool(const char*, size_t)> sink) { m_sink = std::move(sink); }
    // Appends one line to the extra header block (always true).
    bool AddHeader(const wxString& line);
    wxString GetError() const { return m_error; }
    // The system's certificate store that HTTPS trusts (libcurl's built-in bundle unless
    // changed); where it is missing, only the extra bundle is trusted.
    void SetSystemCaBundle(const std::string& path) { m_systemCa = path; }

    // Asked about once a second while a request is in flight; when it answers true the
    // request fails at once. Used to cancel jobs and to close the program promptly.
    void SetAbortCheck(std::function<bool()> shouldStop) { m_shouldStop = std::move(shouldStop); }
    // Connect time-out, and how long a transfer may go without receiving a byte (seconds;
    // 30 and 60 unless changed, 0 turns the limit off).
    void SetTimeouts(long connectSeconds, long stallSeconds);
    // The most an answer body may hold once decoded; a larger one fails the request with a
    // text naming the limit (kDefaultMaxBody unless changed). Nothing a server sends can make
    // a session hold more.
    void SetMaxBodyBytes(size_t bytes) { m_maxBody = bytes; }
    static constexpr size_t kDefaultMaxBody = size_t(32) << 20;
    // Below this many bytes a second for the whole stall time, a transfer fails: a server
    // that drips a byte now and then cannot hold a request for ever.
    static constexpr long kLowestSpeed = 256;

    wxString m_postData; // request body; non-empty makes requests POSTs, kept across requests
    wxString m_headers;  // extra header block built by AddHeader
    uint32_t m_status;   // status code of the last answered request, 0 before any
    bool m_ok;           // construction succeeded

private:
    bool SetProxy(const wxString& server, const wxString& port);
    // The proxy of the settings for a request to host (names without a dot stay local);
    // false with the reason in m_error.
    bool ApplyProxy(const wxString& host, bool https);
    bool OpenHandle();
    bool PrepareHeaders();
    int Perform(httpTransfer& t); // a CURLcode

    CURL* m_curl;
    CURLM* m_multi = nullptr; // drives every transfer of m_curl and holds its connections
    wxString m_host;          // empty until Connect succeeds
    wxString m_proxyUser;
    wxString m_proxyPass;
    wxString m_error;       // last failure, never cleared by a success
    wxString m_proxyString; // "server:port" of an explicit proxy
    // The environment's proxy (libcurl's own rules), none at all, or m_proxyString.
    enum class ProxyUse { Environment, None, Explicit } m_proxyUse = ProxyUse::Environment;
    // Automatic: the system's proxy settings come before the environment's where it has them.
    bool m_systemProxy = false;
    bool m_systemProxySet = false; // CURLOPT_PROXY holds what the system named last
    long m_connectTimeout;
    long m_stallTimeout;
    size_t m_maxBody;
    std::string m_extraCa; // extra CA bundle of the environment, read at the first Exchange
    bool m_extraCaRead = false;
    bool m_http2 = false;
    std::function<bool(const char*, size_t)> m_sink; // for the next Exchange only
    std::string m_systemCa; // the system's bundle, libcurl's default until set
    std::function<bool()> m_shouldStop;
    struct SlistFree {
        void operator()(curl_slist* list) const;
    };
    using HeaderList = std::unique_ptr<curl_slist, SlistFree>;
    HeaderList m_headerList;  // m_headers split into lines, rebuilt when m_headers changes
    wxString m_headerListFor; // the m_headers text that m_headerList was built from
};

// The fake remote services: every "remote" host the program talks to, in one HTTP server on
// 127.0.0.1 (ephemeral port) that acts as an HTTP proxy. Point the client at it as its proxy
// (http_proxy=http://127.0.0.1:PORT for connection types 0 and 1, or proxy server 127.0.0.1
// and port PORT for type 2); requests then arrive in absolute form
// ("GET http://patimg1.uspto.gov/.piw?Docid=05123456&idkey=NONE HTTP/1.1") and are answered by
// host and path. Origin-form requests are routed by their Host header.
//
// Hosts served out of the box:
//   patimg1/patimg2.uspto.gov, aiw1/aiw2.uspto.gov  page lists (.piw/.aiw) and page images of
//                                                   the documents given to addUsptoDocument
//   appft1.uspto.gov     the published-application search (addPublication); no hit otherwise
//   ops.espacenet.com    POST /OpenPatentServices/webService: DocumentInquiry and
//                        DocumentRetrieval of addEspacenetDocument's documents; SOAP fault
//                        (500) for anything else
//   www.quorvane.org     /latest.html, /download.html, /download.sig, /proxyTest.htm
//   ops.epo.org:443      after enableOps(): "CONNECT ops.epo.org:443" opens a tunnel to the
//                        fake EPO OPS 3.2 service over TLS (fakeOps.h). CONNECT to any other
//                        host or port answers 403.
//   ppubs.uspto.gov:443  after enablePpubs(): the same for the fake USPTO Patent Public
//                        Search (fakePpubs.h), on the same TLS server and test CA.
// Anything else answers 404 unless given with setRoute.
//
// Trouble is injected with addRule (dropped connections, 500, 407, empty bodies, stalls,
// delays) for the first K matching requests. Every request is recorded; requests() returns
// them in arrival order. All members may be called from any thread while the server runs.
//
// Note: libcurl resends a request once on its own when a reused keep-alive connection closes
// without any answer; each of those requests counts against a rule.
#pragma once

#include "fakeOps.h"
#include "fakePpubs.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qvfake {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One canned answer.
struct Response {
    int status = 200;
    std::string contentType = "text/html";
    std::string body;
    HeaderList headers; // extra header lines
    bool gzip = false;  // send the body gzip-encoded with "Content-Encoding: gzip"
};

// What a request carried, as the server saw it.
struct RecordedRequest {
    std::string method;
    std::string target; // as on the request line: absolute form when it came as a proxy request
    std::string host;   // from an absolute target, else the Host header (port removed)
    std::string path;   // path and query in origin form ("/.piw?Docid=...")
    bool absoluteForm = false;
    HeaderList headers; // by name (the server library does not keep the wire order)
    std::string body;
    int connection = -1; // the client's port: equal for requests on one connection
    std::chrono::steady_clock::time_point arrival; // when its headers had been read
    // Which server answered: "http" (plain requests, absolute or origin form), "connect"
    // (a CONNECT request itself), "tls" (inside a tunnel to the OPS fake).
    std::string server;
    int status = 0; // the status answered; 0 while unanswered or when dropped without one

    // First value of the named header (case-insensitive), "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

enum class Fault {
    None,         // answer normally (with a rule's delay, if any)
    Drop,         // close the connection without any answer
    DropMidBody,  // status line, headers and half the body, then close
    Status500,    // "500" with a short HTML body
    EmptyBody,    // 200 with no body at all
    ServerAuth,   // 401 with a body
    ProxyAuth,    // 407 with a body and a Proxy-Authenticate challenge
    Stall,        // read the request and say nothing until releaseStalls() or destruction
    StallMidBody, // send headers and half the body, then say nothing (as Stall)
};

// Shapes of a USPTO page-list answer.
struct PageListShape {
    bool splitEmbed = false; // embed tag broken over two lines inside its path
    bool noNumPages = false; // no "<!-- NumPages=N -->" comment
    bool noPageNum = false;  // embed path without "PageNum="
    int announcedPages = -1; // page count in the comment; -1: the number of pages given
};

// An Espacenet document and the shapes of its answers.
struct EspacenetDocument {
    std::vector<std::string> pages; // page images, page 1 first
    std::string system = "EPODOC";  // SYSTEM attribute of the FullDocument instance
    std::string id;                 // ID attribute; empty: derived from the number
    int announcedPages = -1;        // NUMBER_OF_PAGES; -1: the number of pages given
    bool noContentLocation = false; // page answers without the image part's Content-Location
    bool inquiryFault = false;      // the inquiry answers a SOAP fault (500)
};

class FakeService {
public:
    // Listens on 127.0.0.1 at port (0: an ephemeral one). ok() tells whether it runs.
    explicit FakeService(int port = 0);
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    bool ok() const;
    int port() const;
    std::string proxyUrl() const; // "http://127.0.0.1:PORT", for http_proxy

    // A US document by its docid as the job requests it ("05123456", "D0123456",
    // "20020000001"): 11 characters are publications (aiw hosts), others patents (piw hosts);
    // a docid starting with 50..99 lives on the secondary host, others on the primary one.
    // Unknown docids get a page list with "<!-- NumPages=0 -->" and no embed tag.
    void addUsptoDocument(const std::string& docid, std::vector<std::string> pages,
                          PageListShape shape = {});
    // The server path of page `page` (from 1) of a document added above, as its page list
    // announces it; "" for unknown documents.
    std::string usptoPagePath(const std::string& docid, int page) const;
    // The image host that serves docid.
    static std::string usptoHost(const std::string& docid);

    // Search hit: serial text as in the query ("123456"); dateRange, when not empty, must
    // equal the query's encoded APD range ("12%2F1%2F2001-%3E12%2F31%2F2004").
    void addPublication(const std::string& serial, const std::string& publicationNumber,
                        const std::string& dateRange = "");

    // An Espacenet document by the number sent as inquiry SEED ("EP1000000").
    void addEspacenetDocument(const std::string& number, EspacenetDocument doc);

    // The maker's host: first word of /latest.html, bodies of /download.html and
    // /download.sig (empty signature: 404), and the /proxyTest.htm page.
    void setLatestVersion(const std::string& body);
    void setDownload(const std::string& program, const std::string& signature);
    void setProxyTestPage(const std::string& html);

    // Any other answer: host and path with query, exact ("" query-less path matches any query).
    void setRoute(const std::string& host, const std::string& pathAndQuery, Response response);

    // Applies fault (after delay) to the next `times` requests (negative: all) whose host is
    // `host` ("" any) and whose path or body contains `contains` ("" any). The rule added
    // first wins when several match.
    void addRule(const std::string& host, const std::string& contains, Fault fault, int times = 1,
                 std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    void clearRules();
    // Waits this long before every answer.
    void setDelay(std::chrono::milliseconds delay);
    // gzip-encodes every non-empty answer whose request accepts gzip.
    void setCompression(bool on);
    // Lets stalled answers go: they close their connection.
    void releaseStalls();

    // Makes the test CA and the TLS server for ops.epo.org (once; later calls return the same
    // object) and lets CONNECT tunnels reach it. Check the result's ok().
    OpsFake& enableOps();
    // Null until enableOps().
    OpsFake* ops();
    // Makes the ppubs fake (once; it enables the OPS fake's TLS server and CA too) and lets
    // CONNECT tunnels to ppubs.uspto.gov:443 reach it. Check the result's ok().
    PpubsFake& enablePpubs();
    // Null until enablePpubs().
    PpubsFake* ppubs();

    std::vector<RecordedRequest> requests() const;
    size_t requestCount() const;
    void clearRequests();

    struct State; // private

private:
    std::unique_ptr<State> m_state;
};

// gzip encoding of data (for tests that build their own encoded answers).
std::string gzip(const std::string& data);

} // namespace qvfake

#include "fakeService.h"
#include "fakeOpsState.h"

#include <httplib.h>
#include <zlib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

namespace qvfake {

namespace {

const char* const kOpsPath = "/OpenPatentServices/webService";
const char* const kSearchLinkPrefix =
    "/netacgi/nph-Parser?Sect1=PTO2&Sect2=HITOFF&u=%2Fnetahtml%2FPTO%2Fsearch-adv.html";

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string stripPort(const std::string& host) {
    return lower(host.substr(0, host.find(':')));
}

struct Rule {
    std::string host;
    std::string contains;
    Fault fault;
    int times;
    std::chrono::milliseconds delay;
};

struct UsptoDoc {
    std::vector<std::string> pages;
    PageListShape shape;
    std::string embedPath; // the path of page 1 as the page list shows it
};

struct Publication {
    std::string number;
    std::string range;
};

// A stable per-document key, so image paths look like the real ones without being random.
std::string idKey(const std::string& docid) {
    uint32_t h = 2166136261u;
    for (unsigned char c : docid)
        h = (h ^ c) * 16777619u;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", h);
    return buf;
}

// The value of name=&quot;...&quot; in the escaped request, "" when absent.
std::string quotedAttribute(const std::string& text, const std::string& name) {
    std::string open = name + "=&quot;";
    size_t start = text.find(open);
    if (start == std::string::npos)
        return std::string();
    start += open.size();
    size_t end = text.find("&quot;", start);
    return end == std::string::npos ? std::string() : text.substr(start, end - start);
}

std::string xmlHead() {
    return "<?xml version='1.0' encoding='utf-8'?>\n";
}

std::string soapFault(const std::string& text) {
    return xmlHead() +
           "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\">"
           "<soapenv:Body><soapenv:Fault><faultcode>soapenv:Server</faultcode><faultstring>" +
           text + "</faultstring></soapenv:Fault></soapenv:Body></soapenv:Envelope>\n";
}

// The server socket of the connection a request came on: the one whose local port is the
// server's and whose peer is the client's port.
int connectionSocket(const httplib::Request& req) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int found = -1;
    while (dirent* entry = readdir(dir)) {
        int fd = std::atoi(entry->d_name);
        if (fd <= 2 || fd == dirfd(dir))
            continue;
        sockaddr_in local{}, peer{};
        socklen_t len = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 ||
            local.sin_family != AF_INET || ntohs(local.sin_port) != req.local_port)
            continue;
        len = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0 ||
            ntohs(peer.sin_port) != req.remote_port)
            continue;
        found = fd;
        break;
    }
    closedir(dir);
    return found;
}

void dropConnection(const httplib::Request& req) {
    int fd = connectionSocket(req);
    if (fd >= 0)
        shutdown(fd, SHUT_RDWR);
}

// Writes all of data; false when the peer is gone or wake (the service stops) fires first.
bool sendAll(int fd, const char* data, size_t size, int wake) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        pollfd p[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR)
            return false;
        if (p[1].revents)
            return false;
    }
    return true;
}

// Copies bytes both ways until one side closes or the service stops.
void pump(int a, int b, int wake) {
    std::vector<char> buffer(64 * 1024);
    while (true) {
        pollfd p[3] = {{a, POLLIN, 0}, {b, POLLIN, 0}, {wake, POLLIN, 0}};
        if (poll(p, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p[2].revents)
            return;
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = recv(p[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                continue;
            if (n <= 0 || !sendAll(p[1 - i].fd, buffer.data(), size_t(n), wake))
                return;
        }
    }
}

int connectLoopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

} // namespace

std::string gzip(const std::string& data) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::string();
    std::string out(deflateBound(&zs, data.size()) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return rc == Z_STREAM_END ? out : std::string();
}

std::string RecordedRequest::header(const std::string& name) const {
    std::string want = lower(name);
    for (const auto& h : headers)
        if (lower(h.first) == want)
            return h.second;
    return std::string();
}

bool RecordedRequest::hasHeader(const std::string& name) const {
    std::string want = lower(name);
    for (const auto& h : headers)
        if (lower(h.first) == want)
            return true;
    return false;
}

struct FakeService::State {
    httplib::Server server;
    std::thread thread;
    int port = -1;
    bool running = false;

    mutable std::mutex mutex;
    std::condition_variable wake; // ends delays and stalls early
    bool stopping = false;
    uint64_t stallRelease = 0;
    std::vector<RecordedRequest> log;
    std::vector<Rule> rules;
    std::map<std::string, UsptoDoc> uspto; // by docid
    std::map<std::pair<std::string, std::string>, std::pair<std::string, int>> pagePaths;
    std::map<std::string, Publication> publications;                // by serial
    std::map<std::string, EspacenetDocument> espacenet;             // by number
    std::map<std::pair<std::string, std::string>, Response> routes; // host, path
    std::chrono::milliseconds delay{0};
    bool compression = false;
    uint64_t logGeneration = 0; // changes when the log is cleared

    // The OPS fake, made once by enableOps and kept until the end; handlers read the pointer.
    std::mutex opsMutex;
    std::unique_ptr<OpsState> opsOwner;
    std::atomic<OpsState*> ops{nullptr};
    std::atomic<PpubsState*> ppubs{nullptr}; // made once by enablePpubs, like ops
    int wakeFd = -1;                         // readable once the service stops: ends the tunnels

    void handle(const httplib::Request& req, httplib::Response& res);
    void tunnel(const httplib::Request& req, httplib::Response& res);
    size_t record(const RecordedRequest& rec, uint64_t& generation);
    void setStatus(size_t index, uint64_t generation, int status);
    Response answer(const RecordedRequest& rec);
    Response usptoAnswer(const RecordedRequest& rec);
    Response searchAnswer(const RecordedRequest& rec);
    Response opsAnswer(const RecordedRequest& rec);
    bool pause(std::chrono::milliseconds length); // false when the service stops meanwhile
    void waitForRelease();
};

bool FakeService::State::pause(std::chrono::milliseconds length) {
    if (length.count() <= 0)
        return true;
    std::unique_lock<std::mutex> lock(mutex);
    return !wake.wait_for(lock, length, [this] { return stopping; });
}

void FakeService::State::waitForRelease() {
    std::unique_lock<std::mutex> lock(mutex);
    uint64_t seen = stallRelease;
    wake.wait_for(lock, std::chrono::minutes(10), [&] { return stopping || stallRelease != seen; });
}

size_t FakeService::State::record(const RecordedRequest& rec, uint64_t& generation) {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(rec);
    generation = logGeneration;
    return log.size() - 1;
}

void FakeService::State::setStatus(size_t index, uint64_t generation, int status) {
    std::lock_guard<std::mutex> lock(mutex);
    if (generation == logGeneration && index < log.size())
        log[index].status = status;
}

void FakeService::State::tunnel(const httplib::Request& req, httplib::Response& res) {
    RecordedRequest rec;
    rec.arrival = std::chrono::steady_clock::now();
    rec.method = req.method;
    rec.target = req.target;
    rec.host = stripPort(req.target);
    rec.path = req.target;
    rec.server = "connect";
    rec.connection = req.remote_port;
    for (const auto& h : req.headers)
        if (h.first != "LOCAL_ADDR" && h.first != "LOCAL_PORT" && h.first != "REMOTE_ADDR" &&
            h.first != "REMOTE_PORT")
            rec.headers.emplace_back(h.first, h.second);
    uint64_t generation = 0;
    size_t index = record(rec, generation);

    OpsState* opsState = ops.load();
    const std::string target = lower(req.target);
    const bool allowed =
        opsState && opsState->ok &&
        (target == "ops.epo.org:443" || (ppubs.load() && target == "ppubs.uspto.gov:443"));
    int client = allowed ? connectionSocket(req) : -1;
    int backend = client >= 0 ? connectLoopback(opsState->port) : -1;
    if (backend < 0) {
        res.status = allowed ? 502 : 403;
        res.set_content(allowed ? "<html><body><h1>502 Bad Gateway</h1></body></html>\n"
                                : "<html><body><h1>403 Forbidden</h1><p>Tunnels go to "
                                  "the fake services only.</p></body></html>\n",
                        "text/html");
        setStatus(index, generation, res.status);
        return;
    }
    setStatus(index, generation, 200);
    static const char established[] = "HTTP/1.1 200 Connection established\r\n\r\n";
    if (sendAll(client, established, sizeof established - 1, wakeFd))
        pump(client, backend, wakeFd);
    close(backend);
    // The server library then fails to write an answer of its own and closes the connection.
    shutdown(client, SHUT_RDWR);
}

void FakeService::State::handle(const httplib::Request& req, httplib::Response& res) {
    RecordedRequest rec;
    rec.arrival = std::chrono::steady_clock::now();
    OpsState* opsState = ops.load();
    rec.server = opsState && req.local_port == opsState->port ? "tls" : "http";
    rec.method = req.method;
    rec.target = req.target;
    if (req.target.compare(0, 7, "http://") == 0) {
        size_t slash = req.target.find('/', 7);
        rec.absoluteForm = true;
        rec.host = stripPort(
            req.target.substr(7, slash == std::string::npos ? std::string::npos : slash - 7));
        rec.path = slash == std::string::npos ? "/" : req.target.substr(slash);
    } else {
        rec.host = stripPort(req.get_header_value("Host"));
        rec.path = req.target;
    }
    for (const auto& h : req.headers) {
        // The server library adds the socket's addresses as pseudo headers.
        if (h.first == "LOCAL_ADDR" || h.first == "LOCAL_PORT" || h.first == "REMOTE_ADDR" ||
            h.first == "REMOTE_PORT")
            continue;
        rec.headers.emplace_back(h.first, h.second);
    }
    rec.body = req.body;
    rec.connection = req.remote_port;

    Fault fault = Fault::None;
    std::chrono::milliseconds wait;
    uint64_t generation = 0;
    size_t index = record(rec, generation);
    {
        std::lock_guard<std::mutex> lock(mutex);
        wait = delay;
        for (Rule& rule : rules) {
            if (rule.times == 0 || (!rule.host.empty() && rule.host != rec.host))
                continue;
            if (!rule.contains.empty() && rec.path.find(rule.contains) == std::string::npos &&
                rec.body.find(rule.contains) == std::string::npos)
                continue;
            if (rule.times > 0)
                --rule.times;
            fault = rule.fault;
            wait += rule.delay;
            break;
        }
    }
    if (!pause(wait)) {
        dropConnection(req);
        return;
    }

    Response out;
    switch (fault) {
    case Fault::Drop:
        dropConnection(req);
        return;
    case Fault::Stall:
        waitForRelease();
        dropConnection(req);
        return;
    case Fault::Status500:
        out.status = 500;
        out.body = "<html><body><h1>500 Internal Server Error</h1></body></html>\n";
        break;
    case Fault::EmptyBody:
        break;
    case Fault::ServerAuth:
        out.status = 401;
        out.headers.emplace_back("WWW-Authenticate", "Basic realm=\"fake\"");
        out.body = "<html><body><h1>401 Unauthorized</h1></body></html>\n";
        break;
    case Fault::ProxyAuth:
        out.status = 407;
        out.headers.emplace_back("Proxy-Authenticate", "Basic realm=\"fake\"");
        out.body = "<html><body><h1>407 Proxy Authentication Required</h1></body></html>\n";
        break;
    default:
        out = answer(rec);
        break;
    }

    res.status = out.status;
    setStatus(index, generation, out.status);
    for (const auto& h : out.headers)
        res.set_header(h.first, h.second);
    std::string accepted = lower(rec.header("Accept-Encoding"));
    bool compressed = out.gzip || (compression && accepted.find("gzip") != std::string::npos);
    if (compressed && !out.body.empty()) {
        out.body = gzip(out.body);
        res.set_header("Content-Encoding", "gzip");
    }
    if (out.body.empty()) {
        res.set_header("Content-Length", "0");
        return;
    }
    // Answers go out through a content provider: the server library then leaves the bytes
    // alone (it would compress a plain text body on its own) and lets an answer break off.
    auto body = std::make_shared<std::string>(std::move(out.body));
    size_t cut = fault == Fault::DropMidBody || fault == Fault::StallMidBody ? body->size() / 2
                                                                             : body->size();
    State* self = this;
    res.set_content_provider(
        body->size(), out.contentType,
        [body, cut, fault, self](size_t offset, size_t length, httplib::DataSink& sink) {
            if (offset >= cut) {
                if (fault == Fault::StallMidBody)
                    self->waitForRelease();
                return false;
            }
            size_t n = std::min(length, cut - offset);
            return sink.write(body->data() + offset, n);
        });
}

Response FakeService::State::answer(const RecordedRequest& rec) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = routes.find({rec.host, rec.path});
        if (it == routes.end())
            it = routes.find({rec.host, rec.path.substr(0, rec.path.find('?'))});
        if (it != routes.end())
            return it->second;
    }
    OpsState* opsState = ops.load();
    if (rec.server == "tls" && opsState && rec.host == "ops.epo.org")
        return opsState->answer(rec);
    PpubsState* ppubsState = ppubs.load();
    if (rec.server == "tls" && ppubsState && rec.host == "ppubs.uspto.gov")
        return ppubsAnswer(ppubsState, rec);
    if (rec.host == "patimg1.uspto.gov" || rec.host == "patimg2.uspto.gov" ||
        rec.host == "aiw1.uspto.gov" || rec.host == "aiw2.uspto.gov")
        return usptoAnswer(rec);
    if (rec.host == "appft1.uspto.gov" && rec.path.compare(0, 19, "/netacgi/nph-Parser") == 0)
        return searchAnswer(rec);
    if (rec.host == "ops.espacenet.com" && rec.method == "POST" && rec.path == kOpsPath)
        return opsAnswer(rec);
    Response notFound;
    notFound.status = 404;
    notFound.body = "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
                    "<p>The requested URL was not found on this server.</p></body></html>\n";
    return notFound;
}

Response FakeService::State::usptoAnswer(const RecordedRequest& rec) {
    Response out;
    bool patentList = rec.path.compare(0, 12, "/.piw?Docid=") == 0;
    bool applicationList = rec.path.compare(0, 12, "/.aiw?Docid=") == 0;
    std::lock_guard<std::mutex> lock(mutex);
    if (patentList || applicationList) {
        std::string docid = rec.path.substr(12, rec.path.find('&') - 12);
        auto it = uspto.find(docid);
        bool here = it != uspto.end() && usptoHost(docid) == rec.host &&
                    applicationList == (docid.size() == 11);
        std::string html = "<html>\n<head><title>Full-Page Images</title></head>\n"
                           "<body bgcolor=\"#FFFFFF\">\n<center>\n";
        if (!here) {
            html += "<!-- NumPages=0 -->\n";
        } else {
            const UsptoDoc& doc = it->second;
            int count = doc.shape.announcedPages >= 0 ? doc.shape.announcedPages
                                                      : static_cast<int>(doc.pages.size());
            if (!doc.shape.noNumPages)
                html += "<!-- NumPages=" + std::to_string(count) + " -->\n";
            std::string path = doc.embedPath;
            if (doc.shape.splitEmbed)
                path.insert(path.size() / 2, "\n");
            html +=
                "<embed src=\"" + path + "\" width=\"100%\" height=\"100%\" type=\"image/tiff\">\n";
        }
        html += "</center>\n</body>\n</html>\n";
        out.body = html;
        return out;
    }
    auto page = pagePaths.find({rec.host, rec.path});
    if (page != pagePaths.end()) {
        const UsptoDoc& doc = uspto[page->second.first];
        size_t index = static_cast<size_t>(page->second.second - 1);
        if (index < doc.pages.size()) {
            out.contentType = "image/tiff";
            out.body = doc.pages[index];
            return out;
        }
    }
    out.status = 404;
    out.body = "<html><body><h1>Not Found</h1></body></html>\n";
    return out;
}

Response FakeService::State::searchAnswer(const RecordedRequest& rec) {
    static const std::string serialMark = "Query=APN%2F";
    static const std::string rangeMark = "+and+APD%2F";
    std::string serial, range;
    size_t s = rec.path.find(serialMark);
    if (s != std::string::npos) {
        s += serialMark.size();
        size_t r = rec.path.find(rangeMark, s);
        size_t end = rec.path.find('&', s);
        serial = rec.path.substr(s, std::min(r, end) - s);
        if (r != std::string::npos && r < end)
            range = rec.path.substr(r + rangeMark.size(), end - r - rangeMark.size());
    }
    Response out;
    std::string html = "<HTML>\n<HEAD>\n<TITLE>Search Results</TITLE>\n</HEAD>\n"
                       "<BODY BGCOLOR=\"#FFFFFF\">\n";
    std::lock_guard<std::mutex> lock(mutex);
    auto it = publications.find(serial);
    if (it == publications.end() || (!it->second.range.empty() && it->second.range != range)) {
        html += "<CENTER><B>Results of Search in PGPUB Production Database for:</B><BR>\n"
                "APN/" +
                serial +
                ": 0 applications.</CENTER>\n<BR>\n"
                "No patents have matched your query<BR>\n</BODY>\n</HTML>\n";
    } else {
        html += "<CENTER><B>Results of Search in PGPUB Production Database for:</B><BR>\n"
                "APN/" +
                serial +
                ": 1 applications.</CENTER>\n<TABLE>\n<TR><TD VALIGN=TOP>PUB. APP. NO.</TD>"
                "<TD VALIGN=TOP>Title</TD></TR>\n<TR><TD VALIGN=TOP>1</TD>\n<TD VALIGN=TOP><A "
                "HREF=" +
                kSearchLinkPrefix + "&r=1&p=1&f=G&l=50&d=PG01&S1=" + serial + ".APN.&OS=APN/" +
                serial + "&RS=APN/" + serial + ">" + it->second.number +
                "</A></TD>\n<TD VALIGN=TOP>Published application</TD></TR>\n</TABLE>\n"
                "</BODY>\n</HTML>\n";
    }
    out.body = html;
    return out;
}

Response FakeService::State::opsAnswer(const RecordedRequest& rec) {
    Response out;
    out.contentType = "text/xml; charset=utf-8";
    std::string which = quotedAttribute(rec.body, "ACTION");
    std::string seed = quotedAttribute(rec.body, "SEED");
    std::string docId = quotedAttribute(rec.body, "DOCUMENT ID");
    std::string system = quotedAttribute(rec.body, "SYSTEM");
    std::string pageNumber = quotedAttribute(rec.body, "PAGE_NUMBER");

    std::lock_guard<std::mutex> lock(mutex);
    if (which == "DocumentInquiry" && !seed.empty()) {
        auto it = espacenet.find(seed);
        if (it == espacenet.end() || it->second.inquiryFault) {
            out.status = 500;
            out.body = soapFault("SERVER.EntityNotFound");
            return out;
        }
        const EspacenetDocument& doc = it->second;
        int count = doc.announcedPages >= 0 ? doc.announcedPages : int(doc.pages.size());
        auto instance = [&](const std::string& desc, int pages) {
            return "&lt;DOCUMENT_PHYSICAL_INSTANCE SYSTEM=&quot;" + doc.system +
                   "&quot; ID=&quot;" + doc.id + "&quot; NUMBER_OF_PAGES=&quot;" +
                   std::to_string(pages) + "&quot; DESC=&quot;" + desc + "&quot;&gt;\n";
        };
        out.body =
            xmlHead() +
            "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\">"
            "<soapenv:Body><ns1:getDocumentDataResponse "
            "xmlns:ns1=\"urn:EPO-OpenPatentServices-documentData\"><ns1:return>"
            "&lt;?xml version=&quot;1.0&quot; encoding=&quot;UTF-8&quot;?&gt;\n"
            "&lt;OpenPatentServices&gt;\n&lt;WORLDPATENTDATA&gt;\n&lt;DOCUMENT_INSTANCES&gt;\n" +
            instance("FirstPageClipping", 1) + "&lt;/DOCUMENT_PHYSICAL_INSTANCE&gt;\n" +
            instance("FullDocument", count) +
            "&lt;DOCUMENT_SECTION NAME=&quot;DESCRIPTION&quot; START_PAGE=&quot;1&quot;/&gt;\n"
            "&lt;/DOCUMENT_PHYSICAL_INSTANCE&gt;\n&lt;/DOCUMENT_INSTANCES&gt;\n"
            "&lt;/WORLDPATENTDATA&gt;\n&lt;/OpenPatentServices&gt;\n"
            "</ns1:return></ns1:getDocumentDataResponse></soapenv:Body></soapenv:Envelope>\n";
        return out;
    }
    if (which == "DocumentRetrieval" && !docId.empty()) {
        const EspacenetDocument* doc = nullptr;
        for (const auto& entry : espacenet)
            if (entry.second.id == docId && entry.second.system == system)
                doc = &entry.second;
        size_t page = std::strtoul(pageNumber.c_str(), nullptr, 10);
        if (!doc || page < 1 || page > doc->pages.size()) {
            out.status = 500;
            out.body = soapFault("SERVER.EntityNotFound");
            return out;
        }
        const std::string boundary = "MIMEBoundaryurn_uuid_5A1C2F7E0B3D11DCA6C9001A4B05C3D1";
        out.contentType = "multipart/related; boundary=" + boundary +
                          "; type=\"application/xop+xml\"; "
                          "start=\"<0.urn:uuid:5A1C2F7E0B3D11DCA6C9001A4B05C3D2@apache.org>\"; "
                          "start-info=\"text/xml\"";
        std::string image = doc->pages[page - 1];
        out.body =
            "--" + boundary +
            "\r\nContent-Type: application/xop+xml; charset=UTF-8; type=\"text/xml\"\r\n"
            "Content-Transfer-Encoding: binary\r\n"
            "Content-ID: <0.urn:uuid:5A1C2F7E0B3D11DCA6C9001A4B05C3D2@apache.org>\r\n\r\n" +
            xmlHead() +
            "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\">"
            "<soapenv:Body><ns1:getDocumentDataResponse "
            "xmlns:ns1=\"urn:EPO-OpenPatentServices-documentData\"><ns1:return>"
            "<xop:Include href=\"cid:1.urn:uuid:5A1C2F7E0B3D11DCA6C9001A4B05C3D3@apache.org\""
            " xmlns:xop=\"http://www.w3.org/2004/08/xop/include\"/></ns1:return>"
            "</ns1:getDocumentDataResponse></soapenv:Body></soapenv:Envelope>\r\n"
            "--" +
            boundary +
            "\r\nContent-Type: image/tiff\r\nContent-Transfer-Encoding: binary\r\n"
            "Content-ID: <1.urn:uuid:5A1C2F7E0B3D11DCA6C9001A4B05C3D3@apache.org>\r\n";
        if (!doc->noContentLocation)
            out.body += "Content-Location: page" + std::to_string(page) + ".tiff\r\n";
        out.body += "\r\n" + image + "\r\n--" + boundary + "--\r\n";
        return out;
    }
    out.status = 500;
    out.body = soapFault("CLIENT.InvalidQuery");
    return out;
}

FakeService::FakeService(int port) : m_state(new State) {
    // A dropped connection makes the server's next write fail; that must not kill the process.
    signal(SIGPIPE, SIG_IGN);
    State* s = m_state.get();
    s->wakeFd = eventfd(0, EFD_CLOEXEC);
    // The server library has no route for CONNECT; it reaches this hook first.
    s->server.set_pre_routing_handler([s](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "CONNECT")
            return httplib::Server::HandlerResponse::Unhandled;
        s->tunnel(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    s->server.new_task_queue = [] { return new httplib::ThreadPool(48); };
    // Headers and body go out in separate writes; without this each answer waits for the
    // client's delayed acknowledgement.
    s->server.set_tcp_nodelay(true);
    s->server.set_keep_alive_max_count(1000000);
    s->server.set_keep_alive_timeout(60);
    auto handler = [s](const httplib::Request& req, httplib::Response& res) {
        s->handle(req, res);
    };
    s->server.Get(".*", handler);
    s->server.Post(".*", handler);
    s->server.Put(".*", handler);
    s->server.Delete(".*", handler);

    setLatestVersion("21\n");
    setDownload("#!/bin/sh\necho 'Quorvane 2.22'\n", "");
    setProxyTestPage("<html><head><title>Quorvane Network Test</title></head>\n<body>\n"
                     "<h1>Your network settings work</h1>\n"
                     "<p>Quorvane reached its web site with these settings.</p>\n"
                     "<p><a href=\"#top\">Top</a></p>\n</body></html>\n");

    if (port > 0)
        s->port = s->server.bind_to_port("127.0.0.1", port) ? port : -1;
    else
        s->port = s->server.bind_to_any_port("127.0.0.1");
    if (s->port <= 0)
        return;
    s->thread = std::thread([s] { s->server.listen_after_bind(); });
    for (int i = 0; i < 5000 && !s->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    s->running = s->server.is_running();
}

FakeService::~FakeService() {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->wake.notify_all();
    if (m_state->wakeFd >= 0) {
        uint64_t one = 1;
        if (write(m_state->wakeFd, &one, sizeof one) != sizeof one)
            perror("fake service: wake");
    }
    if (OpsState* ops = m_state->ops.load())
        ops->stop();
    m_state->server.stop();
    if (m_state->thread.joinable())
        m_state->thread.join();
    if (m_state->wakeFd >= 0)
        close(m_state->wakeFd);
    deletePpubsState(m_state->ppubs.load());
}

OpsFake& FakeService::enableOps() {
    State* s = m_state.get();
    std::lock_guard<std::mutex> lock(s->opsMutex);
    if (!s->opsOwner) {
        s->opsOwner.reset(new OpsState);
        s->opsOwner->start(
            [s](const httplib::Request& req, httplib::Response& res) { s->handle(req, res); });
        s->ops.store(s->opsOwner.get());
    }
    return s->opsOwner->facade;
}

PpubsFake& FakeService::enablePpubs() {
    State* s = m_state.get();
    enableOps();
    std::lock_guard<std::mutex> lock(s->opsMutex);
    if (!s->ppubs.load())
        s->ppubs.store(newPpubsState(s->opsOwner.get()));
    return ppubsFacade(s->ppubs.load());
}

PpubsFake* FakeService::ppubs() {
    PpubsState* state = m_state->ppubs.load();
    return state ? &ppubsFacade(state) : nullptr;
}

OpsFake* FakeService::ops() {
    OpsState* state = m_state->ops.load();
    return state ? &state->facade : nullptr;
}

bool FakeService::ok() const {
    return m_state->running;
}

int FakeService::port() const {
    return m_state->port;
}

std::string FakeService::proxyUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_state->port);
}

std::string FakeService::usptoHost(const std::string& docid) {
    int v = 0;
    if (docid.size() >= 2 && std::isdigit(static_cast<unsigned char>(docid[0])) &&
        std::isdigit(static_cast<unsigned char>(docid[1])))
        v = (docid[0] - '0') * 10 + (docid[1] - '0');
    if (docid.size() == 11)
        return v < 50 ? "aiw1.uspto.gov" : "aiw2.uspto.gov";
    return v < 50 ? "patimg1.uspto.gov" : "patimg2.uspto.gov";
}

void FakeService::addUsptoDocument(const std::string& docid, std::vector<std::string> pages,
                                   PageListShape shape) {
    UsptoDoc doc;
    doc.pages = std::move(pages);
    doc.shape = shape;
    std::string prefix = "/.DImg?Docid=US" + docid;
    std::string suffix = "&IDKey=" + idKey(docid) + "&ImgFormat=tif";
    std::string host = usptoHost(docid);
    std::lock_guard<std::mutex> lock(m_state->mutex);
    auto& paths = m_state->pagePaths;
    for (auto it = paths.begin(); it != paths.end();)
        it = it->second.first == docid ? paths.erase(it) : std::next(it);
    if (shape.noPageNum) {
        doc.embedPath = prefix + suffix;
        paths[{host, doc.embedPath}] = {docid, 1};
    } else {
        doc.embedPath = prefix + "&PageNum=1" + suffix;
        for (size_t i = 1; i <= doc.pages.size(); ++i)
            paths[{host, prefix + "&PageNum=" + std::to_string(i) + suffix}] = {docid, int(i)};
    }
    m_state->uspto[docid] = std::move(doc);
}

std::string FakeService::usptoPagePath(const std::string& docid, int page) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    for (const auto& entry : m_state->pagePaths)
        if (entry.second.first == docid && entry.second.second == page)
            return entry.first.second;
    return std::string();
}

void FakeService::addPublication(const std::string& serial, const std::string& publicationNumber,
                                 const std::string& dateRange) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->publications[serial] = Publication{publicationNumber, dateRange};
}

void FakeService::addEspacenetDocument(const std::string& number, EspacenetDocument doc) {
    if (doc.id.empty())
        doc.id = number;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->espacenet[number] = std::move(doc);
}

void FakeService::setLatestVersion(const std::string& body) {
    Response r;
    r.body = body;
    setRoute("www.quorvane.org", "/latest.html", r);
}

void FakeService::setDownload(const std::string& program, const std::string& signature) {
    Response r;
    r.contentType = "application/octet-stream";
    r.body = program;
    setRoute("www.quorvane.org", "/download.html", r);
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (signature.empty()) {
        m_state->routes.erase({"www.quorvane.org", "/download.sig"});
    } else {
        r.body = signature;
        m_state->routes[{"www.quorvane.org", "/download.sig"}] = r;
    }
}

void FakeService::setProxyTestPage(const std::string& html) {
    Response r;
    r.body = html;
    setRoute("www.quorvane.org", "/proxyTest.htm", r);
}

void FakeService::setRoute(const std::string& host, const std::string& pathAndQuery,
                           Response response) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->routes[{lower(host), pathAndQuery}] = std::move(response);
}

void FakeService::addRule(const std::string& host, const std::string& contains, Fault fault,
                          int times, std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->rules.push_back(Rule{lower(host), contains, fault, times, delay});
}

void FakeService::clearRules() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->rules.clear();
}

void FakeService::setDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->delay = delay;
}

void FakeService::setCompression(bool on) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->compression = on;
}

void FakeService::releaseStalls() {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        ++m_state->stallRelease;
    }
    m_state->wake.notify_all();
}

std::vector<RecordedRequest> FakeService::requests() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->log;
}

size_t FakeService::requestCount() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->log.size();
}

void FakeService::clearRequests() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->log.clear();
    ++m_state->logGeneration;
}

} // namespace qvfake

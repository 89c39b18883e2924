// The fake USPTO Patent Public Search: sessions, searches, print jobs, saved PDFs, buckets.
#include "fakePpubs.h"
#include "fakeOpsState.h"

#include "fixtures.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

#ifndef QV_PPUBS_SAMPLES_DIR
#define QV_PPUBS_SAMPLES_DIR "tests/fixtures/ppubs"
#endif

namespace qvfake {

namespace {

using Clock = std::chrono::steady_clock;

struct Bucket {
    PpubsBucket shape;
    double tokens = 40;
    Clock::time_point last = Clock::now();

    // Takes one token: -1 when there is one (remaining in `remaining`), else the seconds
    // until the next one comes, as the service rounds them (down).
    int take(int& remaining) {
        const Clock::time_point now = Clock::now();
        const double rate = shape.capacity / std::max(0.001, shape.refill.count() / 1000.0);
        tokens = std::min<double>(
            shape.capacity, tokens + rate * std::chrono::duration<double>(now - last).count());
        last = now;
        if (tokens >= 1) {
            tokens -= 1;
            remaining = int(std::floor(tokens));
            return -1;
        }
        return int(std::floor((1 - tokens) / rate));
    }
};

struct PrintJob {
    size_t document;
    std::string pdfName;
    bool failed = false;
    int pendingPolls = 0;
};

struct Rule {
    std::string contains;
    PpubsFault fault;
    int times;
    int retryAfter;
};

// The string or number after "key": in a JSON text (either spacing), "" when absent.
std::string jsonField(const std::string& body, const std::string& key) {
    size_t at = body.find("\"" + key + "\"");
    if (at == std::string::npos)
        return std::string();
    at += key.size() + 2;
    while (at < body.size() && (body[at] == ' ' || body[at] == ':'))
        ++at;
    if (at < body.size() && body[at] == '"') {
        std::string out;
        for (++at; at < body.size() && body[at] != '"'; ++at) {
            if (body[at] == '\\' && at + 1 < body.size())
                ++at;
            out += body[at];
        }
        return out;
    }
    size_t end = body.find_first_of(",}] ", at);
    return body.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// Base64 without padding, as in the service's session tokens.
std::string base64Unpadded(const std::string& in) {
    std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                        reinterpret_cast<const unsigned char*>(in.data()), int(in.size()));
    out.resize(size_t(std::max(0, n)));
    out.erase(out.find_last_not_of('=') + 1);
    return out;
}

std::string uuid() {
    unsigned char raw[16];
    RAND_bytes(raw, sizeof raw);
    char text[40];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", raw[0],
                  raw[1], raw[2], raw[3], raw[4], raw[5], raw[6], raw[7], raw[8], raw[9], raw[10],
                  raw[11], raw[12], raw[13], raw[14], raw[15]);
    return text;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

Response json(int status, const std::string& body) {
    Response r;
    r.status = status;
    r.contentType = "application/json";
    r.body = body;
    return r;
}

// The service's 429, with the seconds to wait.
Response tooMany(int seconds) {
    Response r = json(429, "{ \"message\": \"Too many requests\" }");
    r.contentType = "application/json;charset=ISO-8859-1";
    r.headers.emplace_back("x-rate-limit-retry-after-seconds", std::to_string(seconds));
    return r;
}

std::vector<std::string> drawnPages(size_t count, uint32_t width, uint32_t height, unsigned seed) {
    std::vector<std::string> pages;
    for (size_t i = 0; i < count; ++i) {
        qvfix::FixtureOptions o;
        o.width = width;
        o.height = height;
        o.seed = seed + unsigned(i);
        o.bigEndian = true;
        pages.push_back(qvfix::makeTiff(o));
    }
    return pages;
}

// A search answer in the service's shape, with one hit.
std::string searchAnswerFor(const PpubsDocument& d) {
    const std::string count = std::to_string(d.pageCount);
    return "{\"numFound\":1,\"perPage\":500,\"page\":0,\"totalPages\":0,\"hlSnippets\":0,"
           "\"sort\":null,\"query\":{\"id\":null,\"numResults\":1,\"q\":\"\\\"" +
           d.number +
           "\\\".PN.\"},\"duration\":30,\"highlightingTime\":0,\"cursorMarker\":\"*\","
           "\"totalResults\":1,\"numberOfFamilies\":1,\"error\":null,\"patents\":[{\"guid\":\"" +
           d.guid + "\",\"publicationReferenceDocumentNumber\":\"" + d.number +
           "\",\"datePublished\":\"2001-01-02T00:00:00Z\",\"inventionTitle\":\"Sample document " +
           d.number + "\",\"type\":\"" + d.type + "\",\"frontPageStart\":1,\"frontPageEnd\":1," +
           "\"pageCount\":" + count + ",\"pageCountDisplay\":\"" + count +
           "\",\"imageLocation\":\"" + d.imageLocation +
           "\",\"imageFileName\":\"00000001.tif\",\"databaseName\":\"" +
           (d.type == "US-PGPUB" ? "PGPB" : "USPT") + "\",\"documentId\":\"US " + d.number + " " +
           d.kind + "\",\"kindCode\":[\"" + d.kind + "\"]}],\"qtime\":28}";
}

} // namespace

struct PpubsState {
    OpsState* tls = nullptr; // the TLS server and CA it shares with the EPO fake

    mutable std::mutex mutex; // guards everything below: handlers run on many threads
    std::vector<PpubsDocument> documents;
    std::vector<std::vector<std::string>> pages; // drawn pages of documents, for NonCcittSave
    std::set<std::string> liveTokens;
    std::map<std::string, PrintJob> jobs; // by job number
    long long nextCase = 85524324;
    long long nextJob = 2963183;
    Bucket search{}, print{{5}, 5};
    std::vector<Rule> rules;
    PpubsStats stats;
    PpubsFake facade{this};

    Response answer(const RecordedRequest& rec);
};

std::string ppubsSamplesDir() {
    return QV_PPUBS_SAMPLES_DIR;
}

std::string ppubsSample(const std::string& name) {
    return readSampleFile(ppubsSamplesDir() + "/" + name);
}

PpubsDocument ppubsRecordedDocument(const std::string& number, uint32_t width, uint32_t height) {
    struct Known {
        const char* number;
        const char* type;
        const char* guid;
        const char* kind;
        const char* location;
        int pages;
    };
    static const Known known[] = {
        {"6103599", "USPAT", "US-6103599-A", "A", "uspat/US/06/103/599", 12},
        {"D645062", "USPAT", "US-D645062-S", "S", "uspat/US/D0/645/062", 8},
        {"RE43633", "USPAT", "US-RE43633-E", "E", "uspat/US/RE/043/633", 22},
        {"20160009839", "US-PGPUB", "US-20160009839-A1", "A1", "us-pgpub/US/2016/0009/839", 17},
    };
    PpubsDocument d;
    for (const Known& k : known) {
        if (number != k.number)
            continue;
        d = {k.number,
             k.type,
             k.guid,
             k.kind,
             k.location,
             k.pages,
             ppubsSample("search-" + number + ".json"),
             ""};
        d.pdf = number == "6103599" ? ppubsSample("US-6103599-A.pdf")
                                    : ppubsPdf(drawnPages(size_t(k.pages), width, height, 7));
    }
    return d;
}

PpubsDocument ppubsDocument(const std::string& number, const std::vector<std::string>& tiffPages) {
    PpubsDocument d;
    d.number = number;
    d.pageCount = int(tiffPages.size());
    const size_t letters = number.find_first_of("0123456789");
    const std::string prefix = number.substr(0, std::min(letters, number.size()));
    if (number.size() == 11 && prefix.empty()) {
        d.type = "US-PGPUB";
        d.kind = "A1";
        d.imageLocation = "us-pgpub/US/" + number.substr(0, 4) + "/" + number.substr(4, 4) + "/" +
                          number.substr(8);
    } else {
        d.type = "USPAT";
        d.kind = prefix == "D" ? "S" : prefix == "RE" ? "E" : prefix == "PP" ? "P2" : "B2";
        // Eight characters after the letters' padding, split 2/3/3; natively eight: G + the
        // last two, the middle three, the first three.
        const std::string digits = number.substr(prefix.size());
        const std::string padded =
            prefix + std::string(8 - std::min<size_t>(8, prefix.size() + digits.size()), '0') +
            digits;
        d.imageLocation = number.size() == 8 && prefix.empty()
                              ? "uspat/US/G" + number.substr(6) + "/" + number.substr(3, 3) + "/" +
                                    number.substr(0, 3)
                              : "uspat/US/" + padded.substr(0, 2) + "/" + padded.substr(2, 3) +
                                    "/" + padded.substr(5);
    }
    d.guid = "US-" + number + "-" + d.kind;
    d.pdf = ppubsPdf(tiffPages);
    d.searchAnswer = searchAnswerFor(d);
    return d;
}

Response PpubsState::answer(const RecordedRequest& rec) {
    const std::string path = rec.path.substr(0, rec.path.find('?'));
    std::lock_guard<std::mutex> lock(mutex);

    // Scripted faults first: the first three answer at once, the others change the answer.
    PpubsFault change = PpubsFault::Forbidden;
    bool changed = false;
    for (Rule& rule : rules) {
        if (rule.times == 0 ||
            (!rule.contains.empty() && path.find(rule.contains) == std::string::npos))
            continue;
        if (rule.times > 0)
            --rule.times;
        ++stats.scriptedFaults;
        change = rule.fault;
        changed = true;
        if (rule.fault == PpubsFault::Forbidden)
            return json(403, "{\"message\":\"Forbidden\"}");
        if (rule.fault == PpubsFault::TooMany) {
            return tooMany(rule.retryAfter);
        }
        if (rule.fault == PpubsFault::Status500)
            return json(500, "{\"status\":500,\"error\":\"Internal Server Error\",\"path\":\"" +
                                 path + "\"}");
        break;
    }
    auto is = [&](PpubsFault f) { return changed && change == f; };

    if (rec.method == "GET" && path == "/pubwebapp/") {
        Response r;
        r.body = "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>Patent "
                 "Public Search</title><base href=\"/pubwebapp/\"></head><body><app-root>"
                 "</app-root></body></html>\n";
        r.headers.emplace_back("etag", "\"5b0-63130d093d10c\"");
        return r;
    }
    const Response notFound =
        json(404, "{\"status\":404,\"error\":\"Not Found\",\"path\":\"" + path + "\"}");
    if (path.compare(0, 5, "/api/") != 0)
        return notFound;
    if (rec.method == "POST" && path == "/api/users/me/session") {
        const std::string sub = uuid();
        const std::string token =
            base64Unpadded("{\"sub\":\"" + sub + "\",\"ver\":\"" + uuid() + "\",\"exp\":0}");
        liveTokens.insert(token);
        ++stats.sessions;
        std::string body = ppubsSample("session-answer.json");
        replaceAll(body, "85524324", std::to_string(nextCase++));
        replaceAll(body, "fb04c4b7-c86e-4bb9-a149-38fa19cb6b2c", sub);
        Response r = json(200, body);
        r.headers.emplace_back("x-access-token", token);
        return r;
    }
    if (!liveTokens.count(rec.header("X-Access-Token"))) {
        ++stats.forbidden;
        return json(403, "{\"message\":\"Forbidden\"}");
    }

    Bucket* bucket = nullptr;
    if (path == "/api/searches/counts" || path == "/api/searches/searchWithBeFamily")
        bucket = &search;
    else if (path == "/api/print/imageviewer" || path.compare(0, 16, "/api/print/save/") == 0)
        bucket = &print;
    int remaining = -1;
    if (bucket) {
        const int wait = bucket->take(remaining);
        if (wait >= 0) {
            ++stats.tooManyRequests;
            return tooMany(wait);
        }
    }
    Response out = notFound;

    // The document a search asks for, in the database it names.
    auto asked = [&]() -> const PpubsDocument* {
        std::string q = jsonField(rec.body, "q");
        const std::string database = jsonField(rec.body, "databaseName");
        if (q.size() < 6 || q.front() != '"' || q.compare(q.size() - 5, 5, "\".PN.") != 0)
            return nullptr;
        q = q.substr(1, q.size() - 6);
        for (const PpubsDocument& d : documents)
            if (d.number == q && d.type == database)
                return &d;
        return nullptr;
    };
    if (rec.method == "POST" && path == "/api/searches/counts") {
        ++stats.counts;
        const PpubsDocument* d = asked();
        out = json(200, "{\"numResults\":" + std::string(d ? "1" : "0") +
                            ",\"databaseFilters\":[],\"facets\":[],\"error\":null}");
    } else if (rec.method == "POST" && path == "/api/searches/searchWithBeFamily") {
        ++stats.searches;
        const PpubsDocument* d = asked();
        if (is(PpubsFault::SearchError))
            out = json(200, "{\"numFound\":0,\"patents\":[],\"error\":{\"errorCode\":\"500\","
                            "\"errorMessage\":\"Search failed\"}}");
        else if (d)
            out = json(200, d->searchAnswer);
        else
            out = json(200, ppubsSample("search-none.json"));
    } else if (rec.method == "POST" && path == "/api/print/imageviewer") {
        const std::string guid = jsonField(rec.body, "patentGuid");
        const std::string source = jsonField(rec.body, "source");
        size_t found = documents.size();
        for (size_t i = 0; i < documents.size(); ++i)
            if (documents[i].guid == guid && documents[i].type == source)
                found = i;
        bool keys = found < documents.size();
        if (keys) {
            // Every page key, and no other.
            const PpubsDocument& d = documents[found];
            size_t listed = 0;
            for (size_t at = rec.body.find(".tif\""); at != std::string::npos;
                 at = rec.body.find(".tif\"", at + 1))
                ++listed;
            keys = listed == size_t(d.pageCount);
            for (int p = 1; keys && p <= d.pageCount; ++p) {
                char key[24];
                std::snprintf(key, sizeof key, "/%08d.tif\"", p);
                keys = rec.body.find("\"" + d.imageLocation + key) != std::string::npos;
            }
        }
        if (!keys) {
            out = json(500, "{\"status\":500,\"error\":\"Internal Server Error\"}");
        } else {
            const std::string id = std::to_string(nextJob++);
            PrintJob job;
            job.document = found;
            job.failed = is(PpubsFault::PrintFailed);
            job.pendingPolls = is(PpubsFault::PrintPending) ? 2 : 0;
            const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
            job.pdfName =
                guid + "_" + source + "_" + std::to_string(ms + (nextJob % 1000)) + ".pdf";
            jobs[id] = job;
            ++stats.prints;
            out = json(200, id);
        }
    } else if (rec.method == "POST" && path == "/api/print/print-process") {
        const size_t open = rec.body.find("[\"");
        const size_t close = rec.body.find("\"]");
        const std::string id =
            open == std::string::npos || close == std::string::npos || close < open
                ? std::string()
                : rec.body.substr(open + 2, close - open - 2);
        auto it = jobs.find(id);
        if (it == jobs.end()) {
            out = json(200, "[]");
        } else {
            PrintJob& job = it->second;
            const PpubsDocument& d = documents[job.document];
            std::string status = "COMPLETED";
            if (is(PpubsFault::PrintFailed) || job.failed)
                status = "FAILED";
            else if (is(PpubsFault::PrintPending) || job.pendingPolls > 0)
                status = "PROCESSING";
            if (job.pendingPolls > 0)
                --job.pendingPolls;
            out = json(200, "[{\"createBy\":\"estapp\",\"createDt\":\"2025-04-08T15:01:31\","
                            "\"modifyBy\":\"estapp\",\"modifyDt\":\"2025-04-08T15:01:32\","
                            "\"printProcessId\":" +
                                id + ",\"caseId\":85524327,\"pdfName\":\"" + job.pdfName +
                                "\",\"printParams\":\"{\\\"caseId\\\":85524327,\\\"patentGuid\\\":"
                                "\\\"" +
                                d.guid + "\\\",\\\"source\\\":\\\"" + d.type +
                                "\\\",\\\"saveOrPrint\\\":\\\"save\\\"}\",\"printStatus\":\"" +
                                status + "\"}]");
        }
    } else if (rec.method == "GET" && path.compare(0, 16, "/api/print/save/") == 0) {
        const std::string name = path.substr(16);
        for (const auto& entry : jobs) {
            if (entry.second.pdfName != name || entry.second.failed)
                continue;
            const size_t index = entry.second.document;
            const PpubsDocument& d = documents[index];
            out.status = 200;
            out.contentType = "application/pdf";
            if (is(PpubsFault::NonCcittSave)) {
                if (pages[index].empty())
                    pages[index] = drawnPages(size_t(d.pageCount), 320, 240, 3);
                out.body = ppubsPdf(pages[index], 2);
            } else {
                out.body = d.pdf;
            }
            out.headers.emplace_back("content-disposition", "attachment; filename=" + name);
            ++stats.saves;
            break;
        }
    }
    if (remaining >= 0 && out.status == 200)
        out.headers.emplace_back("x-rate-limit-remaining", std::to_string(remaining));
    return out;
}

bool PpubsFake::ok() const {
    return m_state->tls && m_state->tls->ok;
}

std::string PpubsFake::error() const {
    return m_state->tls ? m_state->tls->error : "no TLS server";
}

std::string PpubsFake::caBundlePath() const {
    return m_state->tls ? m_state->tls->caPath : std::string();
}

void PpubsFake::addDocument(PpubsDocument document) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->documents.push_back(std::move(document));
    m_state->pages.emplace_back();
}

void PpubsFake::setSearchBucket(PpubsBucket bucket) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->search = Bucket{bucket, double(bucket.capacity)};
}

void PpubsFake::setPrintBucket(PpubsBucket bucket) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->print = Bucket{bucket, double(bucket.capacity)};
}

void PpubsFake::expireSessions() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->liveTokens.clear();
}

void PpubsFake::addRule(const std::string& contains, PpubsFault fault, int times,
                        int retryAfterSeconds) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->rules.push_back({contains, fault, times, retryAfterSeconds});
}

void PpubsFake::clearRules() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->rules.clear();
}

PpubsStats PpubsFake::stats() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->stats;
}

PpubsState* newPpubsState(OpsState* tls) {
    PpubsState* s = new PpubsState;
    s->tls = tls;
    return s;
}

void deletePpubsState(PpubsState* state) {
    delete state;
}

Response ppubsAnswer(PpubsState* state, const RecordedRequest& rec) {
    return state->answer(rec);
}

PpubsFake& ppubsFacade(PpubsState* state) {
    return state->facade;
}

} // namespace qvfake

// The OPS fake's state, shared by fakeService.cpp (tunnels, the request path) and fakeOps.cpp
// (the answers). Not part of the interface.
#pragma once

#include "fakeService.h"

#include <httplib.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace qvfake {

struct OpsRule {
    std::string contains;
    OpsFault fault;
    int times;
    OpsFaultOptions options;
};

struct OpsToken {
    std::chrono::steady_clock::time_point expiry;
    int usesLeft = -1; // -1: no limit
    bool dead = false;
};

struct OpsState {
    // ---- TLS server behind the tunnels (set up once, then read-only) ----
    std::string folder; // temporary folder with the CA certificate
    std::string caPath;
    std::string error;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    int port = -1;
    bool ok = false;

    // Makes the CA and the server certificate and starts the TLS server, whose requests go to
    // handler.
    bool start(const std::function<void(const httplib::Request&, httplib::Response&)>& handler);
    void stop();
    ~OpsState();

    // The answer to a request that came through a tunnel. Thread-safe.
    Response answer(const RecordedRequest& rec);

    // ---- Everything below is guarded by mutex: handlers run on many threads ----
    mutable std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> keys;
    std::chrono::seconds lifetime{1199};
    int tokenUses = 0;
    std::map<std::string, OpsToken> tokens;
    std::vector<std::string> tokenOrder;
    std::vector<OpsPublication> publications;
    OpsThrottle throttle;
    std::vector<OpsThrottle> cycle;
    size_t cycleNext = 0;
    bool enforce = true;
    // Accepted requests per service in the rolling minute, and what answers advertised.
    std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> recent;
    std::deque<std::pair<std::chrono::steady_clock::time_point, OpsThrottle>> advertised;
    std::deque<std::pair<std::chrono::steady_clock::time_point, uint64_t>> hourBytes;
    uint64_t hourBase = 0;
    uint64_t weekUsed = 0;
    std::vector<OpsRule> rules;
    OpsStats stats;

    OpsFake facade{this};
};

// A recorded sample's bytes; "" when it cannot be read.
std::string readSampleFile(const std::string& path);

// The ppubs fake (fakePpubs.cpp), behind the same TLS server.
struct PpubsState;
PpubsState* newPpubsState(OpsState* tls);
void deletePpubsState(PpubsState* state);
Response ppubsAnswer(PpubsState* state, const RecordedRequest& rec);
PpubsFake& ppubsFacade(PpubsState* state);

} // namespace qvfake

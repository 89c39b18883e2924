// Small helpers shared by every test: a sandbox folder removed on destruction,
// waiting for a condition with a deadline, and reading whole files.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace qvtest {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& tag = "qv");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Polls pred every few milliseconds until it holds or the timeout passes; between polls it
// runs idle (for example, processing pending events). Returns pred's last answer.
bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout,
             const std::function<void()>& idle = {});

std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& data);
bool fileExists(const std::string& path);

// Runs a shell command, returns its exit status; its standard output goes to *out if given.
int runCommand(const std::string& cmd, std::string* out = nullptr);

// A port on 127.0.0.1 that nothing listens on (bound, then released).
int freePort();
// True when something accepts connections on 127.0.0.1:port.
bool portAccepts(int port);

// tinyproxy on a free port of 127.0.0.1 with basic authentication (user alice, password
// s3cret), forwarding every request to upstreamPort as its upstream proxy; stopped on
// destruction. ok tells whether it runs.
class Tinyproxy {
public:
    Tinyproxy(int upstreamPort, const std::string& folder);
    ~Tinyproxy();
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;
    int port = -1;
    bool ok = false;

private:
    int m_pid = -1;
};

} // namespace qvtest

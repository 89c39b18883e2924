#include "testutil.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>

extern char** environ;

namespace qvtest {

TempDir::TempDir(const std::string& tag) {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/" + tag + "-XXXXXX";
    char* made = mkdtemp(&tmpl[0]);
    m_path = made ? made : "";
}

TempDir::~TempDir() {
    if (m_path.size() > 5) {
        // Make read-only subfolders removable again before deleting the tree.
        std::string cmd = "chmod -R u+rwx '" + m_path + "' 2>/dev/null; rm -rf '" + m_path + "'";
        int rc = std::system(cmd.c_str());
        (void)rc;
    }
}

bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout,
             const std::function<void()>& idle) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (idle)
            idle();
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

int runCommand(const std::string& cmd, std::string* out) {
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        if (out)
            out->append(buf, n);
    }
    int st = ::pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

bool portAccepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

Tinyproxy::Tinyproxy(int upstreamPort, const std::string& folder) {
    std::string binary;
    for (const char* dir : {"/usr/bin/", "/usr/sbin/", "/usr/local/bin/"})
        if (fileExists(std::string(dir) + "tinyproxy"))
            binary = std::string(dir) + "tinyproxy";
    if (binary.empty())
        return;
    port = freePort();
    const std::string conf = folder + "/tinyproxy.conf";
    writeFile(conf, "Port " + std::to_string(port) +
                        "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nLogLevel Critical\n"
                        "BasicAuth alice s3cret\nUpstream http 127.0.0.1:" +
                        std::to_string(upstreamPort) + "\n");
    const char* argv[] = {binary.c_str(), "-d", "-c", conf.c_str(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, binary.c_str(), nullptr, nullptr, const_cast<char* const*>(argv),
                    environ) != 0)
        return;
    m_pid = pid;
    ok = waitFor([&] { return portAccepts(port); }, std::chrono::seconds(10));
}

Tinyproxy::~Tinyproxy() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
}

} // namespace qvtest

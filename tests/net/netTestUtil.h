// Helpers shared by the session tests.
#pragma once

#include <wx/stream.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace nettest {

// The whole stream as bytes; takes ownership. Null gives "".
inline std::string drain(std::unique_ptr<wxInputStream> owned) {
    std::string out;
    if (!owned)
        return out;
    char buf[8192];
    while (true) {
        owned->Read(buf, sizeof buf);
        size_t n = owned->LastRead();
        if (n == 0)
            break;
        out.append(buf, n);
    }
    return out;
}

// Every test starts without proxy settings from the environment it was run in.
inline void clearProxyEnvironment() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        unsetenv(name);
}

} // namespace nettest

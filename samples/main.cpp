// quorvane-sample-service: sample documents for a first run, when the remote services are
// out of reach. It acts as the HTTP proxy for every remote host the program talks to and
// answers for a handful of sample numbers with real Group 4 page images. Start Quorvane
// with http_proxy pointing at it (connection type AUTO or DIRECT) and type a listed number.
//
//   --port N      listen on 127.0.0.1:N instead of a free port
//   --delay-ms N  wait N ms before every answer, to watch the rows count pages
//   --with-parent end when the process that started it ends (for scripts)
//   --no-rate-limits  the USPTO service without its request buckets (for scripts; by
//                 default it paces print jobs as the live one does, about one in 14 s)
//
// The first line of output names the proxy URL; the service runs until SIGINT or SIGTERM.
// It also answers for the EPO service (ops.epo.org through CONNECT, with its own test CA)
// with a sample key: lines "EPO key: ..." and "EPO CA: ..." give the environment for that;
// and for the USPTO Patent Public Search (ppubs.uspto.gov, the same way, no key needed).
#include "fakeService.h"
#include "sampleDocuments.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

const char kUsage[] = "usage: quorvane-sample-service [--port N] [--delay-ms N] [--with-parent] "
                      "[--no-rate-limits]\n";

bool ParseCount(const char* text, int& value) {
    char* end = nullptr;
    long n = std::strtol(text, &end, 10);
    if (!*text || *end || n < 0 || n > 65535 * 16)
        return false;
    value = static_cast<int>(n);
    return true;
}

// The server shares its port with other listeners that allow it; a plain socket that cannot
// bind tells that the port is taken, so two services never split the requests between them.
bool PortFree(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return free;
}

} // namespace

int main(int argc, char** argv) {
    int port = 0;
    int delayMs = 0;
    bool withParent = false;
    bool rateLimits = true;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (opt == "--with-parent") {
            withParent = true;
            continue;
        }
        if (opt == "--no-rate-limits") {
            rateLimits = false;
            continue;
        }
        int* target = opt == "--port" ? &port : opt == "--delay-ms" ? &delayMs : nullptr;
        if (!target || i + 1 >= argc || !ParseCount(argv[++i], *target) ||
            (target == &port && port > 65535)) {
            std::cerr << kUsage;
            return 2;
        }
    }

    // The stop signals are blocked in every thread; the main thread waits for them below.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    if (withParent) {
        const pid_t parent = getppid();
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            return 0; // it has ended already
    }

    if (port > 0 && !PortFree(port)) {
        std::cerr << "quorvane-sample-service: cannot listen on 127.0.0.1:" << port
                  << ": the port is taken\n";
        return 1;
    }
    qvfake::FakeService service(port);
    if (!service.ok()) {
        std::cerr << "quorvane-sample-service: cannot listen on 127.0.0.1"
                  << (port ? ":" + std::to_string(port) : std::string()) << "\n";
        return 1;
    }
    // Enabled before the samples are added, so that they are added to them as well.
    qvfake::OpsFake& ops = service.enableOps();
    qvfake::PpubsFake& ppubs = service.enablePpubs();
    if (!rateLimits) {
        const qvfake::PpubsBucket endless{1 << 20, std::chrono::milliseconds(1)};
        ppubs.setSearchBucket(endless);
        ppubs.setPrintBucket(endless);
    }
    std::string error;
    bool readable = false;
    if (!qvsample::AddSamples(service, &error, &readable)) {
        std::cerr << "quorvane-sample-service: " << error << "\n";
        return 1;
    }
    if (delayMs > 0)
        service.setDelay(std::chrono::milliseconds(delayMs));

    std::cout << "Quorvane sample service at " << service.proxyUrl() << "\n"
              << "Start Quorvane through it (Setup > Network: AUTO or DIRECT):\n"
              << "  http_proxy=" << service.proxyUrl() << " quorvane\n"
              << "Numbers to try:\n"
              << qvsample::NumbersToTry();
    if (!readable)
        std::cout << "(ghostscript is missing: the pages are drawings without words)\n";
    std::cout << "Other numbers are not found.\n";
    if (ops.ok()) {
        std::cout << "The USPTO Patent Public Search (no key needed), through the same proxy as "
                     "https_proxy:\n"
                  << "USPTO CA: CURL_CA_BUNDLE=" << ops.caBundlePath() << "\n"
                  << "Numbers to try through the USPTO service:\n"
                  << qvsample::PpubsNumbersToTry();
        // A sample key the fake accepts, no one's secret: printed for scripts to read.
        std::cout << "The EPO service (OPS) with a sample key, through the same proxy as "
                     "https_proxy:\n"
                  << "EPO key: QUORVANE_OPS_KEY=" << qvfake::kOpsSampleKey
                  << " QUORVANE_OPS_SECRET=" << qvfake::kOpsSampleSecret << "\n"
                  << "EPO CA: CURL_CA_BUNDLE=" << ops.caBundlePath() << "\n"
                  << "Numbers to try through the EPO service:\n"
                  << qvsample::EpoNumbersToTry();
    } else {
        std::cout << "(the EPO service could not start: " << ops.error() << ")\n";
    }
    std::cout << "Stop the service with Ctrl+C." << std::endl;

    int sig = 0;
    sigwait(&stop, &sig);
    return 0;
}

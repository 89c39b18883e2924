// quorvane-fake-service: the fake remote services as a program, for trying the GUI by hand
// and for scripts. Prints its port on the first line of standard output and serves until it
// receives SIGINT or SIGTERM. Point the program at it with http_proxy=http://127.0.0.1:PORT.
//
//   --port N                 listen on N instead of an ephemeral port
//   --delay-ms N             wait N ms before every answer
//   --page-file PATH         page image used by the documents below (default: filler bytes)
//   --patent DOCID:PAGES     a USPTO document ("05123456:3", publications have 11 digits)
//   --espacenet NUMBER:PAGES an Espacenet document ("EP1000000:2")
//   --publication SERIAL:NUM a search hit ("123456:20020000001")
//   --latest TEXT            body of /latest.html
//   --ops                    also serve EPO OPS 3.2 through CONNECT tunnels; prints the test
//                            CA's path as a second line "ca=PATH" (for CURL_CA_BUNDLE)
//   --ops-publication CC.N.K:PAGES  an OPS publication with drawn A4 pages (implies --ops)
#include "fakeService.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool splitPair(const std::string& arg, std::string& left, std::string& right) {
    size_t colon = arg.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= arg.size())
        return false;
    left = arg.substr(0, colon);
    right = arg.substr(colon + 1);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Block the stop signals in every thread; the main thread waits for them below.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    int port = 0;
    bool ops = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        // A switch without a value.
        if (std::string(argv[i]) == "--ops")
            ops = true;
        else
            args.push_back(argv[i]);
    }
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--port")
            port = std::atoi(args[i + 1].c_str());
        if (args[i] == "--ops-publication")
            ops = true;
    }
    qvfake::FakeService fake(port);
    if (!fake.ok()) {
        std::cerr << "quorvane-fake-service: cannot listen on 127.0.0.1\n";
        return 1;
    }

    if (ops && !fake.enableOps().ok()) {
        std::cerr << "quorvane-fake-service: no OPS service: " << fake.ops()->error() << "\n";
        return 1;
    }

    std::string page("II*\0fake page image", 19);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        if (i + 1 >= args.size()) {
            std::cerr << "quorvane-fake-service: " << opt << " needs a value\n";
            return 2;
        }
        const std::string& value = args[++i];
        std::string left, right;
        if (opt == "--port") {
        } else if (opt == "--delay-ms") {
            fake.setDelay(std::chrono::milliseconds(std::atoi(value.c_str())));
        } else if (opt == "--page-file") {
            std::ifstream in(value, std::ios::binary);
            std::ostringstream ss;
            ss << in.rdbuf();
            if (!in) {
                std::cerr << "quorvane-fake-service: cannot read " << value << "\n";
                return 2;
            }
            page = ss.str();
        } else if (opt == "--patent" && splitPair(value, left, right)) {
            fake.addUsptoDocument(left, std::vector<std::string>(std::atoi(right.c_str()), page));
        } else if (opt == "--espacenet" && splitPair(value, left, right)) {
            qvfake::EspacenetDocument doc;
            doc.pages.assign(std::atoi(right.c_str()), page);
            fake.addEspacenetDocument(left, doc);
        } else if (opt == "--publication" && splitPair(value, left, right)) {
            fake.addPublication(left, right);
        } else if (opt == "--ops-publication" && splitPair(value, left, right)) {
            size_t dot1 = left.find('.'), dot2 = left.rfind('.');
            if (dot1 == std::string::npos || dot2 == dot1) {
                std::cerr << "quorvane-fake-service: want CC.NUMBER.KIND:PAGES, not " << value
                          << "\n";
                return 2;
            }
            std::vector<std::string> pages;
            for (int p = 1; p <= std::atoi(right.c_str()); ++p)
                pages.push_back(qvfake::opsPage(unsigned(p)));
            fake.ops()->addPublication(
                qvfake::opsPublication(left.substr(0, dot1), left.substr(dot1 + 1, dot2 - dot1 - 1),
                                       left.substr(dot2 + 1), pages));
        } else if (opt == "--latest") {
            fake.setLatestVersion(value + "\n");
        } else {
            std::cerr << "quorvane-fake-service: bad option " << opt << " " << value << "\n";
            return 2;
        }
    }

    std::cout << fake.port() << std::endl;
    if (ops)
        std::cout << "ca=" << fake.ops()->caBundlePath() << std::endl;
    int sig = 0;
    sigwait(&stop, &sig);
    return 0;
}

// Proxy credentials against a real proxy: tinyproxy with basic authentication, forwarding
// to the fake service as its upstream proxy.
#include "fakeService.h"
#include "httpSession.h"
#include "netTestUtil.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

bool accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

class ProxyAuthTest : public ::testing::Test {
protected:
    void SetUp() override {
        nettest::clearProxyEnvironment();
        ASSERT_TRUE(fake.ok());
        qvfake::Response page;
        page.body = "<html>through the proxy</html>";
        fake.setRoute("www.quorvane.org", "/proxyTest.htm", page);

        std::string binary;
        for (const char* dir : {"/usr/bin/", "/usr/sbin/", "/usr/local/bin/"})
            if (qvtest::fileExists(std::string(dir) + "tinyproxy"))
                binary = std::string(dir) + "tinyproxy";
        ASSERT_FALSE(binary.empty()) << "tinyproxy is not installed (scripts/deps installs it)";

        port = nettest::freePort();
        std::string conf = dir.file("tinyproxy.conf");
        ASSERT_TRUE(qvtest::writeFile(
            conf, "Port " + std::to_string(port) +
                      "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nLogLevel Critical\n"
                      "BasicAuth alice s3cret\nUpstream http 127.0.0.1:" +
                      std::to_string(fake.port()) + "\n"));
        const char* argv[] = {binary.c_str(), "-d", "-c", conf.c_str(), nullptr};
        ASSERT_EQ(0, posix_spawn(&pid, binary.c_str(), nullptr, nullptr,
                                 const_cast<char* const*>(argv), environ));
        ASSERT_TRUE(qvtest::waitFor([&] { return accepts(port); }, std::chrono::seconds(10)))
            << "tinyproxy did not start";
    }
    void TearDown() override {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    }

    wxInputStream* fetch(const char* user, const char* pass) {
        session.reset(new httpSession(2, "127.0.0.1", wxString::Format("%d", port), user, pass));
        if (!session->m_ok || !session->Connect("www.quorvane.org"))
            return nullptr;
        return session->Request("/proxyTest.htm");
    }

    qvtest::TempDir dir{"qv-proxy"};
    qvfake::FakeService fake;
    int port = -1;
    pid_t pid = -1;
    std::unique_ptr<httpSession> session;
};

TEST_F(ProxyAuthTest, RightCredentialsPass) {
    EXPECT_EQ("<html>through the proxy</html>", nettest::drain(fetch("alice", "s3cret")));
    EXPECT_EQ(200u, session->m_status);
    ASSERT_EQ(1u, fake.requestCount());
    EXPECT_EQ("/proxyTest.htm", fake.requests()[0].path);
}

TEST_F(ProxyAuthTest, MissingCredentialsAreRefused) {
    const char* const tries[][2] = {{"", ""}, {"", "s3cret"}};
    for (const auto& t : tries) {
        EXPECT_EQ(nullptr, fetch(t[0], t[1])) << t[0] << ":" << t[1];
        EXPECT_EQ("Proxy Authentication Error", session->GetError());
        EXPECT_EQ(407u, session->m_status);
    }
    EXPECT_EQ(0u, fake.requestCount());
}

TEST_F(ProxyAuthTest, WrongCredentialsAreRefused) {
    // tinyproxy answers credentials it rejects with 401 rather than 407; either way the
    // request fails with the authentication text of the status that came back.
    const char* const tries[][2] = {{"alice", "wrong"}, {"mallory", "s3cret"}};
    for (const auto& t : tries) {
        EXPECT_EQ(nullptr, fetch(t[0], t[1])) << t[0] << ":" << t[1];
        ASSERT_TRUE(session->m_status == 401u || session->m_status == 407u) << session->m_status;
        EXPECT_EQ(session->m_status == 407u ? "Proxy Authentication Error"
                                            : "Server Authentication Error",
                  session->GetError());
    }
    EXPECT_EQ(0u, fake.requestCount());
}

} // namespace

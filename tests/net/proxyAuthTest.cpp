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

class ProxyAuthTest : public ::testing::Test {
protected:
    void SetUp() override {
        nettest::clearProxyEnvironment();
        ASSERT_TRUE(fake.ok());
        qvfake::Response page;
        page.body = "<html>through the proxy</html>";
        fake.setRoute("www.quorvane.org", "/proxyTest.htm", page);

        proxy.reset(new qvtest::Tinyproxy(fake.port(), dir.path()));
        ASSERT_TRUE(proxy->ok) << "tinyproxy did not start (scripts/deps installs it)";
        port = proxy->port;
    }

    std::unique_ptr<wxInputStream> fetch(const char* user, const char* pass) {
        session.reset(new httpSession(ConnectionType::HttpProxy, "127.0.0.1",
                                      wxString::Format("%d", port), user, pass));
        if (!session->m_ok || !session->Connect("www.quorvane.org"))
            return nullptr;
        return session->Request("/proxyTest.htm");
    }

    qvtest::TempDir dir{"qv-proxy"};
    qvfake::FakeService fake;
    std::unique_ptr<qvtest::Tinyproxy> proxy;
    int port = -1;
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

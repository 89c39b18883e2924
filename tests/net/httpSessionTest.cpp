#include "httpSession.h"
#include "fakeService.h"
#include "netTestUtil.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using nettest::drain;
using qvfake::Fault;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kHost = "www.quorvane.org";

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.ok());
        nettest::clearProxyEnvironment();
        setenv("http_proxy", fake.proxyUrl().c_str(), 1);
        qvfake::Response page;
        page.contentType = "application/octet-stream";
        page.body = bytes(20000);
        fake.setRoute(kHost, "/page", page);
    }
    void TearDown() override { nettest::clearProxyEnvironment(); }

    static std::string bytes(size_t n) {
        std::string out(n, '\0');
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<char>((i * 131 + 7) % 256);
        return out;
    }

    qvfake::FakeService fake;
};

TEST_F(SessionTest, FreshSessionHoldsTheFixedHeaderBlock) {
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    ASSERT_TRUE(s.m_ok);
    EXPECT_EQ(0u, s.m_status);
    EXPECT_TRUE(s.GetError().empty());
    EXPECT_EQ("Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\n\n"
              "Content-Type: text/xml; charset=utf-8\n\n"
              "Accept-Encoding: gzip,deflate\n\n"
              "Accept-Language: en-us,en;q=0.5\n\n"
              "Connection: keep-alive\n",
              s.m_headers);
    // A later header without its own line feed closes the block.
    EXPECT_TRUE(s.AddHeader("SOAPAction: \"ops.espacenet.com/OpenPatentServices/webService\""));
    EXPECT_TRUE(s.m_headers.EndsWith("Connection: keep-alive\n\nSOAPAction: "
                                     "\"ops.espacenet.com/OpenPatentServices/webService\""));
}

class EnvironmentProxyTest : public SessionTest, public ::testing::WithParamInterface<int> {};

TEST_P(EnvironmentProxyTest, ReachesTheHostThroughHttpProxyFromTheEnvironment) {
    // Types 0 and 1 ignore the proxy texts they are given.
    httpSession s(ConnectionTypeOf(GetParam()), "127.0.0.1", "1", "user", "pass");
    ASSERT_TRUE(s.m_ok);
    ASSERT_TRUE(s.Connect(kHost));
    EXPECT_EQ(bytes(20000), drain(s.Request("/page")));
    EXPECT_EQ(200u, s.m_status);
    auto log = fake.requests();
    ASSERT_EQ(1u, log.size());
    EXPECT_TRUE(log[0].absoluteForm);
    EXPECT_EQ("http://www.quorvane.org/page", log[0].target);
    EXPECT_FALSE(log[0].hasHeader("Proxy-Authorization"));
}
INSTANTIATE_TEST_SUITE_P(AutoAndDirect, EnvironmentProxyTest, ::testing::Values(0, 1));

TEST_F(SessionTest, SendsTheFixedHeadersAndExactBodies) {
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    s.AddHeader("SOAPAction: \"ops.espacenet.com/OpenPatentServices/webService\"");
    ASSERT_TRUE(s.Connect(kHost));
    ASSERT_FALSE(drain(s.Request("/page")).empty());

    // Larger than libcurl's threshold for "Expect: 100-continue" (1 MB), with bytes that a
    // text conversion could alter.
    std::string body = "<soapenv:Envelope>\n" + std::string(1100000, 'x') + "\r\n\t&lt;end";
    s.m_postData = wxString::FromUTF8(body.c_str());
    ASSERT_FALSE(drain(s.Request("/page")).empty());
    ASSERT_FALSE(drain(s.Request("/page")).empty()); // the body stays set
    s.m_postData.clear();
    ASSERT_FALSE(drain(s.Request("/page")).empty());

    auto log = fake.requests();
    ASSERT_EQ(4u, log.size());
    const auto& get = log[0];
    EXPECT_EQ("GET", get.method);
    EXPECT_EQ("Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8.1.1) Gecko/20061204 "
              "Firefox/2.0.0.1",
              get.header("User-Agent"));
    EXPECT_EQ("text/xml,application/xml,application/xhtml+xml,text/html;q=0.9,text/"
              "plain;q=0.8,image/png,*/*;q=0.5",
              get.header("Accept"));
    EXPECT_EQ("ISO-8859-1,utf-8;q=0.7,*;q=0.7", get.header("Accept-Charset"));
    EXPECT_EQ("text/xml; charset=utf-8", get.header("Content-Type"));
    EXPECT_EQ("gzip,deflate", get.header("Accept-Encoding"));
    EXPECT_EQ("en-us,en;q=0.5", get.header("Accept-Language"));
    EXPECT_EQ("keep-alive", get.header("Connection"));
    EXPECT_EQ("\"ops.espacenet.com/OpenPatentServices/webService\"", get.header("SOAPAction"));
    EXPECT_TRUE(get.body.empty());
    for (int i : {1, 2}) {
        EXPECT_EQ("POST", log[i].method);
        EXPECT_TRUE(body == log[i].body) << log[i].body.size() << " bytes arrived";
        EXPECT_EQ(std::to_string(body.size()), log[i].header("Content-Length"));
        EXPECT_EQ("text/xml; charset=utf-8", log[i].header("Content-Type"));
        EXPECT_FALSE(log[i].hasHeader("Expect"));
    }
    EXPECT_EQ("GET", log[3].method);
    EXPECT_TRUE(log[3].body.empty());
}

TEST_F(SessionTest, KeepsOneConnectionPerHost) {
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    ASSERT_TRUE(s.Connect(kHost));
    for (int i = 0; i < 3; ++i)
        ASSERT_FALSE(drain(s.Request("/page")).empty());
    ASSERT_TRUE(s.Connect(kHost)); // the same host again keeps the connection
    ASSERT_FALSE(drain(s.Request("/page")).empty());
    ASSERT_TRUE(s.Connect("patimg1.uspto.gov")); // another host closes it
    ASSERT_FALSE(drain(s.Request("/.piw?Docid=05123456&idkey=NONE")).empty());
    auto log = fake.requests();
    ASSERT_EQ(5u, log.size());
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(log[0].connection, log[i].connection);
    EXPECT_NE(log[0].connection, log[4].connection);
}

TEST_F(SessionTest, ExplicitProxyAndItsBypasses) {
    // http_proxy points nowhere: only the session's own setting can reach the fake.
    setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(qvtest::freePort())).c_str(), 1);
    httpSession s(ConnectionType::HttpProxy, "127.0.0.1", wxString::Format("%d", fake.port()), "",
                  "");
    ASSERT_TRUE(s.m_ok);
    ASSERT_TRUE(s.Connect(kHost));
    EXPECT_EQ(bytes(20000), drain(s.Request("/page")));
    ASSERT_EQ(1u, fake.requestCount());

    // A host name without a dot is local: it goes direct (nothing listens on its port 80).
    ASSERT_TRUE(s.Connect("localhost"));
    EXPECT_EQ(nullptr, s.Request("/page"));
    EXPECT_EQ("Error sending request", s.GetError());
    EXPECT_EQ(1u, fake.requestCount());

    // An empty server means no proxy at all, even with http_proxy set to the fake.
    setenv("http_proxy", fake.proxyUrl().c_str(), 1);
    httpSession direct(ConnectionType::HttpProxy, "", "8080", "user", "pass");
    ASSERT_TRUE(direct.m_ok);
    ASSERT_TRUE(direct.Connect("127.0.0.1"));
    EXPECT_EQ(nullptr, direct.Request("/page"));
    EXPECT_EQ("Error sending request", direct.GetError());
    EXPECT_EQ(1u, fake.requestCount());
    // The same request with type 0 does go through the environment's proxy.
    httpSession automatic(ConnectionType::Automatic, "", "", "", "");
    ASSERT_TRUE(automatic.Connect("127.0.0.1"));
    EXPECT_NE("", drain(automatic.Request("/page")));
    EXPECT_EQ(404u, automatic.m_status);
    EXPECT_EQ(2u, fake.requestCount());
}

TEST_F(SessionTest, ProxyCredentialsOnlyWhenGiven) {
    wxString port = wxString::Format("%d", fake.port());
    struct Case {
        const char* user;
        const char* pass;
        const char* header;
    } cases[] = {{"alice", "s3cret", "Basic YWxpY2U6czNjcmV0"},
                 {"alice", "", "Basic YWxpY2U6"},
                 {"", "s3cret", ""},
                 {"", "", ""}};
    for (const Case& c : cases) {
        fake.clearRequests();
        httpSession s(ConnectionType::HttpProxy, "127.0.0.1", port, c.user, c.pass);
        ASSERT_TRUE(s.Connect(kHost));
        ASSERT_FALSE(drain(s.Request("/page")).empty());
        auto log = fake.requests();
        ASSERT_EQ(1u, log.size());
        EXPECT_EQ(c.header, log[0].header("Proxy-Authorization")) << c.user << ":" << c.pass;
    }
}

TEST_F(SessionTest, FailureTextsAndRecovery) {
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    EXPECT_EQ(nullptr, s.Request("/page"));
    EXPECT_EQ("Not Connected", s.GetError());
    ASSERT_TRUE(s.Connect(kHost));

    struct Case {
        Fault fault;
        const char* error;
        uint32_t status; // 0: left as it was
    } cases[] = {
        {Fault::Drop, "Error sending request", 0},
        {Fault::DropMidBody, "Error 18 in WinINetReadData.\n", 200},
        {Fault::ServerAuth, "Server Authentication Error", 401},
        {Fault::ProxyAuth, "Proxy Authentication Error", 407},
        {Fault::EmptyBody, "Empty Stream", 200},
    };
    for (const Case& c : cases) {
        fake.addRule(kHost, "/page", c.fault);
        s.m_status = 1;
        EXPECT_EQ(nullptr, s.Request("/page"));
        EXPECT_EQ(c.error, s.GetError());
        EXPECT_EQ(c.status ? c.status : 1u, s.m_status) << c.error;
        // The session stays usable, and a success does not clear the failure's text.
        EXPECT_EQ(bytes(20000), drain(s.Request("/page")));
        EXPECT_EQ(200u, s.m_status);
        EXPECT_EQ(c.error, s.GetError());
    }

    // Error pages are bodies like any other.
    fake.addRule(kHost, "/page", Fault::Status500);
    EXPECT_NE(std::string::npos, drain(s.Request("/page")).find("500"));
    EXPECT_EQ(500u, s.m_status);
    EXPECT_NE(std::string::npos, drain(s.Request("/missing")).find("Not Found"));
    EXPECT_EQ(404u, s.m_status);

    // Nothing listening at the proxy's address.
    setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(qvtest::freePort())).c_str(), 1);
    httpSession refused(ConnectionType::Direct, "", "", "", "");
    ASSERT_TRUE(refused.Connect(kHost));
    EXPECT_EQ(nullptr, refused.Request("/page"));
    EXPECT_EQ("Error sending request", refused.GetError());
    EXPECT_EQ(0u, refused.m_status);
}

TEST_F(SessionTest, DecodesCompressedAnswers) {
    fake.setCompression(true);
    fake.addUsptoDocument("05123456", {"page one"});
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    ASSERT_TRUE(s.Connect("patimg1.uspto.gov"));
    std::string list = drain(s.Request("/.piw?Docid=05123456&idkey=NONE"));
    EXPECT_NE(std::string::npos, list.find("<!-- NumPages=1 -->"));

    qvfake::Response tiff;
    tiff.contentType = "image/tiff";
    tiff.body = bytes(5000);
    tiff.gzip = true;
    fake.setRoute(kHost, "/packed.tif", tiff);
    ASSERT_TRUE(s.Connect(kHost));
    EXPECT_EQ(bytes(5000), drain(s.Request("/packed.tif")));

    // A body that claims gzip but is not fails instead of handing out garbage.
    qvfake::Response broken;
    broken.body = "this is not gzip";
    broken.headers.emplace_back("Content-Encoding", "gzip");
    fake.setCompression(false);
    fake.setRoute(kHost, "/broken", broken);
    EXPECT_EQ(nullptr, s.Request("/broken"));
    EXPECT_EQ("Error 61 in WinINetReadData.\n", s.GetError());
}

TEST_F(SessionTest, AnswerCeilingCountsDecodedBytes) {
    // 48 MiB of zeros travel as some 50 KB of gzip: the ceiling must stop the inflated bytes.
    qvfake::Response bomb;
    bomb.contentType = "image/tiff";
    bomb.body.assign(size_t(48) << 20, '\0');
    bomb.gzip = true;
    fake.setRoute(kHost, "/bomb.tif", bomb);
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    ASSERT_TRUE(s.Connect(kHost));
    EXPECT_EQ(nullptr, s.Request("/bomb.tif"));
    EXPECT_EQ(
        wxString::Format("Answer too large (more than %zu bytes)", httpSession::kDefaultMaxBody),
        s.GetError());
    // The limit is per session and the session stays usable.
    s.SetMaxBodyBytes(19999);
    EXPECT_EQ(nullptr, s.Request("/page"));
    s.SetMaxBodyBytes(20000);
    EXPECT_EQ(bytes(20000), drain(s.Request("/page")));
}

TEST_F(SessionTest, StalledServerFailsAfterTheStallTimeout) {
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    s.SetTimeouts(5, 1);
    ASSERT_TRUE(s.Connect(kHost));
    fake.addRule(kHost, "/page", Fault::Stall);
    auto start = Clock::now();
    EXPECT_EQ(nullptr, s.Request("/page"));
    EXPECT_EQ("Error sending request", s.GetError());
    fake.addRule(kHost, "/page", Fault::StallMidBody);
    EXPECT_EQ(nullptr, s.Request("/page"));
    EXPECT_EQ("Error 28 in WinINetReadData.\n", s.GetError());
    // Two one-second stalls; generous so a loaded machine does not fail it.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));
    fake.releaseStalls();
}

TEST_F(SessionTest, AbortEndsATransferPromptly) {
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    std::atomic<bool> stop{false};
    s.SetAbortCheck([&] { return stop.load(); });
    ASSERT_TRUE(s.Connect(kHost));
    EXPECT_EQ(bytes(20000), drain(s.Request("/page"))); // asked, answered no

    for (Fault fault : {Fault::Stall, Fault::StallMidBody}) {
        stop = false;
        fake.addRule(kHost, "/page", fault);
        Clock::time_point asked;
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            asked = Clock::now();
            stop = true;
        });
        EXPECT_EQ(nullptr, s.Request("/page"));
        auto ended = Clock::now();
        stopper.join();
        EXPECT_LT(ended - asked, std::chrono::milliseconds(1500));
        EXPECT_EQ(fault == Fault::Stall ? "Error sending request"
                                        : "Error 42 in WinINetReadData.\n",
                  s.GetError());
    }
    fake.releaseStalls();
}

TEST_F(SessionTest, SessionsOnSeveralThreads) {
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            httpSession s(ConnectionType::Automatic, "", "", "", "");
            if (!s.Connect(kHost))
                return;
            for (int i = 0; i < 25; ++i)
                if (drain(s.Request("/page")) == bytes(20000))
                    ++good;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(100, good.load());
}

} // namespace

// HTTPS exchanges against the fake EPO service: verified TLS with the test CA as the extra
// bundle, the proxy from the environment or the session's own as a CONNECT tunnel, custom
// request headers, the answer's headers, the ceiling, and the plain requests unchanged.
#include "fakeService.h"
#include "httpSession.h"
#include "netTestUtil.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <wx/base64.h>

namespace {

const char kToken[] = "https://ops.epo.org/3.2/auth/accesstoken";

class HttpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.ok());
        ops = &fake.enableOps();
        ASSERT_TRUE(ops->ok()) << ops->error();
        nettest::clearProxyEnvironment();
        unsetenv("CURL_CA_BUNDLE");
        unsetenv("SSL_CERT_FILE");
    }
    void TearDown() override {
        nettest::clearProxyEnvironment();
        unsetenv("CURL_CA_BUNDLE");
        unsetenv("SSL_CERT_FILE");
    }
    static std::vector<std::string> TokenHeaders() {
        const std::string pair =
            std::string(qvfake::kOpsSampleKey) + ":" + qvfake::kOpsSampleSecret;
        return {"Authorization: Basic " +
                    std::string(wxBase64Encode(pair.data(), pair.size()).utf8_str()),
                "Content-Type: application/x-www-form-urlencoded"};
    }
    std::vector<qvfake::RecordedRequest> Through(const std::string& server) const {
        std::vector<qvfake::RecordedRequest> out;
        for (const auto& r : fake.requests())
            if (r.server == server)
                out.push_back(r);
        return out;
    }

    qvfake::FakeService fake;
    qvfake::OpsFake* ops = nullptr;
};

TEST_F(HttpsTest, PostWithItsOwnHeadersThroughTheEnvironmentsProxyAndTheExtraBundle) {
    for (const char* bundle : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        for (int type : {0, 1}) {
            SCOPED_TRACE(std::string(bundle) + " type " + std::to_string(type));
            fake.clearRequests();
            unsetenv("CURL_CA_BUNDLE");
            unsetenv("SSL_CERT_FILE");
            setenv(bundle, ops->caBundlePath().c_str(), 1);
            setenv(type == 0 ? "https_proxy" : "HTTPS_PROXY", fake.proxyUrl().c_str(), 1);
            httpSession s(ConnectionTypeOf(type), "127.0.0.1", "1", "", "");
            httpAnswer a;
            ASSERT_TRUE(s.Exchange(kToken, TokenHeaders(), "grant_type=client_credentials", a))
                << s.GetError();
            EXPECT_EQ(a.status, 200);
            EXPECT_NE(a.body.find("\"access_token\""), std::string::npos);
            EXPECT_NE(a.Header("x-throttling-control").find("images=green:"), std::string::npos);
            EXPECT_FALSE(a.Header("X-RegisteredQuotaPerWeek-Used").empty());
            EXPECT_EQ(a.Header("No-Such-Header"), "");

            const auto inside = Through("tls");
            ASSERT_EQ(inside.size(), 1u);
            EXPECT_EQ(inside[0].method, "POST");
            EXPECT_EQ(inside[0].body, "grant_type=client_credentials");
            EXPECT_EQ(inside[0].header("Content-Type"), "application/x-www-form-urlencoded");
            EXPECT_EQ(inside[0].header("Authorization"), TokenHeaders()[0].substr(15));
            // None of the plain requests' fixed block goes to the service.
            EXPECT_FALSE(inside[0].hasHeader("SOAPAction"));
            EXPECT_FALSE(inside[0].hasHeader("Accept-Charset"));
            EXPECT_EQ(Through("connect").size(), 1u);
            unsetenv("https_proxy");
            unsetenv("HTTPS_PROXY");
        }
    }
}

TEST_F(HttpsTest, CertificateIsAlwaysVerified) {
    // Without the test CA the fake's certificate is refused, whatever the proxy.
    setenv("https_proxy", fake.proxyUrl().c_str(), 1);
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    httpAnswer a;
    EXPECT_FALSE(s.Exchange(kToken, TokenHeaders(), "grant_type=client_credentials", a));
    EXPECT_EQ(s.GetError().rfind("Secure Connection Failed", 0), 0u) << s.GetError();
    EXPECT_TRUE(Through("tls").empty());
    // A bundle that does not exist trusts nothing more.
    setenv("CURL_CA_BUNDLE", "/nonexistent/ca.pem", 1);
    httpSession t(ConnectionType::Automatic, "", "", "", "");
    EXPECT_FALSE(t.Exchange(kToken, TokenHeaders(), "grant_type=client_credentials", a));
    EXPECT_TRUE(Through("tls").empty());
}

// A machine without the system's store (no ca-certificates) still trusts the extra bundle,
// and without either the error says what is missing.
TEST_F(HttpsTest, WithoutTheSystemStoreTheExtraBundleAloneIsTrusted) {
    setenv("https_proxy", fake.proxyUrl().c_str(), 1);
    httpAnswer a;
    httpSession bare(ConnectionType::Automatic, "", "", "", "");
    bare.SetSystemCaBundle("/nonexistent/ca-certificates.crt");
    EXPECT_FALSE(bare.Exchange(kToken, TokenHeaders(), "grant_type=client_credentials", a));
    EXPECT_NE(bare.GetError().find("ca-certificates package"), wxString::npos) << bare.GetError();

    setenv("CURL_CA_BUNDLE", ops->caBundlePath().c_str(), 1);
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    s.SetSystemCaBundle("/nonexistent/ca-certificates.crt");
    ASSERT_TRUE(s.Exchange(kToken, TokenHeaders(), "grant_type=client_credentials", a))
        << s.GetError();
    EXPECT_EQ(a.status, 200);
}

TEST_F(HttpsTest, ExplicitProxyCarriesTheTunnelAndItsCredentials) {
    setenv("CURL_CA_BUNDLE", ops->caBundlePath().c_str(), 1);
    // The environment's proxy leads nowhere: only the session's own reaches the service.
    setenv("https_proxy", ("http://127.0.0.1:" + std::to_string(qvtest::freePort())).c_str(), 1);
    httpSession s(ConnectionType::HttpProxy, "127.0.0.1", wxString::Format("%d", fake.port()),
                  "user", "pass word");
    httpAnswer a;
    ASSERT_TRUE(s.Exchange(kToken, TokenHeaders(), "grant_type=client_credentials", a))
        << s.GetError();
    EXPECT_EQ(a.status, 200);
    const auto connect = Through("connect");
    ASSERT_EQ(connect.size(), 1u);
    EXPECT_EQ(connect[0].method, "CONNECT");
    EXPECT_EQ(connect[0].target, "ops.epo.org:443");
    EXPECT_EQ(connect[0].header("Proxy-Authorization"),
              "Basic " + std::string(wxBase64Encode("user:pass word", 14).utf8_str()));
    // The credentials stay outside the tunnel.
    EXPECT_FALSE(Through("tls")[0].hasHeader("Proxy-Authorization"));

    // A second exchange uses the same tunnel.
    ASSERT_TRUE(s.Exchange(kToken, TokenHeaders(), "grant_type=client_credentials", a));
    EXPECT_EQ(Through("connect").size(), 1u);
    EXPECT_EQ(Through("tls").size(), 2u);
}

TEST_F(HttpsTest, StatusesAreAnswersAndCeilingsAndHeaderLinesHold) {
    setenv("CURL_CA_BUNDLE", ops->caBundlePath().c_str(), 1);
    setenv("https_proxy", fake.proxyUrl().c_str(), 1);
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    httpAnswer a;
    // Without a token: the service's 400, an answer with its body and headers.
    ASSERT_TRUE(s.Exchange("https://ops.epo.org/3.2/rest-services/published-data/publication/"
                           "epodoc/EP1/images",
                           {"Accept: application/xml"}, "", a));
    EXPECT_EQ(a.status, 400);
    EXPECT_NE(a.body.find("invalid_access_token"), std::string::npos);
    EXPECT_NE(a.Header("WWW-Authenticate").find("invalid_token"), std::string::npos);
    EXPECT_EQ(s.m_status, 400u);

    s.SetMaxBodyBytes(100);
    EXPECT_FALSE(s.Exchange(kToken, TokenHeaders(), "grant_type=client_credentials", a));
    EXPECT_EQ(s.GetError(), "Answer too large (more than 100 bytes)");

    // A header value that would start another header line is never sent.
    const size_t before = fake.requests().size();
    EXPECT_FALSE(s.Exchange(kToken, {"Authorization: Bearer x\r\nX-Evil: 1"}, "", a));
    EXPECT_EQ(fake.requests().size(), before);
    // Only HTTPS goes this way.
    EXPECT_FALSE(s.Exchange("http://www.quorvane.org/latest.html", {}, "", a));
    EXPECT_EQ(fake.requests().size(), before);
}

TEST_F(HttpsTest, PlainRequestsOfTheSameSessionKeepTheirHeaderBlock) {
    setenv("CURL_CA_BUNDLE", ops->caBundlePath().c_str(), 1);
    setenv("https_proxy", fake.proxyUrl().c_str(), 1);
    setenv("http_proxy", fake.proxyUrl().c_str(), 1);
    qvfake::Response page;
    page.body = "plain";
    fake.setRoute("www.quorvane.org", "/page", page);
    httpSession s(ConnectionType::Automatic, "", "", "", "");
    httpAnswer a;
    ASSERT_TRUE(s.Exchange(kToken, TokenHeaders(), "grant_type=client_credentials", a));
    ASSERT_TRUE(s.Connect("www.quorvane.org"));
    EXPECT_EQ(nettest::drain(s.Request("/page")), "plain");
    const auto plain = Through("http");
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].method, "GET");
    EXPECT_EQ(plain[0].header("Accept-Charset"), "ISO-8859-1,utf-8;q=0.7,*;q=0.7");
    EXPECT_FALSE(plain[0].hasHeader("Authorization"));
    EXPECT_TRUE(plain[0].body.empty());
}

} // namespace

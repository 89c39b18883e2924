// The part of the Windows proxy choice that needs no registry: reading the system's proxy
// list and bypass list for one request.
#include "systemProxy.h"

#include <gtest/gtest.h>

namespace {

std::string Choose(const std::string& list, const std::string& bypass, bool https,
                   const std::string& host) {
    std::string proxy = "unset";
    if (!ProxyFromList(list, bypass, https, host, &proxy))
        return "none";
    return proxy;
}

TEST(ProxyListTest, OneProxyServesEveryScheme) {
    EXPECT_EQ(Choose("proxy.corp:8080", "", true, "ops.epo.org"), "proxy.corp:8080");
    EXPECT_EQ(Choose("http://proxy.corp:8080/", "", false, "ops.epo.org"), "proxy.corp:8080");
}

TEST(ProxyListTest, PerSchemeEntriesAreChosenByScheme) {
    const std::string list = "http=web.corp:80;https=secure.corp:443 ftp=files.corp:21";
    EXPECT_EQ(Choose(list, "", true, "ops.epo.org"), "secure.corp:443");
    EXPECT_EQ(Choose(list, "", false, "ops.epo.org"), "web.corp:80");
    EXPECT_EQ(Choose("ftp=files.corp:21", "", true, "ops.epo.org"), "none");
    EXPECT_EQ(Choose("", "", true, "ops.epo.org"), "none");
    // An entry for this scheme comes before one for every scheme.
    EXPECT_EQ(Choose("all.corp:1;HTTPS=secure.corp:2", "", true, "x.org"), "secure.corp:2");
}

TEST(ProxyListTest, BypassPatternsGoDirect) {
    const std::string bypass = "*.intranet.corp; 10.*;<local>";
    EXPECT_EQ(Choose("p:1", bypass, true, "docs.INTRANET.corp"), "");
    EXPECT_EQ(Choose("p:1", bypass, true, "10.1.2.3"), "");
    EXPECT_EQ(Choose("p:1", bypass, true, "fileserver"), "");
    EXPECT_EQ(Choose("p:1", bypass, true, "ops.epo.org"), "p:1");
    EXPECT_EQ(Choose("p:1", bypass, true, "intranet.corp.example.org"), "p:1");
}

// Linux has no system proxy settings: http_proxy and https_proxy decide, through libcurl.
TEST(ProxyListTest, LinuxLeavesTheChoiceToTheEnvironment) {
    std::string proxy = "unchanged";
    EXPECT_FALSE(SystemProxyFor(true, "ops.epo.org", &proxy));
    EXPECT_EQ(proxy, "unchanged");
}

} // namespace

// The fake EPO OPS service, reached as the program reaches the live one: libcurl through the
// fake as HTTPS proxy (CONNECT, then TLS verified against the fake's test CA).
#include "fakeService.h"
#include "fixtures.h"
#include "netTestUtil.h"
#include "testutil.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

namespace {

const char* const kHost = "https://ops.epo.org";
const char* const kImages = "/3.2/rest-services/published-data/images/";
const char* const kDocdb = "/3.2/rest-services/published-data/publication/docdb/";
const char* const kEpodoc = "/3.2/rest-services/published-data/publication/epodoc/";

struct Answer {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;

    std::vector<std::string> values(const std::string& name) const {
        std::vector<std::string> out;
        for (const auto& h : headers)
            if (strcasecmp(h.first.c_str(), name.c_str()) == 0)
                out.push_back(h.second);
        return out;
    }
    std::string header(const std::string& name) const {
        std::vector<std::string> v = values(name);
        return v.empty() ? std::string() : v[0];
    }
};

size_t collectBody(char* data, size_t size, size_t count, void* user) {
    static_cast<Answer*>(user)->body.append(data, size * count);
    return size * count;
}

size_t collectHeader(char* data, size_t size, size_t count, void* user) {
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    size_t colon = line.find(':');
    if (colon != std::string::npos && line.compare(0, 5, "HTTP/") != 0) {
        size_t start = line.find_first_not_of(' ', colon + 1);
        static_cast<Answer*>(user)->headers.emplace_back(
            line.substr(0, colon), start == std::string::npos ? "" : line.substr(start));
    }
    return size * count;
}

struct CurlFree {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using CurlPtr = std::unique_ptr<CURL, CurlFree>;

std::string jsonString(const std::string& json, const std::string& key) {
    const std::string open = "\"" + key + "\": \"";
    size_t start = json.find(open);
    if (start == std::string::npos)
        return std::string();
    start += open.size();
    return json.substr(start, json.find('"', start) - start);
}

// The single strip of a TIFF and what its tags say, read with libtiff.
struct TiffFacts {
    bool ok = false;
    bool bigEndian = false;
    uint32_t width = 0, height = 0, strips = 0;
    uint16_t compression = 0, resolutionUnit = 0;
    float xResolution = 0, yResolution = 0;
    bool hasBitsPerSample = false, hasFillOrder = false;
    std::string strip;
};

TiffFacts tiffFacts(const std::string& bytes, const std::string& folder) {
    TiffFacts f;
    const std::string path = folder + "/facts.tif";
    if (!qvtest::writeFile(path, bytes))
        return f;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return f;
    uint16_t u16 = 0;
    f.bigEndian = TIFFIsBigEndian(tif);
    f.ok = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f.width) == 1 &&
           TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f.height) == 1 &&
           TIFFGetField(tif, TIFFTAG_COMPRESSION, &f.compression) == 1 &&
           TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &f.resolutionUnit) == 1 &&
           TIFFGetField(tif, TIFFTAG_XRESOLUTION, &f.xResolution) == 1 &&
           TIFFGetField(tif, TIFFTAG_YRESOLUTION, &f.yResolution) == 1;
    f.hasBitsPerSample = TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &u16) == 1;
    f.hasFillOrder = TIFFGetField(tif, TIFFTAG_FILLORDER, &u16) == 1;
    f.strips = TIFFNumberOfStrips(tif);
    uint64_t* counts = nullptr;
    if (f.strips == 1 && TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) == 1) {
        f.strip.resize(size_t(counts[0]));
        TIFFReadRawStrip(tif, 0, &f.strip[0], tmsize_t(f.strip.size()));
    }
    TIFFClose(tif);
    return f;
}

class OpsFakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.ok());
        ASSERT_TRUE(ops.ok()) << ops.error();
        nettest::clearProxyEnvironment();
    }

    // One request through the fake as proxy; certificates verified (peer and host) against
    // the test CA unless trustTestCa is false.
    Answer request(const std::string& url, std::vector<std::string> headers = {},
                   const std::string* post = nullptr, CURL* reuse = nullptr,
                   bool trustTestCa = true) {
        CurlPtr own(reuse ? nullptr : curl_easy_init());
        CURL* h = reuse ? reuse : own.get();
        Answer a;
        struct curl_slist* list = nullptr;
        for (const std::string& line : headers)
            list = curl_slist_append(list, line.c_str());
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_PROXY, fake.proxyUrl().c_str());
        curl_easy_setopt(h, CURLOPT_CAINFO,
                         trustTestCa ? ops.caBundlePath().c_str()
                                     : "/etc/ssl/certs/ca-certificates.crt");
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_TIMEOUT, 30L);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, list);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collectBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &a);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collectHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &a);
        if (post) {
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, post->c_str());
        } else {
            curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        }
        a.code = curl_easy_perform(h);
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &a.status);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(list);
        return a;
    }

    Answer askToken(const std::string& key, const std::string& secret,
                    const std::string& body = "grant_type=client_credentials") {
        CurlPtr h(curl_easy_init());
        curl_easy_setopt(h.get(), CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(h.get(), CURLOPT_USERNAME, key.c_str());
        curl_easy_setopt(h.get(), CURLOPT_PASSWORD, secret.c_str());
        return request(std::string(kHost) + "/3.2/auth/accesstoken",
                       {"Content-Type: application/x-www-form-urlencoded"}, &body, h.get());
    }

    std::string token() {
        Answer a = askToken(qvfake::kOpsSampleKey, qvfake::kOpsSampleSecret);
        return a.status == 200 ? jsonString(a.body, "access_token") : std::string();
    }

    Answer get(const std::string& path, const std::string& bearer, CURL* reuse = nullptr,
               const std::string& accept = "") {
        std::vector<std::string> headers = {"Authorization: Bearer " + bearer};
        if (!accept.empty())
            headers.push_back("Accept: " + accept);
        return request(kHost + path, headers, nullptr, reuse);
    }

    static std::string page(const std::string& link, const std::string& format, int range) {
        return "/3.2/rest-services/" + link + "." + format + "?Range=" + std::to_string(range);
    }

    // Small pages keep the tests quick; the served form is the same at any size.
    static std::vector<std::string> smallPages(int count, unsigned seed = 1) {
        std::vector<std::string> out;
        for (int i = 0; i < count; ++i)
            out.push_back(qvfake::opsPage(seed + unsigned(i), 400, 560));
        return out;
    }

    qvfake::FakeService fake;
    qvfake::OpsFake& ops = fake.enableOps();
    qvtest::TempDir dir{"qv-ops"};
};

TEST_F(OpsFakeTest, TunnelIsVerifiedAndOnlyForOps) {
    // The test CA makes verification pass; the system's CAs do not know it.
    CurlPtr h(curl_easy_init());
    curl_easy_setopt(h.get(), CURLOPT_CERTINFO, 1L);
    Answer ok = request(std::string(kHost) + "/3.2/", {}, nullptr, h.get());
    EXPECT_EQ(ok.code, CURLE_OK) << curl_easy_strerror(ok.code);
    EXPECT_EQ(ok.status, 400); // no token
    long verified = -1;
    curl_easy_getinfo(h.get(), CURLINFO_SSL_VERIFYRESULT, &verified);
    EXPECT_EQ(verified, 0);
    // The server's certificate names the two hosts behind the tunnels, and only those.
    struct curl_certinfo* chain = nullptr;
    curl_easy_getinfo(h.get(), CURLINFO_CERTINFO, &chain);
    ASSERT_TRUE(chain && chain->num_of_certs >= 1);
    std::string names;
    for (curl_slist* field = chain->certinfo[0]; field; field = field->next)
        if (std::strstr(field->data, "Subject Alternative Name"))
            names = field->data;
    EXPECT_EQ(names.substr(names.find(':') + 1), "DNS:ops.epo.org, DNS:ppubs.uspto.gov");
    Answer untrusted = request(std::string(kHost) + "/3.2/", {}, nullptr, nullptr, false);
    EXPECT_EQ(untrusted.code, CURLE_PEER_FAILED_VERIFICATION);

    // Other hosts and ports are refused at CONNECT.
    for (const char* url : {"https://example.com/", "https://ops.epo.org:8443/3.2/"}) {
        Answer refused = request(url);
        EXPECT_EQ(refused.code, CURLE_RECV_ERROR) << url;
    }
    std::vector<qvfake::RecordedRequest> log = fake.requests();
    int refusedConnects = 0;
    for (const auto& r : log)
        if (r.method == "CONNECT" && r.status == 403)
            ++refusedConnects;
    EXPECT_EQ(refusedConnects, 2);

    // The plain proxy still answers on the same port, next to the tunnels.
    Answer plain = request("http://www.quorvane.org/latest.html");
    EXPECT_EQ(plain.status, 200);
    EXPECT_EQ(plain.body, "21\n");
}

TEST_F(OpsFakeTest, TokensGrantedAndRefused) {
    ops.setTokenLifetime(std::chrono::seconds(2));
    Answer granted = askToken(qvfake::kOpsSampleKey, qvfake::kOpsSampleSecret);
    ASSERT_EQ(granted.status, 200);
    EXPECT_EQ(granted.header("Content-Type"), "application/json");
    EXPECT_EQ(jsonString(granted.body, "expires_in"), "2");
    EXPECT_EQ(jsonString(granted.body, "token_type"), "BearerToken");
    EXPECT_EQ(jsonString(granted.body, "status"), "approved");
    const std::string token = jsonString(granted.body, "access_token");
    EXPECT_GE(token.size(), 20u);
    // The request itself carried the Basic credentials, as the fake saw them.
    std::vector<qvfake::RecordedRequest> log = fake.requests();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().server, "tls");
    EXPECT_EQ(log.back().method, "POST");
    EXPECT_EQ(log.back().header("Authorization").compare(0, 6, "Basic "), 0);

    Answer wrongSecret = askToken(qvfake::kOpsSampleKey, "guess");
    EXPECT_EQ(wrongSecret.status, 401);
    EXPECT_NE(wrongSecret.body.find("invalid_client"), std::string::npos);
    Answer wrongGrant = askToken(qvfake::kOpsSampleKey, qvfake::kOpsSampleSecret, "grant_type=x");
    EXPECT_EQ(wrongGrant.status, 400);

    ops.setKeys({{"alice", "s3cret"}});
    EXPECT_EQ(askToken(qvfake::kOpsSampleKey, qvfake::kOpsSampleSecret).status, 401);
    EXPECT_EQ(askToken("alice", "s3cret").status, 200);

    qvfake::OpsStats stats = ops.stats();
    EXPECT_EQ(stats.tokenRequests, 5);
    EXPECT_EQ(stats.tokensIssued, 2);
    EXPECT_EQ(ops.tokens().size(), 2u);
    EXPECT_EQ(ops.tokens().front(), token);
}

TEST_F(OpsFakeTest, InvalidTokenAnswerShape) {
    ops.addPublication(qvfake::opsPublication("EP", "1000000", "A1", smallPages(1)));
    const std::string inquiry = std::string(kDocdb) + "EP.1000000.A1/images";
    ops.setTokenUses(2);
    const std::string token = this->token();
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(get(inquiry, token).status, 200);
    EXPECT_EQ(get(inquiry, token).status, 200);

    // Used up, unknown, missing, and expired by time: the same 400 answer each time.
    Answer usedUp = get(inquiry, token);
    Answer unknown = get(inquiry, "not" + token);
    Answer none = request(kHost + inquiry);
    ops.setTokenUses(0);
    ops.setTokenLifetime(std::chrono::seconds(1));
    const auto issued = std::chrono::steady_clock::now();
    const std::string shortLived = this->token();
    ASSERT_FALSE(shortLived.empty());
    EXPECT_EQ(get(inquiry, shortLived).status, 200);
    qvtest::waitFor(
        [&] { return std::chrono::steady_clock::now() > issued + std::chrono::milliseconds(1100); },
        std::chrono::seconds(5));
    Answer expired = get(inquiry, shortLived);
    for (const Answer* a : {&usedUp, &unknown, &none, &expired}) {
        EXPECT_EQ(a->status, 400);
        EXPECT_EQ(a->header("Content-Type"), "application/xml");
        EXPECT_EQ(a->header("WWW-Authenticate"),
                  "Bearer realm=\"null\",error=\"invalid_token\",error_description=\"oauth.v2."
                  "InvalidAccessToken: Invalid access token\"");
        const std::string start = "<error><code>400</code><message>invalid_access_token</message>"
                                  "<description>Access token is invalid</description>";
        EXPECT_EQ(a->body.compare(0, start.size(), start), 0) << a->body;
        const std::string rest = a->body.substr(std::min(start.size(), a->body.size()));
        EXPECT_EQ(rest.find_first_not_of(" \t\r\n"), rest.find("</error>"));
        EXPECT_EQ(a->body.size() - rest.find("</error>") - start.size(), 8u);
    }
    EXPECT_EQ(ops.stats().invalidTokenAnswers, 4);

    // expireTokens ends every token at once; a new one works.
    const std::string fresh = this->token();
    ops.expireTokens();
    EXPECT_EQ(get(inquiry, fresh).status, 400);
    EXPECT_EQ(get(inquiry, this->token()).status, 200);
}

TEST_F(OpsFakeTest, InquiryReproducesTheRecording) {
    // The recorded WO 2010/050748 A2, configured instance by instance, comes back byte for
    // byte (sections out of page order, stylesheet line, namespaces).
    qvfake::OpsPublication wo{"WO", "2010050748", "A2", {}};
    qvfake::OpsInstance full, drawing, clip;
    full.link = "published-data/images/WO/2010050748/A2/fullimage";
    full.announcedPages = 12;
    full.sections = {
        {"ABSTRACT", 1}, {"BIBLIOGRAPHY", 1}, {"CLAIMS", 7}, {"DESCRIPTION", 3}, {"DRAWINGS", 8}};
    drawing.desc = "Drawing";
    drawing.link = "published-data/images/WO/2010050748/A2/thumbnail";
    drawing.announcedPages = 5;
    drawing.sections = {{"DRAWINGS", 1}};
    clip.desc = "FirstPageClipping";
    clip.link = "published-data/images/WO/2010050748/PA/firstpage";
    clip.announcedPages = 1;
    clip.sections = {{"ABSTRACT", 1}, {"BIBLIOGRAPHY", 1}};
    clip.formats = {"application/pdf", "application/tiff", "image/jpeg", "image/png"};
    wo.instances = {full, drawing, clip};
    ops.addPublication(wo);

    const std::string token = this->token();
    Answer a = get(std::string(kDocdb) + "WO.2010050748.A2/images", token);
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.header("Content-Type"), "application/xml");
    const std::string recorded = qvfake::opsSample("inquiry-WO2010050748A2.xml");
    ASSERT_FALSE(recorded.empty()) << qvfake::opsSamplesDir();
    EXPECT_EQ(a.body, recorded);

    Answer unknown = get(std::string(kDocdb) + "WO.2010050748.A1/images", token);
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.body,
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
              "<fault xmlns=\"http://ops.epo.org\">\n    <code>SERVER.EntityNotFound</code>\n"
              "    <message>No results found</message>\n</fault>\n");
}

TEST_F(OpsFakeTest, InquiryShapes) {
    const std::vector<std::string> pages = smallPages(5);
    auto a1 = qvfake::opsPublication("EP", "2400812", "A1", pages, {pages[4]});
    auto b1 = qvfake::opsPublication("EP", "2400812", "B1", {pages[0], pages[1]});
    auto us = qvfake::opsPublication("US", "5123456", "A", pages);
    us.instances.push_back(qvfake::opsCertificateOfCorrection("5123456", {pages[0]}));
    ops.addPublication(a1);
    ops.addPublication(b1);
    ops.addPublication(us);
    ops.addPublication(qvfake::opsSearchReport("EP", "1000000", "A3", {pages[0], pages[1]}));
    const std::string token = this->token();

    struct Case {
        std::string path;
        int results;
        std::vector<std::string> links; // in order
        std::string sections;           // of the first instance, in order
    };
    const std::vector<Case> cases = {
        {std::string(kEpodoc) + "EP2400812/images",
         2,
         {"published-data/images/EP/2400812/A1/fullimage",
          "published-data/images/EP/2400812/A1/thumbnail",
          "published-data/images/EP/2400812/PA/firstpage",
          "published-data/images/EP/2400812/B1/fullimage",
          "published-data/images/EP/2400812/PA/firstpage"},
         "ABSTRACT:1 BIBLIOGRAPHY:1 CLAIMS:4 DESCRIPTION:2 DRAWINGS:4 "},
        {std::string(kDocdb) + "US.5123456.A/images",
         1,
         {"published-data/images/US/5123456/A/fullimage",
          "published-data/images/US/5123456/PA/firstpage",
          "published-data/images/US/5123456/X6/fullimage"},
         "ABSTRACT:1 BIBLIOGRAPHY:1 CLAIMS:4 DESCRIPTION:2 "},
        {std::string(kDocdb) + "EP.1000000.A3/images",
         1,
         {"published-data/images/EP/1000000/A3/fullimage",
          "published-data/images/EP/1000000/PA/firstpage"},
         "SEARCH_REPORT:1 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Answer a = get(c.path, token);
        ASSERT_EQ(a.status, 200);
        const std::string file = dir.file("inquiry.xml");
        ASSERT_TRUE(qvtest::writeFile(file, a.body));
        // Well-formed, and read by name with an independent parser.
        EXPECT_EQ(qvtest::runCommand("xmllint --noout '" + file + "' 2>&1"), 0);
        std::string out;
        qvtest::runCommand(
            "xmllint --xpath \"count(//*[local-name()='inquiry-result'])\" '" + file + "'", &out);
        EXPECT_EQ(out, std::to_string(c.results) + "\n");
        out.clear();
        qvtest::runCommand(
            "xmllint --xpath \"//*[local-name()='document-instance']/@link\" '" + file + "'", &out);
        std::string expected;
        for (const std::string& link : c.links)
            expected += " link=\"" + link + "\"\n";
        EXPECT_EQ(out, expected);
        out.clear();
        qvtest::runCommand("xmllint --xpath \"(//*[local-name()='document-instance'])[1]/*[local-"
                           "name()='document-section']\" '" +
                               file +
                               "' | sed 's/.*name=\"\\([A-Z_]*\\)\" "
                               "start-page=\"\\([0-9]*\\)\".*/\\1:\\2/' | tr '\\n' ' '",
                           &out);
        EXPECT_EQ(out, c.sections);
    }
    // The certificate of correction is an AMENDMENT-only FullDocument.
    Answer usAnswer = get(std::string(kDocdb) + "US.5123456.A/images", token);
    EXPECT_NE(usAnswer.body.find("number-of-pages=\"1\" desc=\"FullDocument\" "
                                 "link=\"published-data/images/US/5123456/X6/fullimage\">\n"
                                 "                <ops:document-format-options>"),
              std::string::npos);
}

TEST_F(OpsFakeTest, PagesAsTiffAndPdf) {
    std::vector<std::string> pages = smallPages(2);
    pages.push_back(qvfake::opsLandscapePage(7, 560, 400));
    const std::string real = qvfake::opsSample("EP2400812A1-fullimage-p1.tiff");
    ASSERT_FALSE(real.empty()) << qvfake::opsSamplesDir();
    pages.push_back(real);
    auto pub = qvfake::opsPublication("EP", "2400812", "A1", pages);
    pub.instances[0].rotate = {0, 0, 90, 0};
    ops.addPublication(pub);
    const std::string link = pub.instances[0].link;
    const std::string token = this->token();
    CurlPtr connection(curl_easy_init());

    for (int n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        Answer tiff = get(page(link, "tiff", n), token, connection.get());
        ASSERT_EQ(tiff.status, 200);
        EXPECT_EQ(tiff.header("Content-Type"), "image/tiff");
        EXPECT_EQ(tiff.body, pages[size_t(n - 1)]);
        TiffFacts f = tiffFacts(tiff.body, dir.path());
        ASSERT_TRUE(f.ok);
        EXPECT_TRUE(f.bigEndian);
        EXPECT_EQ(f.compression, COMPRESSION_CCITTFAX4);
        EXPECT_EQ(f.strips, 1u);
        EXPECT_EQ(f.resolutionUnit, RESUNIT_CENTIMETER);
        EXPECT_NEAR(f.xResolution, 123.429, 0.001);
        EXPECT_NEAR(f.yResolution, 118.114, 0.001);
        EXPECT_FALSE(f.hasBitsPerSample);
        EXPECT_FALSE(f.hasFillOrder);

        Answer pdf = get(page(link, "pdf", n), token, connection.get());
        ASSERT_EQ(pdf.status, 200);
        EXPECT_EQ(pdf.header("Content-Type"), "application/pdf");
        const std::string file = dir.file("page" + std::to_string(n) + ".pdf");
        ASSERT_TRUE(qvtest::writeFile(file, pdf.body));
        std::string out;
        EXPECT_EQ(qvtest::runCommand("qpdf --check '" + file + "' 2>&1", &out), 0) << out;
        // The page's only image and its stream, as qpdf reads them.
        out.clear();
        qvtest::runCommand("qpdf --show-pages --with-images '" + file + "'", &out);
        size_t im = out.find("/Im0: ");
        ASSERT_NE(im, std::string::npos) << out;
        size_t images = 0;
        for (size_t at = out.find(" 0 R, "); at != std::string::npos;
             at = out.find(" 0 R, ", at + 1))
            ++images;
        EXPECT_EQ(images, 1u) << out;
        const std::string object = out.substr(im + 6, out.find(' ', im + 6) - im - 6);
        const size_t pageAt = out.find("page 1: ");
        ASSERT_NE(pageAt, std::string::npos) << out;
        const std::string pageObject =
            out.substr(pageAt + 8, out.find(' ', pageAt + 8) - pageAt - 8);
        std::string dict, raw, pageDict;
        qvtest::runCommand("qpdf --show-object=" + object + " '" + file + "'", &dict);
        qvtest::runCommand("qpdf --show-object=" + object + " --raw-stream-data '" + file + "'",
                           &raw);
        qvtest::runCommand("qpdf --show-object=" + pageObject + " '" + file + "'", &pageDict);
        EXPECT_NE(dict.find("/Filter /CCITTFaxDecode"), std::string::npos) << dict;
        EXPECT_NE(dict.find("/DecodeParms << /Columns " + std::to_string(f.width) +
                            " /K -1 /Rows " + std::to_string(f.height) + " >>"),
                  std::string::npos)
            << dict;
        EXPECT_EQ(raw, f.strip);
        const bool landscape = f.width > f.height;
        EXPECT_NE(
            pageDict.find(landscape ? "/MediaBox [ 0 0 842 595 ]" : "/MediaBox [ 0 0 595 842 ]"),
            std::string::npos)
            << pageDict;
        EXPECT_NE(pageDict.find(n == 3 ? "/Rotate 90" : "/Rotate 0"), std::string::npos)
            << pageDict;
    }

    // Page 1 drawn by poppler is the TIFF decoded by libtiff, pixel for pixel.
    qvfix::Bitmap fromTiff, fromPdf;
    ASSERT_TRUE(qvfix::decodeTiff(pages[0], fromTiff));
    ASSERT_TRUE(qvfix::renderPdfPage(dir.file("page1.pdf"), 1, 400, 560, fromPdf));
    EXPECT_GT(fromTiff.BlackPixels(), 1000u);
    EXPECT_EQ(fromPdf.Differences(fromTiff), 0u);

    // By Accept instead of a suffix; the Range past the end and 0 are not found.
    Answer byAccept =
        get("/3.2/rest-services/" + link + "?Range=2", token, connection.get(), "application/pdf");
    EXPECT_EQ(byAccept.body.compare(0, 5, "%PDF-"), 0);
    for (int bad : {0, 5}) {
        Answer past = get(page(link, "tiff", bad), token, connection.get());
        EXPECT_EQ(past.status, 404);
        EXPECT_NE(past.body.find("<code>SERVER.EntityNotFound</code>"), std::string::npos);
    }
    // All of it went over one tunnel.
    int connects = 0;
    for (const auto& r : fake.requests())
        connects += r.method == "CONNECT";
    EXPECT_EQ(connects, 2); // the token's handle, then the pages'
}

TEST_F(OpsFakeTest, ServedPagesFromAnyBilevelTiff) {
    struct Case {
        const char* what;
        qvfix::Coding coding;
        int fillOrder;
        bool bigEndian;
        int photometric;
    };
    const Case cases[] = {
        {"Group 4", qvfix::Coding::Group4, 1, false, 0},
        {"Group 3 2D, LSB first", qvfix::Coding::Group3_2D, 2, false, 0},
        {"Group 3 1D, big-endian", qvfix::Coding::Group3_1D, 1, true, 0},
        {"uncompressed BlackIsZero", qvfix::Coding::None, 1, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qvfix::FixtureOptions o;
        o.width = 330;
        o.height = 210;
        o.coding = c.coding;
        o.fillOrder = c.fillOrder;
        o.bigEndian = c.bigEndian;
        o.photometric = c.photometric;
        const std::string source = qvfix::makeTiff(o);
        std::string error;
        const std::string served = qvfake::opsPageFromTiff(source, &error);
        ASSERT_FALSE(served.empty()) << error;
        EXPECT_EQ(served.compare(0, 4, std::string("MM\0*", 4)), 0);
        qvfix::Bitmap a, b;
        ASSERT_TRUE(qvfix::decodeTiff(source, a));
        ASSERT_TRUE(qvfix::decodeTiff(served, b));
        EXPECT_EQ(a.Differences(b), 0u);
    }
    std::string error;
    EXPECT_TRUE(qvfake::opsPageFromTiff("II*\0garbage", &error).empty());
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(qvfake::opsPagePdf("not a tiff").empty());
}

TEST_F(OpsFakeTest, ThrottlingHeadersAndAllowance) {
    qvfake::OpsThrottle tight;
    tight.images = 4;
    ops.setThrottle(tight);
    ops.addPublication(qvfake::opsPublication("EP", "1000000", "A1", smallPages(1)));
    const std::string token = this->token();
    const std::string p1 = page("published-data/images/EP/1000000/A1/fullimage", "tiff", 1);

    // Lights follow the use of the allowance in the minute: 1/4 green, 2/4 yellow, 3/4
    // yellow, 4/4 red; the fifth is refused.
    const char* lights[] = {"green", "yellow", "yellow", "red"};
    uint64_t week = 0;
    for (const char* light : lights) {
        Answer a = get(p1, token);
        EXPECT_EQ(a.status, 200);
        EXPECT_EQ(a.header("X-Throttling-Control"),
                  "idle (images=" + std::string(light) +
                      ":4, inpadoc=green:60, other=green:1000, retrieval=green:200, "
                      "search=green:30)");
        // The quota headers grow by each answer's size.
        const uint64_t now = std::stoull(a.header("X-RegisteredQuotaPerWeek-Used"));
        if (week) {
            EXPECT_EQ(now - week, a.body.size());
        }
        week = now;
        EXPECT_EQ(a.header("X-IndividualQuotaPerHour-Used"),
                  a.header("X-RegisteredQuotaPerWeek-Used"));
    }
    Answer refused = get(p1, token);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.header("X-Rejection-Reason"), "ThrottlingControlQuota");
    const long retry = std::stol(refused.header("Retry-After"));
    EXPECT_GT(retry, 50000);
    EXPECT_LE(retry, 60000);
    EXPECT_NE(refused.header("X-Throttling-Control").find("images=black:4"), std::string::npos);
    EXPECT_EQ(ops.stats().throttleRejections, 1);
    // Other services keep their own count.
    EXPECT_EQ(get(std::string(kDocdb) + "EP.1000000.A1/images", token).status, 200);
    EXPECT_EQ(ops.stats().throttleRejections, 1);

    // Flapping: answers alternate; the smallest allowance of the last minute is enforced.
    qvfake::OpsThrottle idle, busy = qvfake::opsBusy();
    busy.retrieval = 3;
    ops.setThrottleCycle({idle, busy});
    std::vector<std::string> states;
    int refusedInquiries = 0;
    for (int i = 0; i < 4; ++i) {
        Answer a = get(std::string(kDocdb) + "EP.1000000.A1/images", token);
        states.push_back(a.header("X-Throttling-Control").substr(0, 4));
        refusedInquiries += a.status == 403;
    }
    EXPECT_EQ(states, (std::vector<std::string>{"idle", "busy", "idle", "busy"}));
    // One before, then two allowed under busy's 3: the third and fourth are refused.
    EXPECT_EQ(refusedInquiries, 2);
    EXPECT_EQ(ops.stats().throttleRejections, 3);
}

TEST_F(OpsFakeTest, ScriptedFaults) {
    ops.addPublication(qvfake::opsPublication("EP", "1000000", "A1", smallPages(3)));
    const std::string link = "published-data/images/EP/1000000/A1/fullimage";
    std::string token = this->token();
    ASSERT_FALSE(token.empty());

    qvfake::OpsFaultOptions retry;
    retry.retryAfterMs = 180000;
    qvfake::OpsFaultOptions json;
    json.json = true;
    qvfake::OpsFaultOptions doubled;
    doubled.throttle = qvfake::opsOverloaded();
    doubled.throttle.lights = {{"images", "red"}};
    qvfake::OpsFaultOptions html;
    html.contentType = "text/html";
    struct Case {
        const char* what;
        qvfake::OpsFault fault;
        qvfake::OpsFaultOptions options;
        long status;
        std::string header; // name=value expected ("" none)
        std::string bodyHas;
    };
    const std::vector<Case> cases = {
        {"black light", qvfake::OpsFault::BlackLight, retry, 403, "Retry-After=180000", "Fair Use"},
        {"hour quota",
         qvfake::OpsFault::HourQuota,
         {},
         403,
         "X-Rejection-Reason=IndividualQuotaPerHour",
         "<error><code>403</code>"},
        {"week quota, JSON", qvfake::OpsFault::WeekQuota, json, 403,
         "X-Rejection-Reason=RegisteredQuotaPerWeek", "{\"error\":{\"code\":\"403\""},
        {"domain access",
         qvfake::OpsFault::DomainAccess,
         {},
         500,
         "Content-Type=application/xml",
         "<code>SERVER.DomainAccess</code>"},
        {"invalid token",
         qvfake::OpsFault::InvalidToken,
         {},
         400,
         "Content-Type=application/xml",
         "invalid_access_token"},
        {"no throttle header",
         qvfake::OpsFault::NoThrottleHeader,
         {},
         200,
         "X-Throttling-Control=",
         "MM"},
        {"doubled header", qvfake::OpsFault::DoubledThrottleHeader, doubled, 200,
         "X-Throttling-Control=idle (images=green:200, inpadoc=green:60, other=green:1000, "
         "retrieval=green:200, search=green:30), overloaded (images=red:50, inpadoc=green:10, "
         "other=green:250, retrieval=green:50, search=green:5)",
         "MM"},
        {"wrong type", qvfake::OpsFault::WrongContentType, html, 200, "Content-Type=text/html",
         "MM"},
    };
    const std::string p2 = page(link, "tiff", 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ops.addRule("fullimage.tiff?Range=2", c.fault, 1, c.options);
        Answer other = get(page(link, "tiff", 1), token); // the rule is not for this one
        EXPECT_EQ(other.status, 200);
        Answer a = get(p2, token);
        EXPECT_EQ(a.status, c.status);
        const size_t eq = c.header.find('=');
        EXPECT_EQ(a.header(c.header.substr(0, eq)), c.header.substr(eq + 1));
        EXPECT_NE(a.body.find(c.bodyHas), std::string::npos) << a.body.substr(0, 200);
        if (c.fault == qvfake::OpsFault::BlackLight) {
            EXPECT_NE(a.header("X-Throttling-Control").find("images=black:"), std::string::npos);
        }
        Answer again = get(p2, token); // once only
        EXPECT_EQ(again.status, 200);
        EXPECT_EQ(again.header("Content-Type"), "image/tiff");
    }
    EXPECT_EQ(ops.stats().scriptedFaults, int(cases.size()));
    EXPECT_EQ(ops.stats().throttleRejections, 0);

    // The token dies in the middle of the document: page 3 is refused until a new token,
    // then the same page is asked again.
    ops.addRule("Range=3", qvfake::OpsFault::ExpireToken);
    EXPECT_EQ(get(page(link, "tiff", 3), token).status, 400);
    EXPECT_EQ(get(page(link, "tiff", 1), token).status, 400);
    token = this->token();
    EXPECT_EQ(get(page(link, "tiff", 3), token).status, 200);
    std::vector<std::string> ranges;
    for (const auto& r : fake.requests())
        if (r.server == "tls" && r.path.find("Range=3") != std::string::npos)
            ranges.push_back(std::to_string(r.status) + " " + r.header("Authorization").substr(7));
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[1], "200 " + token);
    EXPECT_EQ(ops.tokens().size(), 2u);
}

TEST_F(OpsFakeTest, ConnectionFaultsInsideTheTunnel) {
    ops.addPublication(qvfake::opsPublication("EP", "1000000", "A1", smallPages(2)));
    const std::string token = this->token();
    const std::string p1 = page("published-data/images/EP/1000000/A1/fullimage", "tiff", 1);

    fake.addRule("ops.epo.org", "Range=1", qvfake::Fault::DropMidBody);
    Answer cut = get(p1, token);
    EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE) << curl_easy_strerror(cut.code);
    fake.addRule("ops.epo.org", "Range=1", qvfake::Fault::Drop);
    Answer dropped = get(p1, token);
    EXPECT_EQ(dropped.code, CURLE_GOT_NOTHING) << curl_easy_strerror(dropped.code);
    fake.addRule("ops.epo.org", "Range=1", qvfake::Fault::Status500);
    EXPECT_EQ(get(p1, token).status, 500);
    Answer fine = get(p1, token);
    EXPECT_EQ(fine.status, 200);
    EXPECT_EQ(fine.body.size(), cut.body.size() * 2 + fine.body.size() % 2);

    // The log tells which server saw what, in arrival order.
    std::vector<qvfake::RecordedRequest> log = fake.requests();
    std::vector<std::string> seen;
    for (size_t i = 0; i < log.size(); ++i) {
        seen.push_back(log[i].server + " " + log[i].method + " " + std::to_string(log[i].status));
        if (i > 0) {
            EXPECT_GE(log[i].arrival, log[i - 1].arrival);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "connect CONNECT 200", "tls POST 200", "connect CONNECT 200", "tls GET 200",
                        "connect CONNECT 200", "tls GET 0", "connect CONNECT 200", "tls GET 500",
                        "connect CONNECT 200", "tls GET 200"}));
    EXPECT_EQ(log.back().header("Authorization"), "Bearer " + token);
}

TEST_F(OpsFakeTest, StopsWhileATunnelStalls) {
    auto own = std::make_unique<qvfake::FakeService>();
    qvfake::OpsFake& mine = own->enableOps();
    ASSERT_TRUE(mine.ok());
    own->addRule("ops.epo.org", "", qvfake::Fault::Stall);
    CURLcode code = CURLE_OK;
    const std::string proxy = own->proxyUrl(), ca = mine.caBundlePath();
    std::thread client([&] {
        CurlPtr h(curl_easy_init());
        curl_easy_setopt(h.get(), CURLOPT_URL, "https://ops.epo.org/3.2/auth/accesstoken");
        curl_easy_setopt(h.get(), CURLOPT_PROXY, proxy.c_str());
        curl_easy_setopt(h.get(), CURLOPT_CAINFO, ca.c_str());
        curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h.get(), CURLOPT_TIMEOUT, 60L);
        curl_easy_setopt(h.get(), CURLOPT_POSTFIELDS, "grant_type=client_credentials");
        code = curl_easy_perform(h.get());
    });
    EXPECT_TRUE(
        qvtest::waitFor([&] { return own->requestCount() == 2; }, std::chrono::seconds(10)));
    own.reset(); // ends the stall and the tunnel, or this test hangs
    client.join();
    EXPECT_NE(code, CURLE_OK);
    EXPECT_NE(code, CURLE_OPERATION_TIMEDOUT);
}

} // namespace

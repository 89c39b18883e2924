// The fake EPO OPS 3.2 service: test CA and TLS server, tokens, inquiries, pages, throttling.
#include "fakeOpsState.h"
#include "fakePpubs.h"

#include "fixtures.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <tiffio.h>
#include <zlib.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#ifndef QV_OPS_SAMPLES_DIR
#define QV_OPS_SAMPLES_DIR "tests/fixtures/ops"
#endif

namespace qvfake {

const char* const kOpsSampleKey = "qvSampleConsumerKey0123456789ab";
const char* const kOpsSampleSecret = "qvSampleSecret42";

namespace {

using Clock = std::chrono::steady_clock;

// Requests count against an allowance for a minute. A request that arrives up to this
// much later than the client sent it still counts as sent: no 403 for a client that keeps
// to the allowance by its own clock.
const std::chrono::milliseconds kWindow(60000);
const std::chrono::milliseconds kGrace(1000);

const char* const kServices[] = {"images", "inpadoc", "other", "retrieval", "search"};

// ---- TIFF through libtiff, in memory ----

using qvfix::MemFile;
using qvfix::memOpen;

// The single Group 4 strip of a TIFF, most significant bit first.
struct G4Strip {
    uint32_t width = 0;
    uint32_t height = 0;
    std::string data;
};

bool readG4Strip(const std::string& tiff, G4Strip& out) {
    MemFile f;
    f.data = tiff;
    TIFF* tif = memOpen(f, "rm");
    if (!tif)
        return false;
    uint16_t compression = 0, fillOrder = FILLORDER_MSB2LSB;
    bool ok = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &out.width) == 1 &&
              TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &out.height) == 1 &&
              TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression) == 1 &&
              compression == COMPRESSION_CCITTFAX4 && TIFFNumberOfStrips(tif) == 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
    if (ok) {
        uint64_t* counts = nullptr;
        ok = TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) == 1 && counts && counts[0] > 0 &&
             counts[0] <= tiff.size();
        if (ok) {
            out.data.resize(size_t(counts[0]));
            tmsize_t n = TIFFReadRawStrip(tif, 0, &out.data[0], tmsize_t(out.data.size()));
            ok = n == tmsize_t(out.data.size());
        }
    }
    TIFFClose(tif);
    if (ok && fillOrder == FILLORDER_LSB2MSB)
        TIFFReverseBits(reinterpret_cast<uint8_t*>(&out.data[0]), tmsize_t(out.data.size()));
    return ok;
}

// Group 4 coding of a picture by libtiff, as one strip.
bool encodeG4(const qvfix::Bitmap& page, G4Strip& out) {
    MemFile f;
    TIFF* tif = memOpen(f, "wb");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, page.height);
    std::vector<uint8_t> row((page.width + 7) / 8);
    bool ok = true;
    for (uint32_t y = 0; y < page.height && ok; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (uint32_t x = 0; x < page.width; ++x)
            if (page.black[size_t(y) * page.width + x])
                row[x / 8] |= uint8_t(0x80 >> (x % 8));
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    return ok && readG4Strip(f.data, out);
}

void put16(std::string& s, uint16_t v) {
    s += char(v >> 8);
    s += char(v & 0xFF);
}

void put32(std::string& s, uint32_t v) {
    put16(s, uint16_t(v >> 16));
    put16(s, uint16_t(v & 0xFFFF));
}

// The container the service wraps its strips in, entry for entry and byte for byte: ten
// entries, the two rationals after the directory, the strip at offset 160.
std::string servedTiff(const G4Strip& strip) {
    const uint32_t stripOffset = 160;
    std::string s("MM", 2);
    put16(s, 42);
    put32(s, 8);
    put16(s, 10);
    auto entry = [&s](uint16_t tag, uint16_t type, uint32_t value) {
        put16(s, tag);
        put16(s, type);
        put32(s, 1);
        if (type == 3) {
            put16(s, uint16_t(value));
            put16(s, 0);
        } else {
            put32(s, value);
        }
    };
    entry(256, 4, strip.width);
    entry(257, 4, strip.height);
    entry(259, 3, 4); // Group 4
    entry(262, 3, 0); // WhiteIsZero
    entry(273, 4, stripOffset);
    entry(274, 3, 1); // top left
    entry(279, 4, uint32_t(strip.data.size()));
    entry(282, 5, 134);
    entry(283, 5, 142);
    entry(296, 3, 3); // centimetre
    put32(s, 0);
    put32(s, 25920); // 123.429 px/cm
    put32(s, 210);
    put32(s, 35080); // 118.114 px/cm
    put32(s, 297);
    s.resize(stripOffset, '\0');
    return s + strip.data;
}

// ---- Texts of answers ----

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string faultBody(const std::string& code, const std::string& message) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<fault xmlns=\"http://ops.epo.org\">\n    <code>" +
           code + "</code>\n    <message>" + message + "</message>\n</fault>\n";
}

Response xmlAnswer(int status, const std::string& body) {
    Response r;
    r.status = status;
    r.contentType = "application/xml";
    r.body = body;
    return r;
}

Response jsonAnswer(int status, const std::string& body) {
    Response r;
    r.status = status;
    r.contentType = "application/json";
    r.body = body;
    return r;
}

Response invalidToken() {
    Response r = xmlAnswer(400, "<error><code>400</code><message>invalid_access_token</message>"
                                "<description>Access token is invalid</description>\n  \n"
                                "</error>");
    r.headers.emplace_back("WWW-Authenticate",
                           "Bearer realm=\"null\",error=\"invalid_token\",error_description="
                           "\"oauth.v2.InvalidAccessToken: Invalid access token\"");
    return r;
}

Response fairUse(const std::string& reason, bool json) {
    const std::string message =
        "This request has been rejected due to the violation of Fair Use policy";
    Response r = json ? jsonAnswer(403, "{\"error\":{\"code\":\"403\",\"message\":\"" + message +
                                            "\",\"moreInfo\":\"" + reason + "\"}}")
                      : xmlAnswer(403, "<error><code>403</code><message>" + message +
                                           "</message><moreInfo>" + reason + "</moreInfo></error>");
    r.headers.emplace_back("X-Rejection-Reason", reason);
    return r;
}

Response throttled(long retryAfterMs) {
    Response r = fairUse("ThrottlingControlQuota", false);
    r.headers.emplace_back("Retry-After", std::to_string(std::max(1L, retryAfterMs)));
    return r;
}

int allowanceOf(const OpsThrottle& t, const std::string& service) {
    if (service == "images")
        return t.images;
    if (service == "inpadoc")
        return t.inpadoc;
    if (service == "retrieval")
        return t.retrieval;
    if (service == "search")
        return t.search;
    return t.other;
}

// Which allowance a request counts against.
std::string serviceOf(const std::string& path) {
    if (path.rfind("/3.2/rest-services/published-data/images/", 0) == 0)
        return "images";
    if (path.find("/published-data/publication/") != std::string::npos)
        return "retrieval";
    if (path.find("/published-data/search") != std::string::npos)
        return "search";
    if (path.find("/family/") != std::string::npos || path.find("/legal/") != std::string::npos)
        return "inpadoc";
    return "other";
}

std::string randomToken() {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char raw[28];
    if (RAND_bytes(raw, sizeof raw) != 1)
        return std::string();
    std::string out;
    for (unsigned char c : raw)
        out += alphabet[c % 62];
    return out;
}

std::string base64Decode(const std::string& text) {
    std::string out(text.size(), '\0');
    if (text.empty() || text.size() % 4 != 0)
        return std::string();
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    if (n < 0)
        return std::string();
    size_t pad = 0;
    for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i)
        ++pad;
    out.resize(size_t(n) - std::min<size_t>(pad, size_t(n)));
    return out;
}

std::string queryValue(const std::string& query, const std::string& name) {
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t end = query.find('&', pos);
        if (end == std::string::npos)
            end = query.size();
        std::string pair = query.substr(pos, end - pos);
        if (pair.compare(0, name.size() + 1, name + "=") == 0)
            return pair.substr(name.size() + 1);
        pos = end + 1;
    }
    return std::string();
}

// ---- Test CA and server certificate ----

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* c) const { X509_free(c); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

bool addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

CertPtr makeCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                        bool ca) {
    CertPtr cert(X509_new());
    if (!cert)
        return nullptr;
    unsigned char serial[8];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    bool ok = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
    BN_free(bn);
    X509_NAME* name = X509_get_subject_name(cert.get());
    ok = ok && X509_set_version(cert.get(), 2) == 1 &&
         X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) &&
         X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600) &&
         X509_set_pubkey(cert.get(), key) == 1 &&
         X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>("Quorvane tests"), -1,
                                    -1, 0) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                    0) == 1;
    X509* signer = issuer ? issuer : cert.get();
    ok = ok && X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) == 1;
    if (ca) {
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
             addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
             addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    } else {
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
             addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature") &&
             addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
             addExtension(cert.get(), signer, NID_subject_alt_name,
                          "DNS:ops.epo.org,DNS:ppubs.uspto.gov") &&
             addExtension(cert.get(), signer, NID_subject_key_identifier, "hash") &&
             addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    }
    ok = ok && X509_sign(cert.get(), issuerKey, EVP_sha256()) > 0;
    return ok ? std::move(cert) : nullptr;
}

bool writePem(const std::string& path, X509* cert) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    bool ok = PEM_write_X509(f, cert) == 1;
    return std::fclose(f) == 0 && ok;
}

void removeFolder(const std::string& path) {
    if (path.empty())
        return;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                unlink((path + "/" + name).c_str());
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

} // namespace

// ---- Samples and pages ----

std::string opsSamplesDir() {
    return QV_OPS_SAMPLES_DIR;
}

std::string readSampleFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return in ? ss.str() : std::string();
}

std::string opsSample(const std::string& name) {
    return readSampleFile(opsSamplesDir() + "/" + name);
}

std::string opsPageFromTiff(const std::string& tiff, std::string* error) {
    qvfix::Bitmap page;
    std::string why;
    G4Strip strip;
    if (!qvfix::decodeTiff(tiff, page, &why)) {
        if (error)
            *error = "cannot decode the TIFF: " + why;
        return std::string();
    }
    if (!encodeG4(page, strip)) {
        if (error)
            *error = "libtiff cannot encode the page in Group 4";
        return std::string();
    }
    return servedTiff(strip);
}

std::string opsPage(unsigned seed, uint32_t width, uint32_t height) {
    qvfix::FixtureOptions o;
    o.width = width;
    o.height = height;
    o.seed = seed;
    return opsPageFromTiff(qvfix::makeTiff(o));
}

std::string opsLandscapePage(unsigned seed, uint32_t width, uint32_t height) {
    return opsPage(seed, width, height);
}

std::string opsPagePdf(const std::string& tiff, int rotate) {
    G4Strip strip;
    if (!readG4Strip(tiff, strip))
        return std::string();
    const bool landscape = strip.width > strip.height;
    const std::string w = landscape ? "842" : "595";
    const std::string h = landscape ? "595" : "842";
    const std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q\n";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h + "] /Rotate " +
            std::to_string(rotate) +
            " /Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Type /XObject /Subtype /Image /Width " + std::to_string(strip.width) + " /Height " +
            std::to_string(strip.height) +
            " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode "
            "/DecodeParms << /K -1 /Columns " +
            std::to_string(strip.width) + " /Rows " + std::to_string(strip.height) +
            " >> /Length " + std::to_string(strip.data.size()) + " >>\nstream\n" + strip.data +
            "\nendstream",
    };
    return qvfix::assemblePdf(objects);
}

std::string ppubsPdf(const std::vector<std::string>& tiffPages, int flatePage) {
    // Objects as the service's writer numbers them: catalog 1, page tree 2, leaves from 3,
    // then per page its page, content and image.
    const size_t n = tiffPages.size();
    const size_t leaves = (n + 9) / 10;
    const size_t firstPage = 3 + leaves;
    std::vector<std::string> objects(2 + leaves + 3 * n);
    auto flate = [](const std::string& data) {
        uLongf size = compressBound(uLong(data.size()));
        std::string out(size, '\0');
        if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size,
                      reinterpret_cast<const Bytef*>(data.data()), uLong(data.size()),
                      Z_BEST_COMPRESSION) != Z_OK)
            return std::string();
        out.resize(size);
        return out;
    };
    std::string kids;
    for (size_t l = 0; l < leaves; ++l) {
        kids += std::to_string(3 + l) + " 0 R ";
        std::string leafKids;
        const size_t end = std::min(n, (l + 1) * 10);
        for (size_t p = l * 10; p < end; ++p)
            leafKids += std::to_string(firstPage + 3 * p) + " 0 R ";
        objects[2 + l] = "<</Count " + std::to_string(end - l * 10) + "/Kids[" + leafKids +
                         "]/Parent 2 0 R/Type/Pages>>";
    }
    objects[0] = "<</Pages 2 0 R/Type/Catalog>>";
    objects[1] = "<</Count " + std::to_string(n) + "/Kids[" + kids + "]/Type/Pages>>";
    for (size_t p = 0; p < n; ++p) {
        G4Strip strip;
        if (!readG4Strip(tiffPages[p], strip))
            return std::string();
        const size_t page = firstPage + 3 * p;
        const double scale = std::min(582.0 / strip.width, 792.0 / strip.height);
        char placement[96];
        std::snprintf(placement, sizeof placement, "q %.2f 0 0 %.2f 15 %.2f cm /Im1 Do Q",
                      strip.width * scale, strip.height * scale, 777 - strip.height * scale);
        const std::string content = flate(placement);
        objects[page - 1] = "<</Contents " + std::to_string(page + 1) +
                            " 0 R/MediaBox[0 0 612 792]/Parent " + std::to_string(3 + p / 10) +
                            " 0 R/Resources<</XObject<</Im1 " + std::to_string(page + 2) +
                            " 0 R>>>>/TrimBox[0 0 612 792]/Type/Page>>";
        objects[page] = "<</Filter/FlateDecode/Length " + std::to_string(content.size()) +
                        ">>stream\n" + content + "\nendstream";
        if (int(p) + 1 == flatePage) {
            const std::string grey = flate(std::string(64 * 64, '\x80'));
            objects[page + 1] = "<</BitsPerComponent 8/ColorSpace/DeviceGray/Filter/FlateDecode"
                                "/Height 64/Length " +
                                std::to_string(grey.size()) +
                                "/Subtype/Image/Type/XObject/Width 64>>stream\n" + grey +
                                "\nendstream";
        } else {
            objects[page + 1] =
                "<</BitsPerComponent 1/ColorSpace/DeviceGray/DecodeParms<</K -1"
                "/Columns " +
                std::to_string(strip.width) + "/Rows " + std::to_string(strip.height) +
                ">>/Filter/CCITTFaxDecode/Height " + std::to_string(strip.height) + "/Length " +
                std::to_string(strip.data.size()) + "/Subtype/Image/Type/XObject/Width " +
                std::to_string(strip.width) + ">>stream\n" + strip.data + "\nendstream";
        }
    }
    return qvfix::assemblePdf(objects, "1.7");
}

// ---- Publications ----

namespace {

std::string imageLink(const std::string& country, const std::string& number,
                      const std::string& kind, const std::string& what) {
    return "published-data/images/" + country + "/" + number + "/" + kind + "/" + what;
}

OpsInstance firstPageClipping(const std::string& country, const std::string& number,
                              const std::string& firstPage) {
    OpsInstance clip;
    clip.desc = "FirstPageClipping";
    clip.link = imageLink(country, number, "PA", "firstpage");
    if (!firstPage.empty())
        clip.pages = {firstPage};
    clip.sections = {{"ABSTRACT", 1}, {"BIBLIOGRAPHY", 1}};
    clip.formats = {"application/pdf", "application/tiff", "image/jpeg", "image/png"};
    return clip;
}

} // namespace

OpsPublication opsPublication(const std::string& country, const std::string& number,
                              const std::string& kind, std::vector<std::string> pages,
                              std::vector<std::string> drawingPages) {
    OpsPublication pub{country, number, kind, {}};
    OpsInstance full;
    full.link = imageLink(country, number, kind, "fullimage");
    const int n = int(pages.size());
    // Description from page 2, claims and drawings in the later pages, as far as there are.
    const int description = std::min(2, std::max(1, n));
    const int claims = std::max(description, n - n / 3);
    const int drawings = std::max(claims, n - n / 5);
    full.sections = {
        {"ABSTRACT", 1}, {"BIBLIOGRAPHY", 1}, {"CLAIMS", claims}, {"DESCRIPTION", description}};
    if (!drawingPages.empty())
        full.sections.push_back({"DRAWINGS", drawings});
    const std::string first = pages.empty() ? std::string() : pages[0];
    full.pages = std::move(pages);
    pub.instances.push_back(std::move(full));
    if (!drawingPages.empty()) {
        OpsInstance drawing;
        drawing.desc = "Drawing";
        drawing.link = imageLink(country, number, kind, "thumbnail");
        drawing.pages = std::move(drawingPages);
        drawing.sections = {{"DRAWINGS", 1}};
        pub.instances.push_back(std::move(drawing));
    }
    pub.instances.push_back(firstPageClipping(country, number, first));
    return pub;
}

OpsPublication opsSearchReport(const std::string& country, const std::string& number,
                               const std::string& kind, std::vector<std::string> pages) {
    OpsPublication pub{country, number, kind, {}};
    OpsInstance full;
    full.link = imageLink(country, number, kind, "fullimage");
    full.sections = {{"SEARCH_REPORT", 1}};
    const std::string first = pages.empty() ? std::string() : pages[0];
    full.pages = std::move(pages);
    pub.instances.push_back(std::move(full));
    pub.instances.push_back(firstPageClipping(country, number, first));
    return pub;
}

OpsInstance opsCertificateOfCorrection(const std::string& number, std::vector<std::string> pages) {
    OpsInstance cert;
    cert.link = imageLink("US", number, "X6", "fullimage");
    cert.pages = std::move(pages);
    cert.sections = {{"AMENDMENT", 1}};
    return cert;
}

OpsThrottle opsBusy() {
    OpsThrottle t;
    t.state = "busy";
    t.images = 100;
    t.inpadoc = 30;
    t.other = 500;
    t.retrieval = 100;
    t.search = 15;
    return t;
}

OpsThrottle opsOverloaded() {
    OpsThrottle t;
    t.state = "overloaded";
    t.images = 50;
    t.inpadoc = 10;
    t.other = 250;
    t.retrieval = 50;
    t.search = 5;
    return t;
}

// ---- The TLS server ----

bool OpsState::start(
    const std::function<void(const httplib::Request&, httplib::Response&)>& handler) {
    keys = {{kOpsSampleKey, kOpsSampleSecret}};
    char folderTemplate[] = "/tmp/qv-ops-fake-XXXXXX";
    if (!mkdtemp(folderTemplate)) {
        error = "cannot make a temporary folder";
        return false;
    }
    folder = folderTemplate;
    caPath = folder + "/ca.pem";

    KeyPtr caKey(EVP_EC_gen("P-256"));
    KeyPtr serverKey(EVP_EC_gen("P-256"));
    if (!caKey || !serverKey) {
        error = "cannot make EC keys";
        return false;
    }
    CertPtr ca = makeCertificate(caKey.get(), "Quorvane test CA", nullptr, caKey.get(), true);
    CertPtr cert =
        ca ? makeCertificate(serverKey.get(), "ops.epo.org", ca.get(), caKey.get(), false)
           : nullptr;
    if (!ca || !cert) {
        error = "cannot make the test certificates";
        return false;
    }
    if (!writePem(caPath, ca.get())) {
        error = "cannot write " + caPath;
        return false;
    }
    // The server takes its own references to the certificate and key.
    server.reset(new httplib::SSLServer(cert.get(), serverKey.get()));
    if (!server->is_valid()) {
        error = "the TLS server does not accept the certificate";
        return false;
    }
    server->new_task_queue = [] { return new httplib::ThreadPool(48); };
    server->set_tcp_nodelay(true);
    server->set_keep_alive_max_count(1000000);
    server->set_keep_alive_timeout(60);
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Put(".*", handler);
    server->Delete(".*", handler);
    port = server->bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        error = "the TLS server cannot listen on 127.0.0.1";
        return false;
    }
    httplib::SSLServer* s = server.get();
    thread = std::thread([s] { s->listen_after_bind(); });
    for (int i = 0; i < 5000 && !server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ok = server->is_running();
    if (!ok)
        error = "the TLS server did not start";
    return ok;
}

void OpsState::stop() {
    if (server)
        server->stop();
    if (thread.joinable())
        thread.join();
}

OpsState::~OpsState() {
    stop();
    removeFolder(folder);
}

// ---- Answers ----

namespace {

std::string throttleValue(const OpsThrottle& t,
                          const std::map<std::string, std::deque<Clock::time_point>>& recent) {
    std::string out = t.state + " (";
    bool first = true;
    for (const char* service : kServices) {
        const int allowance = allowanceOf(t, service);
        auto it = recent.find(service);
        const size_t used = it == recent.end() ? 0 : it->second.size();
        std::string light = "green";
        auto forced = std::find_if(t.lights.begin(), t.lights.end(),
                                   [service](const auto& l) { return l.first == service; });
        if (std::find(t.black.begin(), t.black.end(), service) != t.black.end())
            light = "black";
        else if (forced != t.lights.end())
            light = forced->second;
        else if (allowance <= 0 || used * 4 > size_t(allowance) * 3)
            light = "red";
        else if (used * 2 >= size_t(allowance))
            light = "yellow";
        out += (first ? "" : ", ") + std::string(service) + "=" + light + ":" +
               std::to_string(allowance);
        first = false;
    }
    return out + ")";
}

std::string documentId(const OpsPublication& p, const std::string& indent) {
    return indent + "<document-id document-id-type=\"docdb\">\n" + indent + "    <country>" +
           xmlEscape(p.country) + "</country>\n" + indent + "    <doc-number>" +
           xmlEscape(p.number) + "</doc-number>\n" + indent + "    <kind>" + xmlEscape(p.kind) +
           "</kind>\n" + indent + "</document-id>\n";
}

std::string inquiryXml(const std::string& asked, const std::vector<const OpsPublication*>& found) {
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><?xml-stylesheet type=\"text/xsl\" "
                    "href=\"/3.2/style/pub-inquiry.xsl\"?>\n"
                    "<ops:world-patent-data xmlns=\"http://www.epo.org/exchange\" "
                    "xmlns:ops=\"http://ops.epo.org\" "
                    "xmlns:xlink=\"http://www.w3.org/1999/xlink\">\n"
                    "    <ops:document-inquiry>\n"
                    "        <ops:publication-reference>\n" +
                    asked + "        </ops:publication-reference>\n";
    for (const OpsPublication* p : found) {
        x += "        <ops:inquiry-result>\n            <publication-reference>\n" +
             documentId(*p, "                ") + "            </publication-reference>\n";
        for (const OpsInstance& in : p->instances) {
            const int pages = in.announcedPages >= 0 ? in.announcedPages : int(in.pages.size());
            x += "            <ops:document-instance system=\"ops.epo.org\" number-of-pages=\"" +
                 std::to_string(pages) + "\" desc=\"" + xmlEscape(in.desc) + "\" link=\"" +
                 xmlEscape(in.link) + "\">\n                <ops:document-format-options>\n";
            for (const std::string& f : in.formats)
                x += "                    <ops:document-format>" + xmlEscape(f) +
                     "</ops:document-format>\n";
            x += "                </ops:document-format-options>\n";
            for (const OpsSection& s : in.sections)
                x += "                <ops:document-section name=\"" + xmlEscape(s.name) +
                     "\" start-page=\"" + std::to_string(s.startPage) + "\"/>\n";
            x += "            </ops:document-instance>\n";
        }
        x += "        </ops:inquiry-result>\n";
    }
    return x + "    </ops:document-inquiry>\n</ops:world-patent-data>\n";
}

} // namespace

Response OpsState::answer(const RecordedRequest& rec) {
    const Clock::time_point now = Clock::now();
    const size_t q = rec.path.find('?');
    const std::string path = rec.path.substr(0, q);
    const std::string query = q == std::string::npos ? std::string() : rec.path.substr(q + 1);
    if (path.compare(0, 5, "/3.2/") != 0) {
        Response r;
        r.status = 404;
        r.body = "<html><body><h1>404 Not Found</h1></body></html>\n";
        return r;
    }
    const std::string service = serviceOf(path);

    std::lock_guard<std::mutex> lock(mutex);
    bool scripted = false;
    OpsRule rule{};
    for (OpsRule& r : rules) {
        if (r.times == 0 || (!r.contains.empty() && rec.path.find(r.contains) == std::string::npos))
            continue;
        if (r.times > 0)
            --r.times;
        rule = r;
        scripted = true;
        break;
    }
    auto is = [&](OpsFault f) { return scripted && rule.fault == f; };

    // Forget what left the rolling windows.
    const Clock::time_point windowStart = now - (kWindow - kGrace);
    for (auto& entry : recent)
        while (!entry.second.empty() && entry.second.front() <= windowStart)
            entry.second.pop_front();
    while (!advertised.empty() && advertised.front().first <= now - kWindow)
        advertised.pop_front();
    while (!hourBytes.empty() && hourBytes.front().first <= now - std::chrono::hours(1))
        hourBytes.pop_front();

    OpsThrottle advert = throttle;
    if (is(OpsFault::Advertise))
        advert = rule.options.throttle;
    else if (!cycle.empty())
        advert = cycle[cycleNext++ % cycle.size()];

    // The client may know only what earlier answers told it.
    bool rejected = false;
    long retryAfter = 0;
    if (enforce) {
        int allowance =
            allowanceOf(advertised.empty() ? advert : advertised.front().second, service);
        for (const auto& seen : advertised)
            allowance = std::min(allowance, allowanceOf(seen.second, service));
        std::deque<Clock::time_point>& mine = recent[service];
        if (int(mine.size()) >= allowance) {
            rejected = true;
            const auto frees = mine.empty() ? now + kWindow : mine.front() + kWindow - kGrace;
            retryAfter = long(
                std::chrono::duration_cast<std::chrono::milliseconds>(frees - now).count() + 1);
            ++stats.throttleRejections;
        } else {
            mine.push_back(now);
        }
    }
    if (!rejected && !enforce)
        recent[service].push_back(now);

    Response out;
    if (scripted)
        ++stats.scriptedFaults;
    if (rejected) {
        out = throttled(retryAfter);
        advert.black.push_back(service);
    } else if (is(OpsFault::BlackLight)) {
        out = throttled(rule.options.retryAfterMs);
        advert.black.push_back(service);
    } else if (is(OpsFault::HourQuota)) {
        out = fairUse("IndividualQuotaPerHour", rule.options.json);
    } else if (is(OpsFault::WeekQuota)) {
        out = fairUse("RegisteredQuotaPerWeek", rule.options.json);
    } else if (is(OpsFault::DomainAccess)) {
        out = xmlAnswer(500, faultBody("SERVER.DomainAccess", "Service temporarily unavailable"));
    } else if (is(OpsFault::InvalidToken)) {
        out = invalidToken();
        ++stats.invalidTokenAnswers;
    } else if (path == "/3.2/auth/accesstoken") {
        ++stats.tokenRequests;
        const std::string auth = rec.header("Authorization");
        const std::string credentials =
            auth.compare(0, 6, "Basic ") == 0 ? base64Decode(auth.substr(6)) : std::string();
        const size_t colon = credentials.find(':');
        bool known = false;
        std::string key;
        if (colon != std::string::npos) {
            key = credentials.substr(0, colon);
            for (const auto& k : keys)
                known = known || (k.first == key && k.second == credentials.substr(colon + 1));
        }
        if (rec.method != "POST") {
            out = xmlAnswer(405, faultBody("CLIENT.MethodNotAllowed", "Method not allowed"));
        } else if (!known) {
            out = jsonAnswer(401, "{\"error\":\"invalid_client\",\"error_description\":"
                                  "\"Client credentials are invalid\"}");
        } else if (rec.body.find("grant_type=client_credentials") == std::string::npos) {
            out = jsonAnswer(400, "{\"error\":\"unsupported_grant_type\",\"error_description\":"
                                  "\"Grant type must be client_credentials\"}");
        } else {
            const std::string token = randomToken();
            OpsToken t;
            t.expiry = now + lifetime;
            t.usesLeft = tokenUses > 0 ? tokenUses : -1;
            tokens[token] = t;
            tokenOrder.push_back(token);
            ++stats.tokensIssued;
            const long long issued = std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count();
            out = jsonAnswer(
                200, "{\n  \"refresh_token_expires_in\": \"0\",\n"
                     "  \"api_product_list\": \"[ops-prod]\",\n"
                     "  \"api_product_list_json\": [\n    \"ops-prod\"\n  ],\n"
                     "  \"organization_name\": \"epo\",\n"
                     "  \"developer.email\": \"tests@quorvane.org\",\n"
                     "  \"token_type\": \"BearerToken\",\n"
                     "  \"issued_at\": \"" +
                         std::to_string(issued) + "\",\n  \"client_id\": \"" + key +
                         "\",\n  \"access_token\": \"" + token +
                         "\",\n"
                         "  \"application_name\": \"8654da0d-5e44-4ea3-addc-e555eff4aee6\",\n"
                         "  \"scope\": \"core\",\n  \"expires_in\": \"" +
                         std::to_string(lifetime.count()) +
                         "\",\n  \"refresh_count\": \"0\",\n  \"status\": \"approved\"\n}");
        }
    } else {
        const std::string auth = rec.header("Authorization");
        auto token =
            auth.compare(0, 7, "Bearer ") == 0 ? tokens.find(auth.substr(7)) : tokens.end();
        bool valid = token != tokens.end() && !token->second.dead && now < token->second.expiry &&
                     token->second.usesLeft != 0;
        if (valid && is(OpsFault::ExpireToken)) {
            token->second.dead = true;
            valid = false;
        }
        if (valid && token->second.usesLeft > 0)
            --token->second.usesLeft;
        const std::string publication = "/3.2/rest-services/published-data/publication/";
        const std::string images = "/3.2/rest-services/published-data/images/";
        const std::string suffix = "/images";
        if (!valid) {
            out = invalidToken();
            ++stats.invalidTokenAnswers;
        } else if (path.compare(0, publication.size(), publication) == 0 &&
                   path.size() > publication.size() + suffix.size() &&
                   path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
            const std::string rest = path.substr(publication.size());
            const size_t slash = rest.find('/');
            const std::string system = rest.substr(0, slash);
            const std::string number =
                rest.substr(slash + 1, rest.size() - slash - 1 - suffix.size());
            std::vector<const OpsPublication*> found;
            std::string asked;
            if (system == "docdb") {
                for (const OpsPublication& p : publications)
                    if (p.country + "." + p.number + "." + p.kind == number)
                        found.push_back(&p);
                const size_t dot1 = number.find('.');
                const size_t dot2 = number.find('.', dot1 == std::string::npos ? 0 : dot1 + 1);
                if (dot2 != std::string::npos)
                    asked = documentId(OpsPublication{number.substr(0, dot1),
                                                      number.substr(dot1 + 1, dot2 - dot1 - 1),
                                                      number.substr(dot2 + 1),
                                                      {}},
                                       "            ");
            } else if (system == "epodoc") {
                for (const OpsPublication& p : publications)
                    if (p.country + p.number == number)
                        found.push_back(&p);
                asked = "            <document-id document-id-type=\"epodoc\">\n"
                        "                <doc-number>" +
                        xmlEscape(number) + "</doc-number>\n            </document-id>\n";
            }
            if (found.empty())
                out = xmlAnswer(404, faultBody("SERVER.EntityNotFound", "No results found"));
            else
                out = xmlAnswer(200, inquiryXml(asked, found));
        } else if (path.compare(0, images.size(), images) == 0) {
            std::string link = path.substr(strlen("/3.2/rest-services/"));
            std::string accept = rec.header("Accept");
            bool pdf = accept.find("application/pdf") != std::string::npos;
            auto endsWith = [&link](const std::string& s) {
                return link.size() > s.size() &&
                       link.compare(link.size() - s.size(), s.size(), s) == 0;
            };
            if (endsWith(".pdf")) {
                pdf = true;
                link.resize(link.size() - 4);
            } else if (endsWith(".tiff")) {
                pdf = false;
                link.resize(link.size() - 5);
            }
            const std::string range = queryValue(query, "Range");
            const long page = range.empty() ? 1 : std::strtol(range.c_str(), nullptr, 10);
            const OpsInstance* instance = nullptr;
            for (const OpsPublication& p : publications)
                for (const OpsInstance& in : p.instances)
                    if (in.link == link)
                        instance = &in;
            if (!instance || page < 1 || size_t(page) > instance->pages.size()) {
                out = xmlAnswer(404, faultBody("SERVER.EntityNotFound", "No results found"));
            } else if (pdf) {
                const size_t i = size_t(page - 1);
                out.contentType = "application/pdf";
                out.body = opsPagePdf(instance->pages[i],
                                      i < instance->rotate.size() ? instance->rotate[i] : 0);
            } else {
                out.contentType = "image/tiff";
                out.body = instance->pages[size_t(page - 1)];
            }
        } else {
            out = xmlAnswer(404, faultBody("SERVER.EntityNotFound", "No results found"));
        }
    }

    if (is(OpsFault::WrongContentType))
        out.contentType = rule.options.contentType;
    if (!is(OpsFault::NoThrottleHeader)) {
        std::string value = throttleValue(advert, recent);
        advertised.emplace_back(now, advert);
        if (is(OpsFault::DoubledThrottleHeader)) {
            value += ", " + throttleValue(rule.options.throttle, recent);
            advertised.emplace_back(now, rule.options.throttle);
        }
        out.headers.emplace_back("X-Throttling-Control", value);
    }
    const uint64_t bytes = out.body.size();
    hourBytes.emplace_back(now, bytes);
    weekUsed += bytes;
    stats.bytesServed += bytes;
    uint64_t hour = hourBase;
    for (const auto& b : hourBytes)
        hour += b.second;
    out.headers.emplace_back("X-IndividualQuotaPerHour-Used", std::to_string(hour));
    out.headers.emplace_back("X-RegisteredQuotaPerWeek-Used", std::to_string(weekUsed));
    return out;
}

// ---- OpsFake ----

bool OpsFake::ok() const {
    return m_state->ok;
}

std::string OpsFake::error() const {
    return m_state->error;
}

std::string OpsFake::caBundlePath() const {
    return m_state->caPath;
}

int OpsFake::tlsPort() const {
    return m_state->port;
}

void OpsFake::setKeys(const std::vector<std::pair<std::string, std::string>>& keySecretPairs) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->keys = keySecretPairs;
}

void OpsFake::setTokenLifetime(std::chrono::seconds lifetime) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->lifetime = lifetime;
}

void OpsFake::setTokenUses(int requests) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->tokenUses = std::max(0, requests);
}

void OpsFake::expireTokens() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    for (auto& t : m_state->tokens)
        t.second.dead = true;
}

void OpsFake::addPublication(OpsPublication publication) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    for (OpsPublication& p : m_state->publications) {
        if (p.country == publication.country && p.number == publication.number &&
            p.kind == publication.kind) {
            p = std::move(publication);
            return;
        }
    }
    m_state->publications.push_back(std::move(publication));
}

void OpsFake::clearPublications() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->publications.clear();
}

void OpsFake::setThrottle(const OpsThrottle& throttle) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->throttle = throttle;
}

void OpsFake::setThrottleCycle(const std::vector<OpsThrottle>& cycle) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->cycle = cycle;
    m_state->cycleNext = 0;
}

void OpsFake::setQuotaUsed(uint64_t hour, uint64_t week) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->hourBase = hour;
    m_state->hourBytes.clear();
    m_state->weekUsed = week;
}

void OpsFake::setEnforceAllowance(bool on) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->enforce = on;
}

void OpsFake::addRule(const std::string& contains, OpsFault fault, int times,
                      OpsFaultOptions options) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->rules.push_back(OpsRule{contains, fault, times, std::move(options)});
}

void OpsFake::clearRules() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->rules.clear();
}

OpsStats OpsFake::stats() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->stats;
}

std::vector<std::string> OpsFake::tokens() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->tokenOrder;
}

} // namespace qvfake

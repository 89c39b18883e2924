// Writes the seed corpus of every fuzz target into the folder given: page images made by
// the fixture producers, and the answers of the fake remote services exactly as the tests
// receive them (fetched through the HTTP session), plus the typed forms of the number
// tests. Seeds are made, not kept in the repository, so that they follow the fakes.
#include "fakeService.h"
#include "fixtures.h"
#include "httpSession.h"
#include "netInit.h"
#include "pct.h"
#include "uspto.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <wx/base64.h>
#include <wx/filename.h>
#include <wx/init.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace {

std::string g_root;
int g_failures = 0;

void Save(const std::string& target, const std::string& name, const std::string& bytes) {
    const std::string dir = g_root + "/" + target;
    wxFileName::Mkdir(wxString::FromUTF8(dir.c_str()), 0755, wxPATH_MKDIR_FULL);
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out || bytes.empty()) {
        std::fprintf(stderr, "seed %s/%s not written\n", target.c_str(), name.c_str());
        ++g_failures;
    }
}

// The body of one answer of the fake, fetched as the jobs fetch it.
std::string Fetch(const qvfake::FakeService& fake, const std::string& host, const wxString& path,
                  const wxString& post = wxString()) {
    httpSession session(ConnectionType::HttpProxy, "127.0.0.1", wxString::Format("%d", fake.port()),
                        "", "");
    session.m_postData = post;
    std::unique_ptr<wxInputStream> in;
    if (session.m_ok && session.Connect(host))
        in = session.Request(path);
    if (!in) {
        std::fprintf(stderr, "no answer from %s%s: %s\n", host.c_str(),
                     static_cast<const char*>(path.utf8_str()),
                     static_cast<const char*>(session.GetError().utf8_str()));
        ++g_failures;
        return std::string();
    }
    std::string body;
    char buffer[4096];
    while (in->Read(buffer, sizeof buffer).LastRead() > 0)
        body.append(buffer, in->LastRead());
    return body;
}

// Small pages keep the corpus small and the fuzzer fast.
qvfix::FixtureOptions Small(qvfix::Coding coding, unsigned seed) {
    qvfix::FixtureOptions o;
    o.width = 64;
    o.height = 40;
    o.coding = coding;
    o.seed = seed;
    return o;
}

void TiffSeeds() {
    using qvfix::Coding;
    struct Variant {
        const char* name;
        qvfix::FixtureOptions options;
    };
    std::vector<Variant> variants = {
        {"g4", Small(Coding::Group4, 1)},           {"g3-1d", Small(Coding::Group3_1D, 2)},
        {"g3-2d", Small(Coding::Group3_2D, 3)},     {"g3-fill-bits", Small(Coding::Group3_1D, 4)},
        {"fill-order-2", Small(Coding::Group4, 5)}, {"three-strips", Small(Coding::Group4, 6)},
        {"big-endian", Small(Coding::Group4, 7)},   {"black-is-zero", Small(Coding::Group4, 8)},
        {"uncompressed", Small(Coding::None, 9)},   {"wide", Small(Coding::Group4, 10)},
    };
    variants[3].options.group3FillBits = true;
    variants[4].options.fillOrder = 2;
    variants[5].options.rowsPerStrip = 16;
    variants[6].options.bigEndian = true;
    variants[7].options.photometric = 1;
    variants[9].options.width = 200;
    variants[9].options.height = 8;
    for (const Variant& v : variants)
        Save("tiff_pdf", v.name + std::string(".tif"), qvfix::makeTiff(v.options));

    // The directory that once kept a job busy without end, whole and small enough for the
    // fuzzer's input size.
    Save("tiff_pdf", "repeated-strip-table.tif", qvfix::repeatedStripTableTiff());
    Save("tiff_pdf", "repeated-strip-table-small.tif", qvfix::repeatedStripTableTiff(300, 400));
    // A non-square resolution in centimetres, as the OPS service serves its pages.
    qvfix::FixtureOptions ops = Small(Coding::Group4, 14);
    ops.bigEndian = true;
    ops.xResolution = 123.429;
    ops.yResolution = 118.114;
    ops.resolutionUnit = 3;
    Save("tiff_pdf", "big-endian-centimetres.tif", qvfix::makeTiff(ops));

    // The second producer lays its files out differently.
    char dir[] = "/tmp/qv-seed-gs-XXXXXX";
    if (mkdtemp(dir)) {
        const auto pages = qvfix::ghostscriptPages(dir, 1, "tiffg4", 96, 64, 24);
        for (const std::string& page : pages) {
            Save("tiff_pdf", "ghostscript.tif", qvfix::readWholeFile(page));
            std::remove(page.c_str());
        }
        rmdir(dir);
    }
}

// Pages served as one-page PDFs: those the extraction takes and those it refuses.
void PagePdfSeeds() {
    const std::string page = qvfix::makeTiff(Small(qvfix::Coding::Group4, 15));
    struct Variant {
        const char* name;
        qvfix::PagePdfOptions options;
    };
    std::vector<Variant> variants(7);
    variants[0].name = "plain";
    variants[1].name = "rotate-90";
    variants[1].options.rotate = 90;
    variants[2].name = "black-is-1";
    variants[2].options.blackIs1 = true;
    variants[3].name = "two-images";
    variants[3].options.images = 2;
    variants[4].name = "two-pages";
    variants[4].options.pages = 2;
    variants[5].name = "dct";
    variants[5].options.filter = "/DCTDecode";
    variants[6].name = "inline-image";
    variants[6].options.extraContent = "BI /W 8 /H 1 /BPC 1 /IM true ID \xAA EI\n";
    for (const Variant& v : variants)
        Save("page_pdf", v.name + std::string(".pdf"), qvfix::makePagePdf(page, v.options));

    // The same page with its objects and cross-reference table in compressed streams.
    std::string packed;
    try {
        const std::string plain = qvfix::makePagePdf(page);
        QPDF pdf;
        pdf.processMemoryFile("seed", plain.data(), plain.size());
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        writer.setObjectStreamMode(qpdf_o_generate);
        writer.write();
        const std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
        packed.assign(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
    } catch (std::exception& e) {
        std::fprintf(stderr, "qpdf: %s\n", e.what());
    }
    Save("page_pdf", "object-streams.pdf", packed);
}

void UsptoSeeds(qvfake::FakeService& fake) {
    const std::string page = qvfix::makeTiff(Small(qvfix::Coding::Group4, 11));
    fake.addUsptoDocument("5123456", {page, page, page});
    qvfake::PageListShape split;
    split.splitEmbed = true;
    fake.addUsptoDocument("6000001", std::vector<std::string>(12, page), split);
    qvfake::PageListShape noCount;
    noCount.noNumPages = true;
    fake.addUsptoDocument("4000002", {page}, noCount);
    qvfake::PageListShape noPageNum;
    noPageNum.noPageNum = true;
    fake.addUsptoDocument("4000001", {page, page}, noPageNum);
    fake.addUsptoDocument("20020000001", {page});

    const struct {
        const char* docid;
        const char* name;
    } lists[] = {{"5123456", "three-pages"},     {"6000001", "split-embed"},
                 {"4000002", "no-count"},        {"4000001", "no-page-number"},
                 {"20020000001", "publication"}, {"7777777", "unknown-document"}};
    for (const auto& l : lists) {
        const UsLocation at = UsPageListLocation(l.docid);
        Save("us_page_list", l.name, Fetch(fake, at.host.ToStdString(), at.path));
    }
    Save("us_page_list", "error-page", Fetch(fake, "patimg1.uspto.gov", "/nothing-here"));

    fake.addPublication("836917", "20010012345", "1%2F1%2F1998-%3E12%2F31%2F2001");
    fake.addPublication("123456", "20020000009");
    Save("us_search", "hit", Fetch(fake, "appft1.uspto.gov", UsSearchPath("9/836917")));
    Save("us_search", "hit-without-date",
         Fetch(fake, "appft1.uspto.gov", UsSearchPath("8/123456")));
    Save("us_search", "no-hit", Fetch(fake, "appft1.uspto.gov", UsSearchPath("10/999999")));
}

void EspacenetSeeds(qvfake::FakeService& fake) {
    qvfake::EspacenetDocument doc;
    doc.id = "EP.1000000.A1";
    doc.pages = {qvfix::makeTiff(Small(qvfix::Coding::Group4, 12)),
                 qvfix::makeTiff(Small(qvfix::Coding::Group3_1D, 13))};
    fake.addEspacenetDocument("EP1000000", doc);
    qvfake::EspacenetDocument noLocation = doc;
    noLocation.id = "EP.6.A1";
    noLocation.noContentLocation = true;
    fake.addEspacenetDocument("EP6", noLocation);
    qvfake::EspacenetDocument none = doc;
    none.id = "EP.2.A1";
    none.announcedPages = 0;
    fake.addEspacenetDocument("EP2", none);

    const char* ops = "ops.espacenet.com";
    const char* path = "/OpenPatentServices/webService";
    Save("pct_inquiry", "found", Fetch(fake, ops, path, PctInquiryEnvelope("EP1000000")));
    Save("pct_inquiry", "no-pages", Fetch(fake, ops, path, PctInquiryEnvelope("EP2")));
    Save("pct_inquiry", "soap-fault", Fetch(fake, ops, path, PctInquiryEnvelope("XX1")));
    Save("pct_page_answer", "page-1",
         Fetch(fake, ops, path, PctRetrievalEnvelope("EP.1000000.A1", "EPODOC", 1)));
    Save("pct_page_answer", "page-2",
         Fetch(fake, ops, path, PctRetrievalEnvelope("EP.1000000.A1", "EPODOC", 2)));
    Save("pct_page_answer", "no-image-part",
         Fetch(fake, ops, path, PctRetrievalEnvelope("EP.6.A1", "EPODOC", 1)));
    Save("pct_page_answer", "soap-fault",
         Fetch(fake, ops, path, PctRetrievalEnvelope("EP.1000000.A1", "EPODOC", 9)));
}

// The recorded answer of the live service, and variants of it that the job must survive.
// An answer of the fake EPO service, fetched as the EPO job fetches it (token first).
std::string FetchEpo(const std::string& path) {
    httpSession session(ConnectionType::Automatic, "", "", "", "");
    const std::string pair = std::string(qvfake::kOpsSampleKey) + ":" + qvfake::kOpsSampleSecret;
    httpAnswer token, answer;
    const bool got =
        session.Exchange("https://ops.epo.org/3.2/auth/accesstoken",
                         {"Authorization: Basic " +
                          std::string(wxBase64Encode(pair.data(), pair.size()).utf8_str())},
                         "grant_type=client_credentials", token);
    const size_t at = token.body.find("\"access_token\": \"");
    if (got && at != std::string::npos) {
        const size_t from = at + 17, to = token.body.find('"', from);
        session.Exchange("https://ops.epo.org/3.2/rest-services/" + path,
                         {"Authorization: Bearer " + token.body.substr(from, to - from)}, "",
                         answer);
    }
    if (answer.body.empty()) {
        std::fprintf(stderr, "no EPO answer for %s: %s\n", path.c_str(),
                     static_cast<const char*>(session.GetError().utf8_str()));
        ++g_failures;
    }
    return answer.body;
}

void OpsInquirySeeds(qvfake::FakeService& fake) {
    qvfake::OpsFake& epo = fake.enableOps();
    setenv("https_proxy", fake.proxyUrl().c_str(), 1);
    setenv("CURL_CA_BUNDLE", epo.caBundlePath().c_str(), 1);
    const std::string page = qvfake::opsPage(1, 64, 40);
    epo.addPublication(qvfake::opsPublication("EP", "1000000", "A1", {page, page}, {page}));
    epo.addPublication(qvfake::opsPublication("EP", "1000000", "B1", {page, page, page}));
    epo.addPublication(qvfake::opsSearchReport("EP", "1000000", "A3", {page}));
    qvfake::OpsPublication us = qvfake::opsPublication("US", "7000001", "B2", {page, page});
    us.instances.push_back(qvfake::opsCertificateOfCorrection("7000001", {page}));
    epo.addPublication(us);
    Save("ops_inquiry", "fake-three-kinds",
         FetchEpo("published-data/publication/epodoc/EP1000000/images"));
    Save("ops_inquiry", "fake-certificate",
         FetchEpo("published-data/publication/docdb/US.7000001.B2/images"));
    Save("ops_inquiry", "fake-not-found", FetchEpo("published-data/publication/epodoc/EP9/images"));

    const std::string recorded =
        qvfix::readWholeFile(std::string(QV_OPS_RECORDED) + "/inquiry-WO2010050748A2.xml");
    Save("ops_inquiry", "recorded-WO2010050748A2", recorded);
    std::string twoResults = recorded;
    const size_t begin = recorded.find("<ops:inquiry-result>");
    const size_t end = recorded.find("</ops:inquiry-result>");
    if (begin != std::string::npos && end != std::string::npos) {
        std::string second = recorded.substr(begin, end + 21 - begin);
        for (const char* from : {"/A2/", ">A2<"}) {
            const std::string to = from[0] == '/' ? "/B1/" : ">B1<";
            for (size_t at = second.find(from); at != std::string::npos; at = second.find(from))
                second.replace(at, 4, to);
        }
        twoResults.insert(end + 21, second);
    }
    Save("ops_inquiry", "two-results", twoResults);
    Save("ops_inquiry", "not-found",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<fault "
         "xmlns=\"http://ops.epo.org\">\n    <code>SERVER.EntityNotFound</code>\n    "
         "<message>No results found</message>\n</fault>\n");
}

// The recorded search answers, and a family whose first member is another document.
void PpubsSearchSeeds() {
    for (const char* name : {"search-6103599.json", "search-D645062.json", "search-RE43633.json",
                             "search-20160009839.json", "search-none.json"})
        Save("ppubs_search", name,
             qvfix::readWholeFile(std::string(QV_PPUBS_RECORDED) + "/" + name));
    std::string family =
        qvfix::readWholeFile(std::string(QV_PPUBS_RECORDED) + "/search-6103599.json");
    const size_t list = family.find("\"patents\":[");
    const size_t first = family.find('{', list);
    const size_t next = family.find("\"qtime\"");
    if (list != std::string::npos && first != std::string::npos && next != std::string::npos) {
        std::string other = family.substr(first, family.rfind(']', next) - first);
        for (size_t at = other.find("6103599"); at != std::string::npos; at = other.find("6103599"))
            other.replace(at, 7, "6103598");
        family.insert(first, other + ",");
    }
    Save("ppubs_search", "family-first-other", family);
}

void NumberSeeds() {
    // The forms the recognition and classification tests type.
    const char* typed[] = {"5,123,456",   "0005123456",    "20020000001",      "D0365123",
                           "d365123",     "PP012835",      "RE035136",         "RE35136A",
                           "T0106201",    "H0001520",      "AI000318",         "X0000001",
                           "9/836917",    "09/836,917",    "09\\836917",       "/836917",
                           "EP15",        "ep15",          "DE1234567",        "WO2004/012345",
                           "0",           "abc",           "5123456B1",        "HK1234",
                           "12abc",       "EP15\"/><X",    "100%s%n",          "-5",
                           "+0",          "123456789012",  "ÉP12 3",           "08/123456",
                           "EP1000000B1", "EP 1000000.A3", "US2002/0000001A1", "USRE35136E",
                           "d365123S"};
    int n = 0;
    for (const char* t : typed)
        Save("numbers", wxString::Format("typed-%02d", ++n).ToStdString(), t);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    wxInitializer wx;
    if (!wx.IsOk() || !qvNetInit())
        return 2;
    {
        qvfake::FakeService fake;
        if (!fake.ok()) {
            std::fprintf(stderr, "the fake services did not start\n");
            return 1;
        }
        TiffSeeds();
        PagePdfSeeds();
        UsptoSeeds(fake);
        EspacenetSeeds(fake);
        NumberSeeds();
        PpubsSearchSeeds();
        OpsInquirySeeds(fake);
    }
    qvNetCleanup();
    return g_failures == 0 ? 0 : 1;
}

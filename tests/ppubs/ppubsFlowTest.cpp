// The USPTO Patent Public Search flow against the fake through CONNECT + TLS: the recorded
// documents end to end, the service's refusals, and pacing that provokes no 429.
#include "fakeService.h"
#include "pdfCheck.h"
#include "ppubsDocument.h"
#include "ppubsFast.h"
#include "testutil.h"

#include "httpSession.h"
#include "pdfWriter.h"

#include <gtest/gtest.h>

#include <wx/utils.h>

#include <cstdlib>
#include <thread>

namespace {

class PpubsFlow : public ::testing::Test {
protected:
    void SetUp() override {
        ppubs = &fake.enablePpubs();
        ASSERT_TRUE(ppubs->ok()) << ppubs->error();
        setenv("https_proxy", fake.proxyUrl().c_str(), 1);
        setenv("CURL_CA_BUNDLE", ppubs->caBundlePath().c_str(), 1);
        // The recorded buckets with their refill sped up a hundredfold.
        fast.reset(new FastPpubs(*ppubs, std::chrono::milliseconds(700), 20));
    }
    void TearDown() override {
        unsetenv("https_proxy");
        unsetenv("CURL_CA_BUNDLE");
        fast.reset();
    }

    // Fetches number into <dir>/<name>.pdf; the statuses shown go to `statuses`.
    PpubsOutcome Fetch(const std::string& number, wxString& error,
                       std::vector<std::string>* statuses = nullptr, std::string name = "") {
        PpubsQuery query;
        if (!PpubsQueryFor(number, query)) {
            error = "no query";
            return PpubsOutcome::Final;
        }
        httpSession http(ConnectionSettingsRecord{});
        PpubsHooks hooks;
        hooks.pause = [](long long ms) {
            wxMilliSleep(static_cast<unsigned long>(ms));
            return true;
        };
        std::mutex shown;
        auto show = [&](const wxString& s) {
            std::lock_guard<std::mutex> lock(shown);
            if (statuses)
                statuses->push_back(s.ToStdString());
        };
        hooks.status = show;
        ppubsClient client(http, hooks);
        PpubsFetch fetch;
        fetch.status = show;
        fetch.page = [&](const wxString& s, int, int) { show(s); };
        const std::string path = dir.file((name.empty() ? number : name) + ".pdf");
        fetch.makeWriter = [path](int pages, const PdfDocumentInfo& info) {
            return std::unique_ptr<pdfWriter>(new pdfWriter(wxString::FromUTF8(path), pages, info));
        };
        std::unique_ptr<pdfWriter> writer;
        PpubsOutcome got = FetchPpubsDocument(client, query, fetch, writer, error);
        if (got == PpubsOutcome::Ok && !writer->Close()) {
            error = writer->m_message;
            got = PpubsOutcome::Final;
        }
        return got;
    }

    // The raw CCITT streams of every image, in page order, as poppler's pdfimages takes them.
    std::vector<std::string> CcittStreams(const std::string& pdf, const std::string& tag) {
        const std::string prefix = dir.file("img-" + tag);
        EXPECT_EQ(qvtest::runCommand("pdfimages -ccitt '" + pdf + "' '" + prefix + "'"), 0);
        std::vector<std::string> streams;
        for (int i = 0;; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "-%03d.ccitt", i);
            if (!qvtest::fileExists(prefix + name))
                break;
            streams.push_back(qvtest::readFile(prefix + name));
        }
        return streams;
    }

    qvfake::FakeService fake;
    qvfake::PpubsFake* ppubs = nullptr;
    std::unique_ptr<FastPpubs> fast;
    qvtest::TempDir dir{"qv-ppubs"};
};

TEST_F(PpubsFlow, RecordedDocumentsArriveLosslessly) {
    struct Row {
        const char* number;
        int pages;
        const char* subject;
    } rows[] = {
        {"6103599", 12, "US 6103599 A, from the USPTO Patent Public Search"},
        {"D645062", 8, "US D645062 S, from the USPTO Patent Public Search"},
        {"RE43633", 22, "US RE43633 E, from the USPTO Patent Public Search"},
        {"20160009839", 17, "US 20160009839 A1, from the USPTO Patent Public Search"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.number);
        const qvfake::PpubsDocument doc = qvfake::ppubsRecordedDocument(row.number, 320, 400);
        ASSERT_FALSE(doc.pdf.empty());
        ppubs->addDocument(doc);
        wxString error;
        std::vector<std::string> statuses;
        ASSERT_EQ(Fetch(row.number, error, &statuses), PpubsOutcome::Ok) << error;

        const std::string ours = dir.file(std::string(row.number) + ".pdf");
        EXPECT_TRUE(pdfcheck::QpdfClean(ours));
        const std::string served = dir.file(std::string(row.number) + "-served.pdf");
        ASSERT_TRUE(qvtest::writeFile(served, doc.pdf));
        const std::vector<std::string> want = CcittStreams(served, std::string(row.number) + "s");
        ASSERT_EQ(want.size(), size_t(row.pages));
        EXPECT_TRUE(want == CcittStreams(ours, row.number)) << "page images differ";
        EXPECT_NE(qvtest::readFile(ours).find(row.subject), std::string::npos);

        ASSERT_GE(statuses.size(), 3u);
        EXPECT_EQ(statuses[0], "Searching the USPTO");
        EXPECT_EQ(statuses[1], "USPTO Preparing " + std::to_string(row.pages) + " Pages");
        EXPECT_EQ(statuses.back(), "Downloading page " + std::to_string(row.pages) + " of " +
                                       std::to_string(row.pages));
    }
    // Every request through a tunnel, named honestly, and one session for all four.
    size_t tunnelled = 0;
    for (const qvfake::RecordedRequest& r : fake.requests()) {
        if (r.server == "connect") {
            EXPECT_EQ(r.target, "ppubs.uspto.gov:443");
        }
        if (r.server != "tls")
            continue;
        ++tunnelled;
        EXPECT_EQ(r.header("User-Agent"), "Quorvane/2." + std::to_string(QV_VERSION_MINOR));
    }
    EXPECT_GE(tunnelled, 4u * 5);
    EXPECT_EQ(ppubs->stats().sessions, 1);
    EXPECT_EQ(ppubs->stats().tooManyRequests, 0);
}

TEST_F(PpubsFlow, RefusalsAndRecoveries) {
    ppubs->addDocument(qvfake::ppubsRecordedDocument("D645062", 320, 400));
    wxString error;
    std::vector<std::string> statuses;

    // 429: the wait it asks for, then the same search again.
    ppubs->addRule("searchWithBeFamily", qvfake::PpubsFault::TooMany, 1, 0);
    ASSERT_EQ(Fetch("D645062", error, &statuses), PpubsOutcome::Ok) << error;
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "USPTO Asks to Wait, Resuming in 1s"),
              statuses.end());
    EXPECT_EQ(ppubs->stats().searches, 1);

    // An expired session: a new one once, and the request replayed.
    ppubs->expireSessions();
    ASSERT_EQ(Fetch("D645062", error), PpubsOutcome::Ok) << error;
    EXPECT_EQ(ppubs->stats().sessions, 2);
    EXPECT_EQ(ppubs->stats().forbidden, 1);
    // A 403 that stays: no endless renewals, the job counts down.
    ppubs->addRule("/api/searches/", qvfake::PpubsFault::Forbidden, -1);
    EXPECT_EQ(Fetch("D645062", error), PpubsOutcome::Retry);
    EXPECT_EQ(ppubs->stats().sessions, 3);
    ppubs->clearRules();

    // A print job that fails, and a page that is not a fax image, end the document.
    ppubs->addRule("print-process", qvfake::PpubsFault::PrintFailed);
    EXPECT_EQ(Fetch("D645062", error), PpubsOutcome::Final);
    EXPECT_EQ(error, "USPTO Could Not Prepare the PDF");
    ppubs->addRule("/api/print/save/", qvfake::PpubsFault::NonCcittSave);
    EXPECT_EQ(Fetch("D645062", error, nullptr, "refused"), PpubsOutcome::Final);
    EXPECT_EQ(error, "USPTO PDF page 2: Page PDF image is not CCITT fax coded");
    EXPECT_FALSE(qvtest::fileExists(dir.file("refused.pdf")));

    // No such document, and the service down.
    EXPECT_EQ(Fetch("7654321", error), PpubsOutcome::NotFound);
    fake.addRule("ppubs.uspto.gov", "", qvfake::Fault::Status500, -1);
    EXPECT_EQ(Fetch("D645062", error), PpubsOutcome::Retry);
    EXPECT_EQ(error, "Server Error 500");
    EXPECT_EQ(ppubs->stats().tooManyRequests, 0);
}

TEST_F(PpubsFlow, ThreeAtOnceNeverEmptyTheBuckets) {
    // A print bucket that three unpaced jobs would empty within a second.
    fast.reset(); // before the new one, whose settings it would undo
    fast.reset(new FastPpubs(*ppubs, std::chrono::milliseconds(2000), 20));
    ppubs->setPrintBucket({4, std::chrono::milliseconds(2000)});
    std::vector<std::string> numbers;
    for (int i = 0; i < 9; ++i) {
        numbers.push_back(std::to_string(7100001 + i));
        ppubs->addDocument(
            qvfake::ppubsDocument(numbers.back(), {qvfix::makeTiff(), qvfix::makeTiff()}));
    }
    std::vector<std::thread> threads;
    std::atomic<int> done{0};
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = size_t(t); i < numbers.size(); i += 3) {
                wxString error;
                if (Fetch(numbers[i], error) == PpubsOutcome::Ok)
                    ++done;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(done, 9);
    EXPECT_EQ(ppubs->stats().saves, 9);
    EXPECT_EQ(ppubs->stats().tooManyRequests, 0);
}

} // namespace

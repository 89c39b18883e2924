// The USPTO job against the ppubs and EPO fakes: where a US number ends, with and without an
// EPO key, when the USPTO has it, has it not, or cannot be reached.
#include "opsJobHarness.h"
#include "ppubs.h"
#include "ppubsFast.h"

namespace {

class PpubsJob : public OpsJob {
protected:
    void SetUp() override {
        OpsJob::SetUp();
        uspto = &fake->enablePpubs();
        fast.reset(new FastPpubs(*uspto, std::chrono::milliseconds(700), 10));
    }
    void TearDown() override {
        OpsJob::TearDown();
        fast.reset();
    }
    std::unique_ptr<FastPpubs> fast;
    qvfake::PpubsFake* uspto = nullptr;
};

TEST_F(PpubsJob, UsNumbersEndAtTheUsptoOrTheEpoByTheRules) {
    const std::vector<std::string> pages = Pages(2);
    uspto->addDocument(qvfake::ppubsDocument("D645062", pages));
    service->addPublication(qvfake::opsPublication("US", "7000001", "B2", pages));
    struct Row {
        const char* number;
        bool key;
        bool uspto500;
        const char* shown; // a status the row must show
        const char* last;  // its last status
        bool epo;          // the EPO was asked
    } rows[] = {
        {"D645062", true, false, "USPTO Preparing 2 Pages", "Finished!", false},
        {"7000001", true, false, "Not at the USPTO, Asking the EPO", "Finished!", true},
        {"7000001", false, false, "Searching the USPTO", "Not Found!", false},
        {"7000001", true, true, "USPTO Unreachable (Server Error 500), Asking the EPO", "Finished!",
         true},
        {"7000001", false, true, "Error Server Error 500 Reconnecting in 1s", "", false},
    };
    int id = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.number) + (row.key ? " with a key" : " without a key"));
        ++id;
        for (const std::string& f : Files())
            wxRemoveFile(Path(f));
        fake->clearRequests();
        fake->clearRules();
        if (row.uspto500)
            fake->addRule("ppubs.uspto.gov", "", qvfake::Fault::Status500, -1);
        ppubs* job = new ppubs(id, JobInput(row.number), row.key ? key : OpsCredentials());
        if (*row.last) {
            ASSERT_TRUE(Run(job));
        } else {
            // Without a key the job counts down for as long as the USPTO is away.
            Start(job);
            ASSERT_TRUE(WaitUntil(
                [&] { return recorder->CountStatusesContaining(id, "Reconnecting in 1s") >= 4; }));
            job->RequestStop();
            job->Wait();
            delete job;
        }
        EXPECT_GE(recorder->CountStatusesContaining(id, row.shown), 1u);
        if (*row.last) {
            EXPECT_EQ(recorder->Statuses(id).back(), row.last);
        }
        EXPECT_EQ(RequestsTo("ops.epo.org").empty(), !row.epo);
        if (row.uspto500 && row.key) {
            size_t asked = 0; // requests inside the tunnels, not the CONNECTs
            for (const qvfake::RecordedRequest& r : RequestsTo("ppubs.uspto.gov"))
                asked += r.server == "tls";
            EXPECT_EQ(asked, size_t(ppubs::kAttemptsBeforeEpo));
        }
    }
    EXPECT_EQ(uspto->stats().tooManyRequests, 0);
}

} // namespace

// The one queue's rules, as both views drive it: real jobs against the fake services, the
// job events handed to the queue as the window and quorvane-get hand them.
#include "downloadQueue.h"
#include "fixtures.h"
#include "opsJobHarness.h"

#include <map>

namespace {

// A view of the queue: forwards the job events, keeps the reports the queue gives.
class QueueView : public wxEvtHandler {
public:
    explicit QueueView(JobContext context)
        : queue([context] { return context; },
                [this](JobRecord& r) { reports[r.id].push_back(r.last); },
                [this](JobRecord& r) { ++ended[r.id]; }) {
        Bind(wxEVT_JOB_STATUS, [this](wxThreadEvent& e) {
            JobProgress p;
            if (JobProgressOf(e, p))
                queue.Report(p);
        });
        Bind(wxEVT_JOB_PDF_READY,
             [this](wxThreadEvent& e) { queue.PdfReady(e.GetId(), e.GetString()); });
        Bind(wxEVT_JOB_ENDED, [this](wxThreadEvent& e) { queue.Ended(e.GetId()); });
    }
    // One letter per record in the order added: R running, W waiting, - ended.
    std::string States(size_t count) const {
        std::string out;
        for (int id = 0; id < static_cast<int>(count); ++id) {
            const JobRecord* r = queue.Find(id);
            out += r->finished ? '-' : r->job ? 'R' : 'W';
        }
        return out;
    }
    DownloadQueue queue;
    std::map<int, std::vector<JobProgress>> reports;
    std::map<int, int> ended;
};

QueueView* g_view = nullptr;
wxEvtHandler* CurrentView() {
    return g_view;
}

class DownloadQueueTest : public OpsJob {
protected:
    void TearDown() override {
        fake->releaseStalls();
        view.reset();
        g_view = nullptr;
        OpsJob::TearDown();
    }
    QueueView& MakeView(bool epoKey) {
        JobContext context;
        context.folder = wxGetCwd();
        if (epoKey)
            context.key = key;
        // The rules are those of the EPO's and the image servers' routes.
        context.usSource = epoKey ? UsSource::Epo : UsSource::UsptoImages;
        view = std::make_unique<QueueView>(context);
        g_view = view.get();
        SetJobEventTarget(&CurrentView);
        return *view;
    }
    bool AllEnded(size_t count) {
        return WaitUntil([&] {
            for (int id = 0; id < static_cast<int>(count); ++id)
                if (!view->queue.Find(id)->finished)
                    return false;
            return true;
        });
    }
    std::unique_ptr<QueueView> view;
};

std::vector<std::string> usPages(int count, unsigned seed = 1) {
    return qvfix::makeTiffPages(count, seed);
}

TEST_F(DownloadQueueTest, RulesAsOneTable) {
    fake->addUsptoDocument("1000001", usPages(1, 1));
    fake->addUsptoDocument("1000002", usPages(1, 2));
    fake->addUsptoDocument("1000003", usPages(2, 3));
    fake->addUsptoDocument("D0365123", usPages(1, 5));
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", Pages(2)));
    service->addPublication(qvfake::opsPublication("US", "5123456", "A", Pages(1, 7)));
    struct Case {
        const char* rule;
        bool epoKey;
        unsigned limit;
        std::vector<const char*> numbers;
        const char* atOnce; // States right after the first Dispatch
        std::vector<const char*> outcomes;
    } const cases[] = {
        {"at most limit run, the oldest waiting starts next",
         false,
         2,
         {"1000001", "1000002", "1000003"},
         "RRW",
         {"Finished!", "Finished!", "Finished!"}},
        {"limit 0 starts nothing", false, 0, {"1000001"}, "W", {}},
        {"no known form ends at once and takes no place",
         false,
         1,
         {"abc", "1000002"},
         "-R",
         {kUnknownFormatStatus, "Previously Downloaded!"}},
        {"the same file written two ways waits and is then there",
         false,
         3,
         {"D365123", "D0365123"},
         "RW",
         {"Finished!", "Previously Downloaded!"}},
        {"with a key the file is the EPO's name",
         true,
         4,
         {"EP1000000", "EP1000000.", "5123456", "US5123456"},
         "RWRW",
         {"Finished!", "Previously Downloaded!", "Finished!", "Previously Downloaded!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        QueueView& v = MakeView(c.epoKey);
        v.queue.SetLimit(c.limit);
        for (const char* n : c.numbers)
            v.queue.Add(std::make_unique<JobRecord>(n));
        v.queue.Dispatch();
        EXPECT_EQ(v.States(c.numbers.size()), c.atOnce);
        if (c.outcomes.empty()) {
            recorder->Pump();
            EXPECT_EQ(v.States(c.numbers.size()), c.atOnce);
            continue;
        }
        ASSERT_TRUE(AllEnded(c.numbers.size())) << v.States(c.numbers.size());
        for (int id = 0; id < static_cast<int>(c.numbers.size()); ++id) {
            const JobRecord* r = v.queue.Find(id);
            EXPECT_EQ(r->last.status, c.outcomes[static_cast<size_t>(id)]) << c.numbers[id];
            EXPECT_EQ(v.ended[id], r->valid ? 1 : 0) << c.numbers[id] << ": ended once";
        }
        EXPECT_EQ(v.queue.RunningCount(), 0u);
    }
    // Each document's pages were asked for once: the second writing fetched nothing.
    size_t usPagesAsked = 0, epoPagesAsked = 0;
    for (const qvfake::RecordedRequest& r : fake->requests()) {
        usPagesAsked += r.path.find("PageNum=") != std::string::npos;
        epoPagesAsked += r.server == "tls" && r.path.find(".tiff?Range=") != std::string::npos;
    }
    EXPECT_EQ(usPagesAsked, 1u + 1u + 2u + 1u);
    EXPECT_EQ(epoPagesAsked, 2u + 1u);
}

TEST_F(DownloadQueueTest, CancelStopAllAndWhatStopsWithTheJobs) {
    fake->addUsptoDocument("1000011", usPages(1, 1));
    fake->addUsptoDocument("1000012", usPages(2, 2));
    // Every page list stalls until released.
    fake->addRule("", ".piw", qvfake::Fault::Stall, -1);
    QueueView& v = MakeView(false);
    v.queue.SetLimit(2);
    for (const char* n : {"1000011", "1000012", "1000013", "1000014"})
        v.queue.Add(std::make_unique<JobRecord>(n));
    v.queue.Dispatch();
    ASSERT_EQ(v.States(4), "RRWW");

    // A waiting record never starts; a running one stops. The place is taken when the
    // next job ends, not by the cancel.
    v.queue.Cancel(*v.queue.Find(2));
    v.queue.Cancel(*v.queue.Find(0));
    EXPECT_EQ(v.States(4), "-R-W");
    EXPECT_EQ(v.queue.Find(0)->last.phase, JobPhase::Cancelled);
    EXPECT_EQ(v.queue.Find(0)->last.status, "Cancelled");
    EXPECT_EQ(v.ended[0], 1);

    // Stop-all asks every job, then waits for all; what was not done ends Cancelled.
    v.queue.StopAll();
    EXPECT_EQ(v.queue.RunningCount(), 0u);
    EXPECT_EQ(v.queue.WaitingCount(), 0u);
    recorder->Pump();
    v.queue.EndUnfinished();
    EXPECT_EQ(v.States(4), "----");
    for (int id : {1, 3}) {
        EXPECT_EQ(v.queue.Find(id)->last.status, "Cancelled") << id;
        EXPECT_EQ(v.ended[id], 1) << id;
    }
    // Nothing starts after a stop, and no file is left under a PDF's name.
    v.queue.Dispatch();
    EXPECT_TRUE(Files().empty());
}

} // namespace

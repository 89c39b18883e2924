// The typed report every job posts with its status text, for each job kind against the
// fakes: phases, pages, the publication taken, the file.
#include "fixtures.h"
#include "opsJobHarness.h"
#include "pct.h"
#include "uspto.h"

namespace {

std::vector<std::string> tiffPages(int count) {
    std::vector<std::string> pages;
    for (int i = 0; i < count; ++i) {
        qvfix::FixtureOptions o;
        o.seed = 60 + static_cast<unsigned>(i);
        pages.push_back(qvfix::makeTiff(o));
    }
    return pages;
}

// "phase page/count" for every report of job id, in order.
std::vector<std::string> Reports(const EventRecorder& recorder, int id) {
    static const char* const names[] = {"Waiting",  "LookingUp",    "Downloading", "Countdown",
                                        "Finished", "AlreadyThere", "NotFound",    "UnknownFormat",
                                        "Failed",   "Cancelled"};
    std::vector<std::string> out;
    for (const JobProgress& p : recorder.reports) {
        if (p.id != id)
            continue;
        std::string line = names[static_cast<int>(p.phase)];
        if (p.pageCount > 0)
            line += " " + std::to_string(p.page) + "/" + std::to_string(p.pageCount);
        out.push_back(line);
    }
    return out;
}

class JobReport : public OpsJob {};

TEST_F(JobReport, EveryJobKindReportsPhasesPagesAndItsFile) {
    fake->addUsptoDocument("5123456", tiffPages(2));
    qvfake::EspacenetDocument ep;
    ep.id = "EP.1000001.A1";
    ep.pages = tiffPages(3);
    fake->addEspacenetDocument("EP1000001", ep);
    service->addPublication(qvfake::opsPublication("EP", "1000000", "B1", Pages(2)));
    struct Case {
        const char* kind;
        std::function<ziv2ize*(int)> make;
        std::string file;
        std::vector<std::string> reports;
        const char* publication;
    } const cases[] = {
        {"uspto",
         [](int id) { return new uspto(id, wxString("5123456")); },
         "5123456.pdf",
         {"LookingUp", "LookingUp", "Downloading 1/2", "Downloading 2/2", "Finished 2/2"},
         ""},
        {"pct",
         [](int id) { return new pct(id, wxString("EP1000001")); },
         "EP1000001.pdf",
         {"LookingUp", "LookingUp", "Downloading 1/3", "Downloading 2/3", "Downloading 3/3",
          "Finished 3/3"},
         ""},
        {"ops",
         [this](int id) { return MakeJob(id, "EP1000000"); },
         "EP1000000.pdf",
         {"LookingUp", "LookingUp", "Downloading 1/2", "Downloading 2/2", "Finished 2/2"},
         "EP 1000000 B1"},
    };
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        // Made, then asked again: the second finds the file in place.
        ASSERT_TRUE(Run(c.make(++id)));
        EXPECT_EQ(Reports(*recorder, id), c.reports);
        const JobProgress& last = recorder->reports.back();
        EXPECT_EQ(last.status, "Finished!");
        EXPECT_EQ(last.file, Path(c.file));
        EXPECT_EQ(last.publication, c.publication);
        ASSERT_TRUE(Run(c.make(++id)));
        EXPECT_EQ(Reports(*recorder, id).back(), "AlreadyThere");
        EXPECT_EQ(recorder->reports.back().file, Path(c.file));
    }
    // The end phases of documents that are not there.
    ASSERT_TRUE(Run(new uspto(++id, wxString("7777777"))));
    EXPECT_EQ(Reports(*recorder, id).back(), "NotFound");
    ASSERT_TRUE(Run(MakeJob(++id, "EP9999999")));
    EXPECT_EQ(Reports(*recorder, id).back(), "NotFound");
    ASSERT_TRUE(Run(MakeJob(++id, "09/836917")));
    EXPECT_EQ(Reports(*recorder, id).back(), "UnknownFormat");
    EXPECT_EQ(recorder->reports.back().status, kUnknownFormatStatus);
}

} // namespace

// A download killed with SIGKILL in the middle of a document: nothing appears under the
// final name, and a new job for the same number fetches the whole document again, whatever
// temporary files were left behind.
#include "jobHarness.h"

#include "fixtures.h"
#include "uspto.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char** environ;

namespace {

using qvfake::Fault;

class CrashSafety : public JobTest {};

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

TEST_F(CrashSafety, KilledDownloadLeavesNoFileAndANewJobFetchesItAll) {
    const char number[] = "5000200";
    const int pageCount = 16;
    std::vector<std::string> pages;
    for (int i = 0; i < pageCount; ++i) {
        qvfix::FixtureOptions o;
        o.seed = 60 + static_cast<unsigned>(i);
        pages.push_back(qvfix::makeTiff(o));
    }
    fake->addUsptoDocument(number, pages);
    // Pages come slowly, so that the kill lands in the middle of the document.
    fake->addRule("patimg2.uspto.gov", "PageNum=", Fault::None, -1, std::chrono::milliseconds(60));

    // The helper runs the job in the download folder, through the fake (http_proxy is
    // inherited), and prints its statuses to a file outside that folder.
    qvtest::TempDir logDir("qvcrashlog");
    const std::string log = logDir.file("statuses.txt");
    const std::string folder = Path("");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string helper = QV_CRASH_HELPER;
    std::vector<char*> args = {&helper[0], const_cast<char*>(folder.c_str()),
                               const_cast<char*>(number), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, helper.c_str(), &actions, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    const bool midway = WaitUntil([&] {
        return qvtest::readFile(log).find("Downloading page 6 of 16") != std::string::npos;
    });
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(midway) << "the helper did not get to page 6: " << qvtest::readFile(log);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(qvtest::readFile(log).find("Finished!"), std::string::npos);

    // Only the killed writer's temporary file is there, and it is no finished PDF.
    std::vector<std::string> left = Files();
    ASSERT_EQ(left.size(), 1u) << "a partial file and nothing else";
    const std::string partial = left[0];
    EXPECT_EQ(partial.rfind(std::string(".") + number + ".pdf.", 0), 0u) << partial;
    EXPECT_TRUE(EndsWith(partial, ".part")) << partial;
    const std::string partialBytes = qvtest::readFile(Path(partial));
    EXPECT_EQ(partialBytes.rfind("%PDF-1.1", 0), 0u);
    EXPECT_EQ(partialBytes.find("%%EOF"), std::string::npos);

    // Leftovers under the names this process's writers would pick first, as after a crash
    // of an earlier process with the same id.
    std::vector<std::string> planted;
    for (int k = 0; k < 4; ++k) {
        planted.push_back(std::string(".") + number + ".pdf." + std::to_string(getpid()) + "." +
                          std::to_string(k) + ".part");
        ASSERT_TRUE(qvtest::writeFile(Path(planted.back()), "%PDF-1.1 leftover " + planted.back()));
    }

    fake->clearRules();
    fake->clearRequests();
    ASSERT_TRUE(Run(new uspto(1, number), 60000));
    const std::vector<std::string> statuses = recorder->Statuses(1);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Previously Downloaded!"), 0);
    EXPECT_EQ(statuses.back(), "Finished!");
    EXPECT_EQ(RequestsTo("patimg2.uspto.gov").size(), 1u + pageCount) << "every page again";
    EXPECT_TRUE(PdfMatchesPages(Path(std::string(number) + ".pdf"), pages));

    // The killed process's partial file is gone with it; this process's names are untouched.
    EXPECT_FALSE(qvtest::fileExists(Path(partial)));
    for (const std::string& name : planted)
        EXPECT_EQ(qvtest::readFile(Path(name)), "%PDF-1.1 leftover " + name);
    left = Files();
    EXPECT_EQ(left.size(), 1u + planted.size());
}

} // namespace

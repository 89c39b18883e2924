// quorvane-get as a user runs it: a real process without a display, the fake remote
// services as its proxy, a settings folder and a download folder of its own.
#include "fakeService.h"
#include "fixtures.h"
#include "settings.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> pagesOf(int count, unsigned seed = 1) {
    return qvfix::makeTiffPages(count, seed);
}

// Names in a folder, sorted ("" for a missing folder).
std::string listing(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names)
        out += (out.empty() ? "" : " ") + n;
    return out;
}

int pdfPages(const std::string& pdf) {
    std::string out;
    if (qvtest::runCommand("qpdf --check '" + pdf + "' >/dev/null 2>&1") != 0 ||
        qvtest::runCommand("qpdf --show-npages '" + pdf + "'", &out) != 0)
        return -1;
    return std::atoi(out.c_str());
}

// One JSON line as an independent reader (jq) sees it: number, status, file, pages, each as
// jq prints it (strings quoted, null as null). Empty when the line is not one JSON object
// with exactly these members.
struct JsonLine {
    std::string number, status, file, pages;
};
bool readJsonLine(const std::string& line, const std::string& dir, JsonLine& out) {
    const std::string path = dir + "/line.json";
    qvtest::writeFile(path, line);
    std::string text;
    const int rc =
        qvtest::runCommand("jq -e -c 'if (keys == [\"file\",\"number\",\"pages\",\"status\"]) then "
                           "(.number, .status, .file, .pages) else error(\"members\") end' '" +
                               path + "' 2>&1",
                           &text);
    std::istringstream in(text);
    if (rc != 0 && rc != 1) // 1: the last value was null, which -e reports
        return false;
    return std::getline(in, out.number) && std::getline(in, out.status) &&
           std::getline(in, out.file) && std::getline(in, out.pages);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

class GetProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_fake.ok());
        qvtest::runCommand("mkdir -p '" + m_dir.file("config") + "' '" + out() + "'");
    }
    void TearDown() override { m_fake.releaseStalls(); }

    std::string out() const { return m_dir.file("out"); }

    struct Run {
        int status = -1;
        std::string out, err;
        double seconds = 0; // from the signal (when one was sent) to the end
    };

    // Starts quorvane-get with args, standard output and error into files, standard input
    // from stdinFile (or /dev/null). The environment has no display, the fake as proxy and
    // a settings folder of the test's own.
    pid_t spawn(const std::vector<std::string>& args, const std::string& stdinFile = "",
                int stdoutFd = -1) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string var = *e;
            const std::string name = var.substr(0, var.find('='));
            if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "http_proxy" &&
                name != "HTTP_PROXY" && name != "no_proxy" && name != "NO_PROXY" &&
                name != "XDG_CONFIG_HOME" && name != "HOME" && name.rfind("QUORVANE_", 0) &&
                name != "https_proxy" && name != "HTTPS_PROXY" && name != "CURL_CA_BUNDLE")
                env.push_back(var);
        }
        env.insert(env.end(), m_extraEnv.begin(), m_extraEnv.end());
        // These tests are of the image servers' and the EPO's routes (the first value of a
        // name counts: a test's own comes first).
        env.push_back("QUORVANE_US_SOURCE=uspto-images");
        env.push_back("http_proxy=" + m_fake.proxyUrl());
        env.push_back("XDG_CONFIG_HOME=" + m_dir.file("config"));
        env.push_back("HOME=" + m_dir.path());
        std::vector<char*> envp, argv;
        for (std::string& e : env)
            envp.push_back(&e[0]);
        envp.push_back(nullptr);
        std::vector<std::string> all = {QV_GET};
        all.insert(all.end(), args.begin(), args.end());
        for (std::string& a : all)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(
            &actions, 0, stdinFile.empty() ? "/dev/null" : stdinFile.c_str(), O_RDONLY, 0);
        if (stdoutFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, m_dir.file("stdout").c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, m_dir.file("stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        // The folder the program is started in: where it downloads without -o.
        posix_spawn_file_actions_addchdir_np(&actions, out().c_str());
        pid_t pid = -1;
        if (posix_spawn(&pid, QV_GET, &actions, nullptr, argv.data(), envp.data()) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    Run wait(pid_t pid, Clock::time_point since = Clock::now()) {
        Run r;
        int st = 0;
        // A hang is a failure, not a stuck test run.
        for (int i = 0; i < 600; ++i) {
            if (::waitpid(pid, &st, WNOHANG) == pid) {
                r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (r.status == -1) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &st, 0);
        }
        r.seconds = std::chrono::duration<double>(Clock::now() - since).count();
        r.out = qvtest::readFile(m_dir.file("stdout"));
        r.err = qvtest::readFile(m_dir.file("stderr"));
        return r;
    }

    Run run(const std::vector<std::string>& args, const std::string& stdinFile = "") {
        const pid_t pid = spawn(args, stdinFile);
        EXPECT_GT(pid, 0);
        return pid > 0 ? wait(pid) : Run();
    }

    // The EPO service with EP 1000000 B1 (two pages) and US 5123456 A, reached through the
    // fake as proxy; the sample key in the environment unless told otherwise.
    qvfake::OpsFake& StartEpo(bool keyInEnvironment = true) {
        qvfake::OpsFake& ops = m_fake.enableOps();
        ops.addPublication(qvfake::opsPublication("EP", "1000000", "B1",
                                                  {qvfake::opsPage(1), qvfake::opsPage(2)}, {}));
        ops.addPublication(qvfake::opsPublication("US", "5123456", "A", {qvfake::opsPage(3)}, {}));
        m_extraEnv = {"https_proxy=" + m_fake.proxyUrl(), "CURL_CA_BUNDLE=" + ops.caBundlePath(),
                      "QUORVANE_US_SOURCE=epo"};
        if (keyInEnvironment) {
            m_extraEnv.push_back(std::string("QUORVANE_OPS_KEY=") + qvfake::kOpsSampleKey);
            m_extraEnv.push_back(std::string("QUORVANE_OPS_SECRET=") + qvfake::kOpsSampleSecret);
        }
        return ops;
    }

    qvtest::TempDir m_dir{"qv-get"};
    qvfake::FakeService m_fake;
    std::vector<std::string> m_extraEnv;
};

TEST_F(GetProcessTest, WithAnEpoKeyEveryNumberComesFromTheEpo) {
    qvfake::OpsFake& ops = StartEpo();
    ASSERT_TRUE(ops.ok());
    const Run r = run({"--quiet", "-o", out(), "EP1000000", "5,123,456"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(qvtest::fileExists(out() + "/EP1000000.pdf")) << r.out;
    EXPECT_TRUE(qvtest::fileExists(out() + "/5123456.pdf")) << r.out;
    for (const qvfake::RecordedRequest& q : m_fake.requests())
        EXPECT_NE(q.host, "patimg1.uspto.gov") << "no request to the retired hosts";
    EXPECT_EQ(r.out.find(qvfake::kOpsSampleSecret), std::string::npos);
}

TEST_F(GetProcessTest, EpoPagesInJsonAndOneDocumentWrittenTwoWaysIsFetchedOnce) {
    qvfake::OpsFake& ops = StartEpo();
    ASSERT_TRUE(ops.ok());
    const Run r =
        run({"--json", "-j", "4", "-o", out(), "EP1000000", "EP1000000.", "5123456", "US5123456"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::map<std::string, JsonLine> byNumber;
    for (const std::string& line : lines(r.out)) {
        JsonLine j;
        ASSERT_TRUE(readJsonLine(line, m_dir.path(), j)) << line;
        byNumber[j.number] = j;
    }
    const std::string ep = "\"" + out() + "/EP1000000.pdf\"", us = "\"" + out() + "/5123456.pdf\"";
    const std::vector<std::vector<std::string>> want = {
        {"\"EP1000000\"", "\"Finished!\"", ep, "2"},
        {"\"EP1000000.\"", "\"Previously Downloaded!\"", ep, "null"},
        {"\"5123456\"", "\"Finished!\"", us, "1"},
        {"\"US5123456\"", "\"Previously Downloaded!\"", us, "null"},
    };
    ASSERT_EQ(byNumber.size(), want.size()) << r.out;
    for (const std::vector<std::string>& w : want) {
        const JsonLine& j = byNumber[w[0]];
        EXPECT_EQ(j.status, w[1]) << w[0];
        EXPECT_EQ(j.file, w[2]) << w[0];
        EXPECT_EQ(j.pages, w[3]) << w[0];
    }
    // The second writing of each waited for the first: every page was asked for once.
    size_t pageRequests = 0;
    for (const qvfake::RecordedRequest& req : m_fake.requests())
        pageRequests += req.path.find(".tiff?Range=") != std::string::npos;
    EXPECT_EQ(pageRequests, 3u);
}

// The key as the window stores it reaches the EPO unchanged, although its scrambled form
// holds '\\', '$' and '%'.
TEST_F(GetProcessTest, TheKeyStoredByTheWindowReachesTheEpoUnchanged) {
    qvfake::OpsFake& ops = StartEpo(false);
    ASSERT_TRUE(ops.ok());
    const std::string secret = "7aK3b3BDREc5d2e7a3BDRE5b7";
    ops.setKeys({{"storedKey", secret}});
    setenv("XDG_CONFIG_HOME", m_dir.file("config").c_str(), 1);
    OpsKey = OpsKeyRecord{"storedKey", wxString::FromUTF8(secret)};
    { SaveClosingSettings(*OpenSettings(), ClosingState()); }
    OpsKey = OpsKeyRecord();
    unsetenv("XDG_CONFIG_HOME");
    const Run r = run({"--quiet", "-o", out(), "EP1000000"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(qvtest::fileExists(out() + "/EP1000000.pdf")) << r.out;
}

TEST_F(GetProcessTest, MixedListGivesOneOutcomePerNumberTheRightFilesAndExitOne) {
    m_fake.addUsptoDocument("1000101", pagesOf(2, 1));
    m_fake.addUsptoDocument("1000103", pagesOf(1, 5));
    qvfake::EspacenetDocument ep;
    ep.pages = pagesOf(3, 7);
    m_fake.addEspacenetDocument("EP1000000", ep);
    ASSERT_TRUE(qvtest::writeFile(out() + "/1000103.pdf", "kept")); // already on disk
    // Known, unknown at the service, invalid, a duplicate, on disk; CR LF and comments.
    ASSERT_TRUE(qvtest::writeFile(m_dir.file("refs.txt"),
                                  "# search report\r\n1000101\r\n\r\n1,000,102\r\nabc\r\n"));
    const Run r = run({"--json", "-j", "3", "-o", out(), "-f", m_dir.file("refs.txt"), "EP1000000",
                       "1,000,101", "1000103"});
    EXPECT_EQ(r.status, 1) << r.err;

    std::map<std::string, JsonLine> byNumber;
    for (const std::string& line : lines(r.out)) {
        JsonLine j;
        ASSERT_TRUE(readJsonLine(line, m_dir.path(), j)) << line;
        EXPECT_TRUE(byNumber.emplace(j.number, j).second) << "twice: " << line;
    }
    ASSERT_EQ(byNumber.size(), 6u) << r.out;
    struct Want {
        const char* number;
        const char* status;
        std::string file;
        const char* pages;
    } const want[] = {
        // The command line comes before the list: its 1,000,101 is the first of the two.
        {"\"1,000,101\"", "\"Finished!\"", "\"" + out() + "/1000101.pdf\"", "2"},
        {"\"1,000,102\"", "\"Not Found\"", "null", "null"},
        {"\"abc\"", "\"Unknown Patent/Application Format\"", "null", "null"},
        {"\"EP1000000\"", "\"Finished!\"", "\"" + out() + "/EP1000000.pdf\"", "3"},
        {"\"1000101\"", "\"Previously Downloaded!\"", "\"" + out() + "/1000101.pdf\"", "null"},
        {"\"1000103\"", "\"Previously Downloaded!\"", "\"" + out() + "/1000103.pdf\"", "null"},
    };
    for (const Want& w : want) {
        const JsonLine& j = byNumber[w.number];
        EXPECT_EQ(j.status, w.status) << w.number;
        EXPECT_EQ(j.file, w.file) << w.number;
        EXPECT_EQ(j.pages, w.pages) << w.number;
    }

    EXPECT_EQ(listing(out()), "1000101.pdf 1000103.pdf EP1000000.pdf");
    EXPECT_EQ(pdfPages(out() + "/1000101.pdf"), 2);
    EXPECT_EQ(pdfPages(out() + "/EP1000000.pdf"), 3);
    EXPECT_EQ(qvtest::readFile(out() + "/1000103.pdf"), "kept");
    // The duplicate waited for the first and fetched nothing: two pages, asked once each.
    size_t pageRequests = 0;
    for (const qvfake::RecordedRequest& req : m_fake.requests())
        if (req.path.find("PageNum=") != std::string::npos)
            ++pageRequests;
    EXPECT_EQ(pageRequests, 2u);
}

TEST_F(GetProcessTest, AllGoodListFromStandardInputExitsZeroWithAPlainLineEach) {
    m_fake.addUsptoDocument("1000201", pagesOf(1, 1));
    m_fake.addUsptoDocument("1000202", pagesOf(2, 2));
    ASSERT_TRUE(qvtest::writeFile(m_dir.file("stdin"), "1000201\n1000202\n"));
    // Not a terminal: no live display, no control sequences; -o is made when missing.
    const std::string folder = m_dir.file("new/patents");
    const Run r = run({"-o", folder, "-f", "-"}, m_dir.file("stdin"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    const std::vector<std::string> got = lines(r.out);
    ASSERT_EQ(got.size(), 2u) << r.out;
    for (const std::string& line : got) {
        const bool first = line.compare(0, 9, "1000201: ") == 0;
        const std::string want = first
                                     ? "1000201: Finished!, 1 page -> " + folder + "/1000201.pdf"
                                     : "1000202: Finished!, 2 pages -> " + folder + "/1000202.pdf";
        EXPECT_EQ(line, want);
    }
    EXPECT_EQ(pdfPages(folder + "/1000202.pdf"), 2);

    // Without -o the current folder; again, both are there already: still a success.
    const Run again = run({"--quiet", "1000201", "1000202"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(listing(out()), "1000201.pdf 1000202.pdf");
    const Run twice = run({"--quiet", "1000201"});
    EXPECT_EQ(twice.status, 0);
    EXPECT_EQ(twice.out, "1000201: Previously Downloaded! -> " + out() + "/1000201.pdf\n");
}

TEST_F(GetProcessTest, UsageErrorsExitTwoAndFetchNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {"-x", "1000301"},
        {"-j", "0", "1000301"},
        {"-j", "512", "1000301"},
        {"-j", "two", "1000301"},
        {"-j"},
        {"-o"},
        {},
        {"--quiet", "--json"},
        {"-f", m_dir.file("none.txt")},
        {"-f", m_dir.file("empty.txt")},
    };
    ASSERT_TRUE(qvtest::writeFile(m_dir.file("empty.txt"), "# nothing\n\n"));
    for (const auto& args : bad) {
        const Run r = run(args);
        std::string shown;
        for (const std::string& a : args)
            shown += a + " ";
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(r.err.compare(0, 14, "quorvane-get: "), 0) << shown << r.err;
        EXPECT_EQ(r.out, "") << shown;
    }
    EXPECT_EQ(m_fake.requestCount(), 0u);
    EXPECT_EQ(listing(out()), "");

    const Run help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"-o DIR", "-j N", "-f FILE", "--quiet", "--json", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    const Run version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("quorvane-get ") + QV_VERSION + "\n");
}

TEST_F(GetProcessTest, StopSignalCancelsEveryJobAtOnceAndLeavesNoUnfinishedFile) {
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig == SIGINT ? "SIGINT" : "SIGTERM");
        m_fake.clearRules();
        m_fake.releaseStalls();
        m_fake.clearRequests();
        qvtest::runCommand("rm -rf '" + out() + "' && mkdir '" + out() + "'");
        // One quick document; three that hang after their first page (the PDF is begun),
        // the rest wait for a place.
        m_fake.addUsptoDocument("1000400", pagesOf(1, 1));
        std::vector<std::string> args = {"--json", "-j", "4", "-o", out(), "1000400"};
        for (int n = 1; n <= 5; ++n) {
            const std::string docid = "100040" + std::to_string(n);
            m_fake.addUsptoDocument(docid, pagesOf(3, 1));
            m_fake.addRule("", m_fake.usptoPagePath(docid, 2), qvfake::Fault::Stall, -1);
            args.push_back(docid);
        }
        const pid_t pid = spawn(args);
        ASSERT_GT(pid, 0);
        // Three second pages asked for: the three jobs hang, each with its PDF begun.
        ASSERT_TRUE(qvtest::waitFor(
            [&] {
                size_t hung = 0;
                for (const qvfake::RecordedRequest& req : m_fake.requests())
                    hung += req.path.find("PageNum=2") != std::string::npos;
                return hung >= 3 && qvtest::fileExists(out() + "/1000400.pdf");
            },
            std::chrono::seconds(20)));
        EXPECT_NE(listing(out()).find(".part"), std::string::npos) << listing(out());
        const Clock::time_point signalled = Clock::now();
        ::kill(pid, sig);
        const Run r = wait(pid, signalled);
        EXPECT_EQ(r.status, 130) << r.err;
        // Well within the second the user waits for (the bound only catches hanging).
        EXPECT_LT(r.seconds, 2.0);
        EXPECT_EQ(r.err, "quorvane-get: interrupted\n");
        // The finished one stays; of the cancelled ones there is no file at all.
        EXPECT_EQ(listing(out()), "1000400.pdf");
        EXPECT_EQ(pdfPages(out() + "/1000400.pdf"), 1);

        std::map<std::string, std::string> status;
        for (const std::string& line : lines(r.out)) {
            JsonLine j;
            ASSERT_TRUE(readJsonLine(line, m_dir.path(), j)) << line;
            status[j.number] = j.status;
            if (j.status == "\"Cancelled\"") {
                EXPECT_EQ(j.file, "null");
            }
        }
        ASSERT_EQ(status.size(), 6u) << r.out;
        EXPECT_EQ(status["\"1000400\""], "\"Finished!\"");
        for (int n = 1; n <= 5; ++n)
            EXPECT_EQ(status["\"100040" + std::to_string(n) + "\""], "\"Cancelled\"") << n;
    }
}

TEST_F(GetProcessTest, OnATerminalRunningDocumentsAreRedrawnInPlaceAndASummaryEnds) {
    m_fake.addUsptoDocument("1000501", pagesOf(3, 1));
    m_fake.addUsptoDocument("1000502", pagesOf(3, 4));
    m_fake.setDelay(std::chrono::milliseconds(60)); // long enough to see the pages count up
    int master = -1, slave = -1;
    struct winsize size = {};
    size.ws_row = 24;
    size.ws_col = 100;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
    const pid_t pid = spawn({"-j", "2", "1000501", "1000502", "1000503"}, "", slave);
    ::close(slave);
    ASSERT_GT(pid, 0);
    std::string screen;
    char buffer[4096];
    ssize_t n;
    // The terminal's side ends (EIO) once the program and its output are gone.
    while ((n = ::read(master, buffer, sizeof buffer)) > 0)
        screen.append(buffer, static_cast<size_t>(n));
    ::close(master);
    const Run r = wait(pid);
    EXPECT_EQ(r.status, 1) << r.err;
    // Live lines with the running documents' page counts, drawn over again in place.
    bool pageLine = false;
    std::istringstream in(screen);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find("  1000501 ");
        pageLine = pageLine || (at != std::string::npos &&
                                line.find("Downloading page ", at) != std::string::npos &&
                                line.find(" of 3\r", at) != std::string::npos);
    }
    EXPECT_TRUE(pageLine) << screen;
    EXPECT_NE(screen.find("\x1b[J"), std::string::npos);
    EXPECT_NE(screen.find("A\r\x1b[J"), std::string::npos); // back up over the live lines
    EXPECT_NE(screen.find("1000502: Finished!, 3 pages -> " + out() + "/1000502.pdf"),
              std::string::npos);
    // The last line is the summary, in the order of the outcomes.
    const std::string summary = "\n2 finished, 1 not found\r\n";
    ASSERT_GT(screen.size(), summary.size());
    EXPECT_EQ(screen.substr(screen.size() - summary.size()), summary) << screen;
    EXPECT_EQ(listing(out()), "1000501.pdf 1000502.pdf");
}

} // namespace

// The sample service for first runs, started as a user starts it: its printout, a real job
// for every number it offers (routed the way the main window routes typed text, through
// http_proxy to the service over real sockets), and the PDFs checked by qpdf and poppler.
#include "fakeOps.h"
#include "fixtures.h"
#include "jobRecord.h"
#include "opsNumber.h"
#include "pct.h"
#include "sampleDocuments.h"
#include "testutil.h"
#include "uspto.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/filefn.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qvsample::SampleNumber;
using qvsample::SampleNumbers;

// The service program as a child process whose standard output is read through a pipe.
class ServiceProcess {
public:
    ~ServiceProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }

    bool Start(const std::vector<std::string>& args, const char* program = QV_SAMPLE_SERVICE) {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            dup2(fds[1], STDERR_FILENO);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv{const_cast<char*>(program)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program, argv.data());
            _exit(127);
        }
        close(fds[1]);
        m_out = fds[0];
        return m_pid > 0;
    }

    // Reads output until it contains `until` or the output ends or the time is up.
    std::string ReadUntil(const std::string& until, int timeoutMs = 30000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_text.find(until) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{m_out, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            char buf[4096];
            const ssize_t n = read(m_out, buf, sizeof buf);
            if (n <= 0)
                break;
            m_text.append(buf, static_cast<size_t>(n));
        }
        return m_text;
    }

    // Sends sig and waits for the end; the exit status, or -1 when it did not exit by itself.
    int StopWith(int sig, int timeoutMs = 10000) {
        kill(m_pid, sig);
        int status = 0;
        const bool ended =
            qvtest::waitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; },
                            std::chrono::milliseconds(timeoutMs));
        if (!ended)
            return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Waits for the process to end on its own; its exit status or -1.
    int Wait(int timeoutMs = 10000) {
        int status = 0;
        if (!qvtest::waitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; },
                             std::chrono::milliseconds(timeoutMs)))
            return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_text;
};

// Receives the job events, as the main window does, and keeps what the tests look at.
class JobWatcher : public wxEvtHandler {
public:
    JobWatcher() {
        Bind(wxEVT_JOB_STATUS, &JobWatcher::OnStatus, this);
        Bind(wxEVT_JOB_PDF_READY, &JobWatcher::OnPdf, this);
        Bind(wxEVT_JOB_ENDED, &JobWatcher::OnEnded, this);
        Bind(wxEVT_USPTO_PAGE, &JobWatcher::OnPage, this);
    }
    // Handles every event queued so far, through the application as the program does.
    void Pump() {
        if (wxAppConsole* app = wxAppConsole::GetInstance())
            app->ProcessPendingEvents();
    }

    std::map<int, std::vector<std::string>> statuses;
    std::map<int, std::string> pdfs;
    std::map<int, bool> ended;
    int usptoPages = 0;

private:
    void OnStatus(wxThreadEvent& e) { statuses[e.GetId()].push_back(e.GetString().ToStdString()); }
    void OnPdf(wxThreadEvent& e) { pdfs[e.GetId()] = e.GetString().ToStdString(); }
    void OnEnded(wxThreadEvent& e) { ended[e.GetId()] = true; }
    void OnPage(wxThreadEvent&) { ++usptoPages; }
};

JobWatcher* g_watcher = nullptr;
wxEvtHandler* Watcher() {
    return g_watcher;
}

// The proxy URL of the first line, "Quorvane sample service at http://127.0.0.1:PORT".
std::string ProxyUrlOf(const std::string& printout) {
    const std::string lead = "Quorvane sample service at ";
    const std::string host = "http://127.0.0.1:";
    const size_t end = printout.find('\n');
    const size_t start = lead.size() + host.size();
    if (end == std::string::npos || end < start || printout.compare(0, start, lead + host) != 0)
        return "";
    const std::string port = printout.substr(start, end - start);
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos)
        return "";
    return host + port;
}

// What qpdf and poppler say about a PDF: a failure text, or "" when it is sound and holds
// `pages` CCITT-coded page images.
std::string CheckPdf(const std::string& pdf, int pages) {
    std::string out;
    if (qvtest::runCommand("qpdf --check '" + pdf + "' 2>&1", &out) != 0)
        return "qpdf --check: " + out;
    out.clear();
    if (qvtest::runCommand("qpdf --show-npages '" + pdf + "'", &out) != 0 ||
        std::atoi(out.c_str()) != pages)
        return "qpdf counts " + out + " pages, not " + std::to_string(pages);
    out.clear();
    if (qvtest::runCommand("pdfimages -list '" + pdf + "'", &out) != 0)
        return "pdfimages -list failed";
    std::istringstream lines(out);
    std::string line;
    int ccitt = 0;
    while (std::getline(lines, line))
        if (line.find(" ccitt ") != std::string::npos)
            ++ccitt;
    if (ccitt != pages)
        return std::to_string(ccitt) + " CCITT images instead of " + std::to_string(pages) + ":\n" +
               out;
    return "";
}

class SampleService : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("no_proxy");
        unsetenv("NO_PROXY");
        m_oldCwd = wxGetCwd();
        ASSERT_TRUE(wxSetWorkingDirectory(m_dir.path()));
        g_watcher = &watcher;
        SetJobEventTarget(&Watcher);
        ziv2ize::SetCountdownStepMs(20);
    }
    void TearDown() override {
        SetJobEventTarget(nullptr);
        g_watcher = nullptr;
        ziv2ize::SetCountdownStepMs(1000);
        wxSetWorkingDirectory(m_oldCwd);
        unsetenv("http_proxy");
    }
    std::string Path(const std::string& name) const { return m_dir.file(name); }

    JobWatcher watcher;

private:
    qvtest::TempDir m_dir{"qvsamples"};
    wxString m_oldCwd;
};

TEST_F(SampleService, PrintsItsProxyAndEveryNumberThenStopsOnRequest) {
    ServiceProcess service;
    ASSERT_TRUE(service.Start({}));
    const std::string printout = service.ReadUntil("Ctrl+C");
    ASSERT_FALSE(ProxyUrlOf(printout).empty()) << printout;
    EXPECT_NE(printout.find("http_proxy=" + ProxyUrlOf(printout) + " quorvane"), std::string::npos)
        << printout;
    for (const SampleNumber& s : SampleNumbers()) {
        SCOPED_TRACE(s.typed);
        EXPECT_NE(printout.find("  " + s.typed + " "), std::string::npos) << printout;
        EXPECT_NE(printout.find(s.pdf), std::string::npos) << printout;
    }
    EXPECT_EQ(printout.find("ghostscript is missing"), std::string::npos)
        << "the sample pages should be readable text";

    // The EPO part, as scripts/run and the first-run test read it: the key, a CA file that
    // exists, and each EPO number in its own block under the name the EPO job writes.
    EXPECT_NE(printout.find(std::string("\nEPO key: QUORVANE_OPS_KEY=") + qvfake::kOpsSampleKey +
                            " QUORVANE_OPS_SECRET=" + qvfake::kOpsSampleSecret + "\n"),
              std::string::npos)
        << printout;
    const std::string caLead = "\nEPO CA: CURL_CA_BUNDLE=";
    const size_t ca = printout.find(caLead);
    ASSERT_NE(ca, std::string::npos) << printout;
    const size_t caEnd = printout.find('\n', ca + caLead.size());
    EXPECT_TRUE(
        qvtest::fileExists(printout.substr(ca + caLead.size(), caEnd - ca - caLead.size())));
    const size_t classic = printout.find("Numbers to try:\n");
    const size_t epo = printout.find("Numbers to try through the EPO service:\n");
    ASSERT_LT(classic, epo) << printout;
    const std::string classicBlock = printout.substr(classic, epo - classic);
    const std::string epoBlock = printout.substr(epo);
    std::set<std::string> countries;
    for (const SampleNumber& s : SampleNumbers()) {
        SCOPED_TRACE(s.typed);
        const std::string classicLine = "  " + s.typed + " ";
        EXPECT_EQ(classicBlock.find(classicLine) != std::string::npos,
                  s.service != qvsample::Service::EpoOnly)
            << printout;
        const OpsNumber mapped = MapOpsNumber(s.typed);
        if (s.ops.empty()) {
            EXPECT_FALSE(mapped.ok) << "a number the EPO job takes, not offered there";
            EXPECT_EQ(epoBlock.find(classicLine), std::string::npos) << printout;
            continue;
        }
        ASSERT_TRUE(mapped.ok);
        EXPECT_EQ(mapped.name.ToStdString() + ".pdf", s.opsPdf);
        EXPECT_EQ(mapped.country.ToStdString() + "." + mapped.number.ToStdString(),
                  s.ops.substr(0, s.ops.rfind('.')));
        EXPECT_NE(epoBlock.find(classicLine), std::string::npos) << printout;
        EXPECT_NE(epoBlock.find(", bookmarks => " + s.opsPdf + "\n"), std::string::npos)
            << printout;
        countries.insert(mapped.country.ToStdString());
    }
    EXPECT_EQ(countries, (std::set<std::string>{"EP", "US", "WO"}));
    EXPECT_EQ(service.StopWith(SIGTERM), 0);

    ServiceProcess interrupted;
    ASSERT_TRUE(interrupted.Start({"--delay-ms", "10"}));
    EXPECT_FALSE(ProxyUrlOf(interrupted.ReadUntil("Ctrl+C")).empty());
    EXPECT_EQ(interrupted.StopWith(SIGINT), 0);
}

TEST_F(SampleService, RejectsBadOptionsAndATakenPort) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--port"}, {"--port", "70000"}, {"--delay-ms", "soon"}, {"--bogus", "1"}}) {
        ServiceProcess bad;
        ASSERT_TRUE(bad.Start(args));
        EXPECT_EQ(bad.Wait(), 2) << args[0];
        EXPECT_NE(bad.ReadUntil("usage").find("usage"), std::string::npos);
    }

    ServiceProcess first;
    ASSERT_TRUE(first.Start({}));
    const std::string url = ProxyUrlOf(first.ReadUntil("Ctrl+C"));
    ASSERT_FALSE(url.empty());
    ServiceProcess second;
    ASSERT_TRUE(second.Start({"--port", url.substr(url.rfind(':') + 1)}));
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.ReadUntil("cannot listen").find("cannot listen"), std::string::npos);
    EXPECT_EQ(first.StopWith(SIGTERM), 0);
}

// Ended, or a zombie that only waits for whoever adopted it.
bool ProcessGone(int pid) {
    std::string stat = qvtest::readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return stat.empty() || (close != std::string::npos && stat.compare(close, 3, ") Z") == 0);
}

// Scripts start it with --with-parent so that it cannot outlive them, however they end.
TEST_F(SampleService, WithParentEndsWhenItsStarterIsKilled) {
    ServiceProcess starter;
    const std::string script = std::string("'") + QV_SAMPLE_SERVICE +
                               "' --with-parent & echo service=$!; wait; echo starter-ended";
    ASSERT_TRUE(starter.Start({"-c", script}, "/bin/sh"));
    const std::string out = starter.ReadUntil("Ctrl+C");
    ASSERT_FALSE(ProxyUrlOf(out.substr(out.find("Quorvane sample"))).empty()) << out;
    const int pid = std::atoi(out.c_str() + out.find("service=") + 8);
    ASSERT_GT(pid, 0) << out;
    EXPECT_FALSE(ProcessGone(pid));

    EXPECT_EQ(starter.StopWith(SIGKILL), -1); // no exit of its own, no clean-up
    EXPECT_TRUE(qvtest::waitFor([&] { return ProcessGone(pid); }, std::chrono::seconds(10)));
    if (!ProcessGone(pid))
        kill(pid, SIGKILL);
}

// Every offered number, typed as printed and all at once as a user would, ends in a
// complete PDF whose pages are the sample's pages in order.
TEST_F(SampleService, EveryNumberGivesACompletePdf) {
    ServiceProcess service;
    ASSERT_TRUE(service.Start({}));
    const std::string url = ProxyUrlOf(service.ReadUntil("Ctrl+C"));
    ASSERT_FALSE(url.empty());
    setenv("http_proxy", url.c_str(), 1);

    const std::vector<SampleNumber>& samples = SampleNumbers();
    std::vector<ziv2ize*> jobs;
    int usptoPagesExpected = 0;
    size_t started = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const SampleNumber& s = samples[i];
        if (s.service == qvsample::Service::EpoOnly)
            continue; // the first-run test types it into the window with the sample key
        ++started;
        const wxString number = CleanNumber(s.typed);
        int kind = -1;
        ASSERT_TRUE(ClassifyNumber(number, &kind)) << s.typed;
        const int id = static_cast<int>(i);
        if (s.service == qvsample::Service::Espacenet) {
            EXPECT_EQ(kind, kPctJob) << s.typed;
            jobs.push_back(new pct(id, number));
        } else {
            EXPECT_EQ(kind, kUsptoJob) << s.typed;
            jobs.push_back(new uspto(id, number));
            usptoPagesExpected += s.pages;
        }
        ASSERT_EQ(jobs.back()->Create(), wxTHREAD_NO_ERROR);
        ASSERT_EQ(jobs.back()->Run(), wxTHREAD_NO_ERROR);
    }
    const bool allEnded = qvtest::waitFor([&] { return watcher.ended.size() == started; },
                                          std::chrono::seconds(120), [&] { watcher.Pump(); });
    for (ziv2ize* job : jobs) {
        if (allEnded)
            job->Wait();
        else
            job->Delete();
        delete job;
    }
    watcher.Pump();
    ASSERT_TRUE(allEnded);
    EXPECT_EQ(watcher.usptoPages, usptoPagesExpected);

    bool readable = false;
    const std::vector<std::vector<std::string>> pages = qvsample::RenderSamplePages(&readable);
    ASSERT_EQ(pages.size(), samples.size());
    EXPECT_TRUE(readable);
    for (size_t i = 0; i < samples.size(); ++i) {
        const SampleNumber& s = samples[i];
        if (s.service == qvsample::Service::EpoOnly)
            continue;
        SCOPED_TRACE(s.typed);
        const int id = static_cast<int>(i);
        ASSERT_FALSE(watcher.statuses[id].empty());
        EXPECT_EQ(watcher.statuses[id].back(), "Finished!");
        const std::string pdf = Path(s.pdf);
        EXPECT_EQ(watcher.pdfs[id], pdf);
        ASSERT_TRUE(qvtest::fileExists(pdf));
        EXPECT_EQ(CheckPdf(pdf, s.pages), "");

        // First and last page render exactly as the page images the service made.
        for (int page : {1, s.pages}) {
            qvfix::Bitmap want, got;
            ASSERT_TRUE(qvfix::decodeTiff(pages[i][page - 1], want));
            ASSERT_TRUE(qvfix::renderPdfPage(pdf, page, want.width, want.height, got));
            EXPECT_GT(want.BlackPixels(), 1000u) << "page " << page << " is nearly blank";
            EXPECT_EQ(want.Differences(got), 0u) << "page " << page;
        }
    }
    EXPECT_EQ(service.StopWith(SIGTERM), 0);
}

} // namespace

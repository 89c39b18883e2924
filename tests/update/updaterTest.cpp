// The update thread against the fake maker's host: version check, the signed download and
// its installation next to the program, and every way a download must leave nothing behind.
#include "updater.h"
#include "fakeService.h"
#include "signingKey.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <wx/dir.h>

#include <arpa/inet.h>
#include <climits>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using qvfake::Fault;

namespace {

struct Report {
    int status;
    wxString text;
};

// Collects the events an update thread posts.
class Reports : public wxEvtHandler {
public:
    Reports() {
        Bind(wxEVT_UPDATER_STATUS, [this](wxThreadEvent& e) {
            got.push_back({e.GetInt(), e.GetString()});
        });
    }
    std::vector<Report> got;
    // Only after the posting thread has ended.
    bool pending() const { return m_pendingEvents && !m_pendingEvents->IsEmpty(); }
};

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    wxDir dir(folder);
    wxString name;
    for (bool more = dir.GetFirst(&name, wxEmptyString, wxDIR_FILES | wxDIR_HIDDEN); more;
         more = dir.GetNext(&name))
        names.push_back(name.ToStdString());
    std::sort(names.begin(), names.end());
    return names;
}

class UpdaterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { key = new updtest::SigningKey; }
    static void TearDownTestSuite() {
        delete key;
        key = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(key->ok()) << "openssl could not make a key pair";
        ASSERT_TRUE(fake.ok());
        for (const char* name : {"HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            unsetenv(name);
        setenv("http_proxy", fake.proxyUrl().c_str(), 1);
        // The running program "lives" in a folder with a blank in its name.
        programFolder = dir.path() + "/Program Files";
        ASSERT_EQ(0, mkdir(programFolder.c_str(), 0755));
        SetUpdaterProgramPath(programFolder + "/quorvane");
        SetUpdaterPublicKey(key->publicKey());
        fake.setDownload(program, key->sign(program));
    }
    void TearDown() override {
        SetUpdaterProgramPath(wxEmptyString);
        SetUpdaterPublicKey(std::string());
        unsetenv("http_proxy");
    }

    // Runs one update thread to its end and returns what it posted.
    std::vector<Report> run(bool download) {
        Reports target;
        updater* thread = new updater(download, &target);
        EXPECT_EQ(wxTHREAD_NO_ERROR, thread->Create());
        EXPECT_EQ(wxTHREAD_NO_ERROR, thread->Run());
        thread->Wait();
        lastError = thread->m_error;
        delete thread;
        if (target.pending())
            target.ProcessPendingEvents();
        return target.got;
    }

    int runOnce(bool download) {
        std::vector<Report> got = run(download);
        EXPECT_EQ(1u, got.size()) << "an update thread reports exactly once";
        return got.empty() ? -1 : got[0].status;
    }

    std::string target() const { return programFolder + "/Quorvane-2.22"; }

    static updtest::SigningKey* key;
    qvtest::TempDir dir{"qv-upd"};
    qvfake::FakeService fake;
    std::string programFolder;
    std::string program = "#!/bin/sh\necho new version\n" + std::string(5000, 'x');
    wxString lastError;
};

updtest::SigningKey* UpdaterTest::key = nullptr;

TEST(UpdateVersionText, FirstWordsLeadingDigitsCount) {
    EXPECT_EQ(21, ParseLatestVersion("21"));
    EXPECT_EQ(22, ParseLatestVersion(" \t\r\n  22\nnotes"));
    EXPECT_EQ(22, ParseLatestVersion("22abc"));
    EXPECT_EQ(0, ParseLatestVersion("abc 22"));
    EXPECT_EQ(0, ParseLatestVersion("<html><body>Not Found</body></html>"));
    EXPECT_EQ(0, ParseLatestVersion(""));
    EXPECT_EQ(0, ParseLatestVersion("-5"));
    EXPECT_EQ(INT_MAX, ParseLatestVersion("99999999999999999999"));
}

TEST(UpdateFileNames, TwoDigitsAtLeastBesideTheProgram) {
    EXPECT_EQ("Quorvane-2.22", UpdateFileName(22));
    EXPECT_EQ("Quorvane-2.05", UpdateFileName(5));
    EXPECT_EQ("Quorvane-2.100", UpdateFileName(100));
    EXPECT_EQ("/opt/my apps/Quorvane-2.22", UpdateTargetPath("/opt/my apps/quorvane", 22));
    // A bare name has no folder: never fall back to the root folder.
    EXPECT_EQ("", UpdateTargetPath("quorvane", 22));
    // The real executable path is absolute even when started by a bare name from PATH.
    wxString real = UpdaterProgramPath();
    EXPECT_TRUE(real.StartsWith("/")) << real;
    EXPECT_TRUE(wxFileExists(real));
}

TEST(UpdateSignatures, OnlyTheTrustedKeysSignatureOfTheseBytesPasses) {
    updtest::SigningKey mine, other;
    ASSERT_TRUE(mine.ok() && other.ok());
    const std::string data = "program bytes";
    const std::string sig = mine.sign(data);
    ASSERT_EQ(64u, sig.size());
    wxString why;
    EXPECT_TRUE(VerifyEd25519(data, sig, mine.publicKey(), &why)) << why;
    EXPECT_FALSE(VerifyEd25519(data + "!", sig, mine.publicKey(), &why));
    EXPECT_FALSE(VerifyEd25519(data, sig, other.publicKey(), &why));
    std::string flipped = sig;
    flipped[10] ^= 1;
    EXPECT_FALSE(VerifyEd25519(data, flipped, mine.publicKey(), &why));
    EXPECT_FALSE(VerifyEd25519(data, sig.substr(0, 63), mine.publicKey(), &why));
    EXPECT_FALSE(VerifyEd25519(data, sig, mine.publicKey().substr(1), &why));
    EXPECT_FALSE(why.empty());
    // The built-in release key is a well-formed key that the test keys do not match.
    EXPECT_EQ(32u, UpdaterPublicKey().size());
    EXPECT_FALSE(VerifyEd25519(data, sig, UpdaterPublicKey()));
}

TEST_F(UpdaterTest, SameOrOlderVersionIsCurrentInBothModes) {
    for (const char* reply : {"21", "20\n", "abc", "<html>500</html>"}) {
        fake.setLatestVersion(reply);
        EXPECT_EQ(UPDATE_CURRENT, runOnce(false)) << reply;
        EXPECT_EQ(UPDATE_CURRENT, runOnce(true)) << reply;
    }
    EXPECT_EQ(std::vector<std::string>{}, folderEntries(programFolder));
}

TEST_F(UpdaterTest, NewerVersionIsOnlyReportedInCheckMode) {
    for (const char* reply : {"22", "  \n22abc"}) {
        fake.setLatestVersion(reply);
        EXPECT_EQ(UPDATE_AVAILABLE, runOnce(false)) << reply;
    }
    for (const qvfake::RecordedRequest& r : fake.requests()) {
        EXPECT_EQ("www.quorvane.org", r.host);
        EXPECT_EQ("/latest.html", r.path);
        EXPECT_TRUE(r.absoluteForm) << "update traffic follows the connection settings";
    }
    EXPECT_EQ(std::vector<std::string>{}, folderEntries(programFolder));
}

TEST_F(UpdaterTest, DownloadModeInstallsTheSignedProgramBesideTheRunningOne) {
    fake.setLatestVersion("22");
    std::vector<Report> got = run(true);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(UPDATE_DOWNLOADED, got[0].status) << lastError;
    EXPECT_EQ(target(), got[0].text);
    EXPECT_EQ(program, qvtest::readFile(target()));
    struct stat st;
    ASSERT_EQ(0, stat(target().c_str(), &st));
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    // No temporary file stays behind.
    EXPECT_EQ(std::vector<std::string>{"Quorvane-2.22"}, folderEntries(programFolder));
    // Asked again for the number, then the program and its signature.
    std::vector<std::string> paths;
    for (const qvfake::RecordedRequest& r : fake.requests())
        paths.push_back(r.path);
    EXPECT_EQ((std::vector<std::string>{"/latest.html", "/download.html", "/download.sig"}), paths);
}

TEST_F(UpdaterTest, ExistingFileOfThatNameIsReplacedWhole) {
    fake.setLatestVersion("22");
    ASSERT_TRUE(qvtest::writeFile(target(), "old partial file"));
    EXPECT_EQ(UPDATE_DOWNLOADED, runOnce(true)) << lastError;
    EXPECT_EQ(program, qvtest::readFile(target()));
}

TEST_F(UpdaterTest, AnErrorPageIsAFailedCheckNotTheLatestVersion) {
    fake.setLatestVersion("21");
    for (Fault fault : {Fault::Status500, Fault::ServerAuth}) {
        fake.addRule("www.quorvane.org", "/latest.html", fault, 2);
        EXPECT_EQ(UPDATE_ERROR, runOnce(false));
        EXPECT_EQ(UPDATE_ERROR, runOnce(true));
    }
    EXPECT_EQ(UPDATE_CURRENT, runOnce(false));
}

TEST_F(UpdaterTest, UnreachableHostIsAnError) {
    setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(qvtest::freePort())).c_str(), 1);
    EXPECT_EQ(UPDATE_ERROR, runOnce(false));
    EXPECT_EQ(UPDATE_ERROR, runOnce(true));
    EXPECT_FALSE(lastError.empty());
}

TEST_F(UpdaterTest, UntrustedDownloadsLeaveNoFile) {
    fake.setLatestVersion("22");
    updtest::SigningKey stranger;
    ASSERT_TRUE(stranger.ok());
    const std::string good = key->sign(program);

    struct Case {
        const char* what;
        std::string body, signature;
        qvfake::Fault fault;
    } cases[] = {
        {"no signature", program, "", qvfake::Fault::None},
        {"signed by another key", program, stranger.sign(program), qvfake::Fault::None},
        {"signature of other bytes", program + "tampered", good, qvfake::Fault::None},
        {"short body, honest length", program.substr(0, program.size() / 2), good,
         qvfake::Fault::None},
        {"connection dropped mid-body", program, good, qvfake::Fault::DropMidBody},
        {"server error page", program, good, qvfake::Fault::Status500},
        {"garbled signature", program, "not a signature", qvfake::Fault::None},
    };
    for (const Case& c : cases) {
        fake.clearRules();
        fake.setDownload(c.body, c.signature);
        if (c.fault != qvfake::Fault::None)
            fake.addRule("www.quorvane.org", "/download.html", c.fault, -1);
        EXPECT_EQ(UPDATE_ERROR, runOnce(true)) << c.what;
        EXPECT_EQ(std::vector<std::string>{}, folderEntries(programFolder)) << c.what;
    }
}

TEST_F(UpdaterTest, UnwritableProgramFolderEndsCleanly) {
    fake.setLatestVersion("22");
    // /proc takes no new files, not even from root; like a packaged install in /usr/bin.
    SetUpdaterProgramPath("/proc/quorvane");
    EXPECT_EQ(UPDATE_ERROR, runOnce(true));
    EXPECT_FALSE(wxFileExists("/proc/Quorvane-2.22"));
    EXPECT_FALSE(lastError.empty());
    if (geteuid() != 0) {
        SetUpdaterProgramPath(programFolder + "/quorvane");
        ASSERT_EQ(0, chmod(programFolder.c_str(), 0555));
        EXPECT_EQ(UPDATE_ERROR, runOnce(true));
        chmod(programFolder.c_str(), 0755);
        EXPECT_EQ(std::vector<std::string>{}, folderEntries(programFolder));
    }
}

TEST_F(UpdaterTest, ThreadAskedToEndPostsNothing) {
    fake.setLatestVersion("22");
    fake.addRule("www.quorvane.org", "/download.html", qvfake::Fault::Stall, -1);
    Reports target;
    updater* thread = new updater(true, &target);
    ASSERT_EQ(wxTHREAD_NO_ERROR, thread->Create());
    ASSERT_EQ(wxTHREAD_NO_ERROR, thread->Run());
    ASSERT_TRUE(qvtest::waitFor(
        [&] {
            for (const qvfake::RecordedRequest& r : fake.requests())
                if (r.path == "/download.html")
                    return true;
            return false;
        },
        std::chrono::seconds(10)));
    // The stalled download is abandoned at the next check, not after its time-out.
    const auto start = std::chrono::steady_clock::now();
    thread->Delete();
    delete thread;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(target.pending());
    EXPECT_TRUE(target.got.empty());
    EXPECT_EQ(std::vector<std::string>{}, folderEntries(programFolder));
    fake.releaseStalls();
}

} // namespace

// The main window's side of updating, as a real window against the fake maker's host: the
// automatic check at start-up, the Update command, every status text and question, the
// hand-over to a downloaded stand-in program, and the new version's "delete" question.
#include "fakeService.h"
#include "handOver.h"
#include "jobRecord.h"
#include "setupTestUtil.h"
#include "signingKey.h"
#include "testutil.h"
#include "ui.h"
#include "updater.h"

#include <gtest/gtest.h>
#include <wx/statusbr.h>
#include <wx/timer.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

constexpr long kDay = 24 * 60 * 60;

struct Question {
    wxString text, caption;
    long style;
};

class UpdateFlowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { key = new updtest::SigningKey; }
    static void TearDownTestSuite() {
        delete key;
        key = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(key->ok());
        ASSERT_TRUE(fake.ok());
        for (const char* name : {"HTTP_PROXY", "all_proxy", "no_proxy", "NO_PROXY"})
            unsetenv(name);
        setenv("http_proxy", fake.proxyUrl().c_str(), 1);
        if (wxFileExists(SettingsFilePath()))
            wxRemoveFile(SettingsFilePath());
        ConnectionSettings = ConnectionSettingsRecord();

        // The running program, in a folder whose name has a blank.
        programFolder = dir.path() + "/my programs";
        ASSERT_EQ(0, mkdir(programFolder.c_str(), 0755));
        oldProgram = programFolder + "/quorvane";
        ASSERT_TRUE(qvtest::writeFile(oldProgram, "old version"));
        SetUpdaterProgramPath(oldProgram);
        SetUpdaterPublicKey(key->publicKey());
        record = dir.file("arguments.txt");
        newProgramBody = updtest::recorderProgram(record);
        fake.setDownload(newProgramBody, key->sign(newProgramBody));

        SetQuestionFunction(
            [this](const wxString& text, const wxString& caption, long style, wxWindow*) {
                asked.push_back({text, caption, style});
                if (answers.empty())
                    return static_cast<int>(wxNO);
                int answer = answers.front();
                answers.erase(answers.begin());
                return answer;
            });
        SetExitFunction([this](int code) { exitCodes.push_back(code); });
    }

    void TearDown() override {
        qvtest::closeMainWindow();
        SetQuestionFunction({});
        SetExitFunction({});
        SetUpdaterProgramPath(wxEmptyString);
        SetUpdaterPublicKey(std::string());
        fake.releaseStalls();
        unsetenv("http_proxy");
    }

    void storeLastCheck(long secondsAgo) {
        auto config = OpenSettings();
        config->Write("lastCheck", static_cast<long>(std::time(nullptr)) - secondsAgo);
    }
    bool readLastCheck(long* value) {
        auto config = OpenSettings();
        return config->Read("lastCheck", value);
    }

    void start() {
        frame = StartMainWindow();
        ASSERT_NE(nullptr, frame);
    }
    wxString field1() const { return frame->GetStatusBar()->GetStatusText(1); }
    bool waitField1(const wxString& text) {
        return qvtest::pumpUntil(
            [&] { return field1() == text && frame->updaterThread == nullptr; });
    }
    void menuUpdate() {
        wxCommandEvent menu(wxEVT_MENU, ID_UPDATE);
        frame->ProcessWindowEvent(menu);
    }
    size_t requestsFor(const std::string& path) const {
        size_t n = 0;
        for (const qvfake::RecordedRequest& r : fake.requests())
            n += r.path == path;
        return n;
    }
    wxString target() const { return wxString(programFolder) + "/Quorvane-2.22"; }

    static updtest::SigningKey* key;
    qvtest::TempDir dir{"qv-updflow"};
    qvfake::FakeService fake;
    qvtest::CapturedLog log;
    std::string programFolder, oldProgram, record, newProgramBody;
    std::vector<int> answers;
    std::vector<Question> asked;
    std::vector<int> exitCodes;
    MyFrame* frame = nullptr;
};

updtest::SigningKey* UpdateFlowTest::key = nullptr;

TEST_F(UpdateFlowTest, FreshStartChecksAtOnceAndRecordsTheCheck) {
    fake.setLatestVersion("21");
    const long before = static_cast<long>(std::time(nullptr));
    start();
    EXPECT_EQ("Checking for available updates...", field1());
    EXPECT_NE(nullptr, frame->updaterThread);
    ASSERT_TRUE(waitField1("Running Latest Version")) << field1();
    long last = 0;
    ASSERT_TRUE(readLastCheck(&last));
    EXPECT_GE(last, before);
    EXPECT_LE(last, static_cast<long>(std::time(nullptr)));
    EXPECT_TRUE(qvtest::messagesIn(log).empty()) << "an automatic check shows no box";
    EXPECT_TRUE(asked.empty());
}

TEST_F(UpdateFlowTest, CheckIsDueOnlyAfterSixtyDays) {
    fake.setLatestVersion("21");
    storeLastCheck(59 * kDay);
    start();
    qvtest::pump(300);
    EXPECT_EQ(nullptr, frame->updaterThread);
    EXPECT_EQ("", field1());
    EXPECT_EQ(0u, fake.requestCount());
    qvtest::closeMainWindow();

    storeLastCheck(61 * kDay);
    start();
    ASSERT_TRUE(waitField1("Running Latest Version")) << field1();
    EXPECT_EQ(1u, requestsFor("/latest.html"));
    long last = 0;
    ASSERT_TRUE(readLastCheck(&last));
    EXPECT_GT(last, static_cast<long>(std::time(nullptr)) - kDay);
}

TEST_F(UpdateFlowTest, FailureKeepsLastCheckAndShowsABoxOnlyAfterTheUpdateCommand) {
    setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(qvtest::freePort())).c_str(), 1);
    storeLastCheck(61 * kDay);
    long stored = 0;
    ASSERT_TRUE(readLastCheck(&stored));
    start();
    ASSERT_TRUE(waitField1("Error Updating!")) << field1();
    EXPECT_TRUE(qvtest::messagesIn(log).empty());
    long after = 0;
    ASSERT_TRUE(readLastCheck(&after));
    EXPECT_EQ(stored, after);

    menuUpdate();
    EXPECT_TRUE(frame->manualUpdateCheck);
    EXPECT_EQ("Downloading any available updates...", field1());
    ASSERT_TRUE(waitField1("Error Updating!")) << field1();
    qvtest::pump(50);
    EXPECT_EQ(std::vector<wxString>{"Error Updating!"}, qvtest::messagesIn(log));
    ASSERT_TRUE(readLastCheck(&after));
    EXPECT_EQ(stored, after);
}

TEST_F(UpdateFlowTest, UpdateCommandReportsCurrentVersionAndIgnoresASecondRequest) {
    storeLastCheck(kDay);
    start();
    fake.setLatestVersion("21");
    fake.addRule("www.quorvane.org", "/latest.html", qvfake::Fault::None, 1,
                 std::chrono::milliseconds(500));
    menuUpdate();
    updater* running = frame->updaterThread;
    ASSERT_NE(nullptr, running);
    menuUpdate(); // while the first check runs: nothing happens
    EXPECT_EQ(running, frame->updaterThread);
    ASSERT_TRUE(waitField1("Running Latest Version")) << field1();
    qvtest::pump(50);
    EXPECT_EQ(1u, requestsFor("/latest.html"));
    EXPECT_EQ(std::vector<wxString>{"Running Latest Version"}, qvtest::messagesIn(log));
    long last = 0;
    ASSERT_TRUE(readLastCheck(&last));
    EXPECT_GT(last, static_cast<long>(std::time(nullptr)) - kDay / 2);
}

TEST_F(UpdateFlowTest, AvailableVersionAnsweredNoDownloadsNothing) {
    fake.setLatestVersion("22");
    answers = {wxNO};
    start();
    ASSERT_TRUE(waitField1("Update Available!")) << field1();
    ASSERT_EQ(1u, asked.size());
    EXPECT_EQ("Latest Quorvane Available!", asked[0].caption);
    EXPECT_EQ("An updated Quorvane is available!\n Would you like to download it now?",
              asked[0].text);
    EXPECT_EQ(wxYES_NO | wxICON_QUESTION, asked[0].style);
    qvtest::pump(200);
    EXPECT_EQ(0u, requestsFor("/download.html"));
    EXPECT_FALSE(wxFileExists(target()));
    long last = 0;
    EXPECT_TRUE(readLastCheck(&last));
}

TEST_F(UpdateFlowTest, AvailableVersionAnsweredYesDownloadsThenAsksToRunIt) {
    fake.setLatestVersion("22");
    answers = {wxYES, wxNO};
    start();
    ASSERT_TRUE(qvtest::pumpUntil([&] { return asked.size() == 2; })) << field1();
    EXPECT_EQ("Latest Quorvane Ready", asked[1].caption);
    EXPECT_EQ("The latest Quorvane has been succesfully downloaded to \"" + target() +
                  "\"\n\n\nWould you like to exit and run the latest version now?",
              asked[1].text);
    EXPECT_EQ(wxYES_NO | wxICON_QUESTION, asked[1].style);
    // Asked again for the number before downloading.
    EXPECT_EQ(2u, requestsFor("/latest.html"));
    EXPECT_EQ(newProgramBody, qvtest::readFile(target().ToStdString()));
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_EQ(nullptr, frame->updaterThread);
    EXPECT_TRUE(qvtest::fileExists(oldProgram));
}

TEST_F(UpdateFlowTest, ReadyAnsweredYesHandsOverOnceTheQueueDrainsAndTheNewVersionDeletes) {
    storeLastCheck(kDay);
    fake.setLatestVersion("22");
    start();
    // One job still waits; the hand-over must let it go before ending.
    frame->queue.SetLimit(0);
    JobRecord& waiting = frame->queue.Add(std::make_unique<JobRecord>("5123456"));
    bool drained = false;
    wxTimer drain;
    drain.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        frame->queue.Cancel(waiting);
        drained = true;
    });
    answers = {wxYES};
    SetExitFunction([&](int code) {
        EXPECT_TRUE(drained) << "ended while a job was still waiting";
        exitCodes.push_back(code);
    });
    ASSERT_TRUE(drain.StartOnce(400));
    menuUpdate();
    ASSERT_TRUE(qvtest::pumpUntil([&] { return !exitCodes.empty(); })) << field1();
    EXPECT_EQ(std::vector<int>{0}, exitCodes);

    // The stand-in new program got the three arguments, the old path in one piece.
    ASSERT_TRUE(
        qvtest::waitFor([&] { return qvtest::fileExists(record); }, std::chrono::seconds(10)));
    const std::string expected = target().ToStdString() + "\n" + "delete\n" + oldProgram + "\n";
    EXPECT_EQ(expected, qvtest::readFile(record));
    qvtest::closeMainWindow();

    // Started so, the new version offers to delete the old file: No keeps it, Yes removes it.
    const int savedArgc = wxTheApp->argc;
    const wxString argv0 = wxTheApp->argv[0];
    std::string newPath = target().ToStdString();
    const char* args[] = {newPath.c_str(), "delete", oldProgram.c_str(), nullptr};
    wxTheApp->argc = 3;
    wxTheApp->argv.Init(3, const_cast<char**>(args));
    for (int answer : {wxNO, wxYES}) {
        storeLastCheck(kDay);
        asked.clear();
        answers = {answer};
        start();
        ASSERT_EQ(1u, asked.size());
        EXPECT_EQ("Delete Old Quorvane", asked[0].caption);
        EXPECT_EQ("Delete previous version of Quorvane?\n\n" + oldProgram, asked[0].text);
        EXPECT_EQ(answer == wxNO, qvtest::fileExists(oldProgram));
        qvtest::closeMainWindow();
    }
    std::string first = argv0.ToStdString();
    char* restore[] = {&first[0], nullptr};
    wxTheApp->argv.Init(1, restore);
    wxTheApp->argc = savedArgc;
}

TEST_F(UpdateFlowTest, ClosingDuringACheckWaitsForTheThreadWithoutAReport) {
    fake.setLatestVersion("22");
    fake.addRule("www.quorvane.org", "/latest.html", qvfake::Fault::Stall, -1);
    start();
    ASSERT_TRUE(qvtest::pumpUntil([&] { return requestsFor("/latest.html") == 1; }));
    frame->Close(true);
    ASSERT_TRUE(
        qvtest::pumpUntil([] { return TheMainFrame() == nullptr; }, std::chrono::seconds(10)));
    qvtest::pump(100);
    EXPECT_TRUE(asked.empty());
    EXPECT_TRUE(qvtest::messagesIn(log).empty());
}

} // namespace

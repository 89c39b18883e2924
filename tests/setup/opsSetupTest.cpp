// The EPO OPS page of Setup and what it changes: the key check against the fake service
// (accepted, refused, unreachable), the key kept by OK and dropped by Cancel, numbers then
// fetched from the EPO, and the key in the settings file.
#include "fakeService.h"
#include "setupTestUtil.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <wx/notebook.h>

#include <sys/stat.h>

namespace {

const int kCheckKey = 3; // the page's "Check Key" button

class OpsSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ops.ok());
        for (const char* name : {"http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY",
                                 "QUORVANE_OPS_KEY", "QUORVANE_OPS_SECRET"})
            unsetenv(name);
        setenv("https_proxy", fake.proxyUrl().c_str(), 1);
        setenv("CURL_CA_BUNDLE", ops.caBundlePath().c_str(), 1);
        qvtest::settingsWithoutCheckDue();
        ConnectionSettings = ConnectionSettingsRecord();
        OpsKey = OpsKeyRecord();
        startFolder = wxGetCwd();
        ASSERT_TRUE(wxSetWorkingDirectory(folder.path()));
        frame = StartMainWindow();
        qvtest::pump(100);
    }
    void TearDown() override {
        fake.releaseStalls();
        WaitForKeyChecks();
        qvtest::closeMainWindow();
        wxSetWorkingDirectory(startFolder);
        unsetenv("https_proxy");
        unsetenv("CURL_CA_BUNDLE");
        OpsKey = OpsKeyRecord();
    }
    void enterKey(SetupDialog& dialog, const char* key, const char* secret) {
        dialog.m_opsKeyText->SetValue(key);
        dialog.m_opsSecretText->SetValue(secret);
    }
    // Check Key, then its answer, which comes beside the window.
    void checkKey(SetupDialog& dialog) {
        qvtest::click(&dialog, kCheckKey);
        EXPECT_TRUE(qvtest::pumpUntil([&] { return dialog.m_checkKeyButton->IsEnabled(); },
                                      std::chrono::seconds(30)));
        qvtest::pump(50);
    }

    qvfake::FakeService fake;
    qvfake::OpsFake& ops = fake.enableOps();
    qvtest::TempDir folder{"qv-ops-setup"};
    wxString startFolder;
    MyFrame* frame = nullptr;
};

TEST_F(OpsSetupTest, CheckedKeyKeptByOkFetchesFromTheEpoAndIsStoredScrambled) {
    ops.addPublication(qvfake::opsPublication("EP", "1000000", "B1",
                                              {qvfake::opsPage(1), qvfake::opsPage(2)}, {}));
    ops.addPublication(qvfake::opsPublication("US", "5123456", "A", {qvfake::opsPage(3)}, {}));
    std::vector<wxString> errors, messages;
    qvtest::runSetupCommand(frame, [&](SetupDialog& dialog) {
        qvtest::CapturedLog log;
        enterKey(dialog, qvfake::kOpsSampleKey, "not the secret");
        // US documents from the EPO too, as the page offers.
        dialog.m_usSourceChoice->SetSelection(int(UsSource::Epo));
        checkKey(dialog);
        // Unreachable: an explicit proxy where nothing listens.
        qvtest::chooseConnection(dialog, 2);
        dialog.m_proxyServerText->SetValue("127.0.0.1");
        dialog.m_proxyPortText->SetValue(wxString::Format("%d", qvtest::freePort()));
        enterKey(dialog, qvfake::kOpsSampleKey, qvfake::kOpsSampleSecret);
        checkKey(dialog);
        qvtest::chooseConnection(dialog, 0);
        checkKey(dialog);
        errors = qvtest::errorsIn(log);
        messages = qvtest::messagesIn(log);
        qvtest::click(&dialog, wxID_OK);
    });
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_TRUE(errors[0].StartsWith("The EPO refused the key.")) << errors[0];
    EXPECT_TRUE(errors[1].StartsWith("Cannot reach the EPO service: ")) << errors[1];
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "The EPO accepted the key: downloads will use it.");
    EXPECT_EQ(OpsKey.key, qvfake::kOpsSampleKey);

    // Both kinds of number now come from the EPO.
    EXPECT_EQ(UsDocumentsFrom, int(UsSource::Epo));
    for (const char* number : {"EP1000000", "5,123,456"}) {
        frame->textCtrl->ChangeValue(number);
        wxCommandEvent enter(wxEVT_TEXT_ENTER, ID_INPUT);
        frame->textCtrl->GetEventHandler()->ProcessEvent(enter);
    }
    ASSERT_TRUE(qvtest::pumpUntil(
        [&] {
            return frame->listCtrl->GetItemText(0, 1) == "Finished!" &&
                   frame->listCtrl->GetItemText(1, 1) == "Finished!";
        },
        std::chrono::seconds(30)))
        << frame->listCtrl->GetItemText(0, 1) << " / " << frame->listCtrl->GetItemText(1, 1);
    for (const char* pdf : {"EP1000000.pdf", "5123456.pdf"})
        EXPECT_EQ(qvtest::runCommand("qpdf --check '" + folder.file(pdf) + "' >/dev/null"), 0)
            << pdf;
    EXPECT_TRUE(frame->GetStatusBar()->GetStatusText(0).StartsWith("EPO: "));
    for (const qvfake::RecordedRequest& r : fake.requests())
        EXPECT_EQ(r.host, "ops.epo.org") << r.target;
    UsDocumentsFrom = int(UsSource::Ppubs);

    qvtest::closeMainWindow();
    const std::string file = qvtest::readFile(SettingsFilePath().utf8_string());
    EXPECT_NE(file.find(std::string("opsKey=") + qvfake::kOpsSampleKey), std::string::npos);
    EXPECT_NE(file.find("opsSecret="), std::string::npos);
    EXPECT_EQ(file.find(qvfake::kOpsSampleSecret), std::string::npos) << "stored scrambled";
    struct stat st;
    ASSERT_EQ(::stat(SettingsFilePath().utf8_str().data(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(OpsSetupTest, CheckKeyWaitsBesideTheWindowAndCancelEndsTheDialogAtOnce) {
    fake.addRule("ops.epo.org", "accesstoken", qvfake::Fault::Stall, -1);
    qvtest::CapturedLog log;
    auto tokenRequests = [&] {
        size_t n = 0;
        for (const qvfake::RecordedRequest& r : fake.requests())
            n += r.path.find("accesstoken") != std::string::npos;
        return n;
    };
    bool busy = false, stillAsking = false;
    qvtest::runSetupCommand(frame, [&](SetupDialog& dialog) {
        enterKey(dialog, qvfake::kOpsSampleKey, qvfake::kOpsSampleSecret);
        qvtest::click(&dialog, kCheckKey);
        // The click has returned while the service holds the request unanswered.
        ASSERT_TRUE(qvtest::pumpUntil([&] { return tokenRequests() > 0; }));
        busy = !dialog.m_checkKeyButton->IsEnabled() &&
               dialog.m_checkKeyButton->GetLabel() != "Check Key";
        dialog.m_notebook->SetSelection(2);
        EXPECT_FALSE(qvtest::screenshot("setup-key-check", &dialog).empty());
        qvtest::click(&dialog, kCheckKey); // no second check meanwhile
        stillAsking = KeyChecksRunning() == 1;
        qvtest::click(&dialog, wxID_CANCEL);
    });
    EXPECT_TRUE(busy);
    EXPECT_TRUE(stillAsking);
    EXPECT_EQ(tokenRequests(), 1u);
    // The dialog has gone with the answer still outstanding; the check ends by itself,
    // reports to nobody and leaves no session.
    EXPECT_TRUE(qvtest::pumpUntil([] { return KeyChecksRunning() == 0; }));
    qvtest::pump(100);
    EXPECT_TRUE(log.entries.empty()) << log.entries.front().text;
    EXPECT_TRUE(OpsKey.empty());
}

TEST_F(OpsSetupTest, CancelKeepsNoKeyAndTheRetiredRoutingStays) {
    qvtest::runSetupCommand(frame, [&](SetupDialog& dialog) {
        enterKey(dialog, qvfake::kOpsSampleKey, qvfake::kOpsSampleSecret);
        qvtest::click(&dialog, wxID_CANCEL);
    });
    EXPECT_TRUE(OpsKey.empty());
    setenv("http_proxy", fake.proxyUrl().c_str(), 1);
    frame->textCtrl->ChangeValue("EP1000000");
    wxCommandEvent enter(wxEVT_TEXT_ENTER, ID_INPUT);
    frame->textCtrl->GetEventHandler()->ProcessEvent(enter);
    ASSERT_TRUE(qvtest::pumpUntil([&] { return fake.requestCount() > 0; }));
    EXPECT_EQ(fake.requests()[0].host, "ops.espacenet.com");
    // Said once: what makes downloads work today.
    EXPECT_EQ(frame->GetStatusBar()->GetStatusText(0), kNoEpoKeyNotice);
}

} // namespace

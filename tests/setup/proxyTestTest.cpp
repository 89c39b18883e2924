// The "Check Network Settings" button: the values on screen against the fake maker's host,
// directly, through the fake as the platform's proxy, and through a real tinyproxy with
// credentials; the result file and window; and the screenshots of the dialog.
#include "HtmlWindow.h"
#include "fakeService.h"
#include "setupTestUtil.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <wx/notebook.h>

#include <arpa/inet.h>
#include <csignal>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const char* const kPage = "<html><body><h2>Your network settings work.</h2></body></html>";

class ProxyTestTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.ok());
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "no_proxy", "NO_PROXY"})
            unsetenv(name);
        fake.setProxyTestPage(kPage);
        qvtest::settingsWithoutCheckDue();
        ConnectionSettings = ConnectionSettingsRecord();
        startFolder = wxGetCwd();
        ASSERT_TRUE(wxSetWorkingDirectory(folder.path()));
        frame = StartMainWindow();
        qvtest::pump(100);
    }
    void TearDown() override {
        qvtest::closeMainWindow();
        wxSetWorkingDirectory(startFolder);
        unsetenv("http_proxy");
    }

    // Clicks "Check Network Settings" in dialog; the result window, if one opens, is
    // looked at (its page text kept) and closed.
    void checkNetwork(SetupDialog& dialog) {
        resultShown = false;
        resultText.clear();
        qvtest::ModalHook hook([&](wxDialog* d) {
            if (d->GetTitle() != "Proxy Test Result")
                return static_cast<int>(wxID_NONE);
            resultShown = true;
            EXPECT_EQ("Proxy Test Result", d->GetName());
            if (auto* html = dynamic_cast<HtmlWindow*>(d->FindWindow("htmlWindow")))
                resultText = html->ToText();
            return static_cast<int>(wxID_OK);
        });
        qvtest::click(&dialog, 1);
    }

    std::string resultFile() const { return folder.file("proxyTest.html"); }

    qvfake::FakeService fake;
    qvtest::TempDir folder{"qv-proxytest"};
    qvtest::CapturedLog log;
    MyFrame* frame = nullptr;
    wxString startFolder;
    bool resultShown = false;
    wxString resultText;
};

TEST_F(ProxyTestTest, PlatformProxySucceedsWritesTheFileAndShowsIt) {
    setenv("http_proxy", fake.proxyUrl().c_str(), 1);
    for (int type : {0, 1}) {
        ConnectionSettings.connectionType = type;
        SetupDialog dialog(frame);
        qvtest::runModal(dialog, [&] {
            checkNetwork(dialog);
            EXPECT_TRUE(dialog.IsModal()) << "the setup dialog stays open";
        });
        EXPECT_TRUE(qvtest::errorsIn(log).empty());
        EXPECT_TRUE(resultShown);
        EXPECT_NE(wxNOT_FOUND, resultText.Find("Your network settings work.")) << resultText;
        EXPECT_EQ(kPage, qvtest::readFile(resultFile()));
    }
    for (const qvfake::RecordedRequest& r : fake.requests()) {
        EXPECT_EQ("www.quorvane.org", r.host);
        EXPECT_EQ("/proxyTest.htm", r.path);
    }
    // A second test overwrote the file with the newer page.
    fake.setProxyTestPage("<html>second</html>");
    SetupDialog dialog(frame);
    qvtest::runModal(dialog, [&] { checkNetwork(dialog); });
    EXPECT_EQ("<html>second</html>", qvtest::readFile(resultFile()));
}

TEST_F(ProxyTestTest, UnreachableHostGivesErrorAndNoFile) {
    ConnectionSettings.connectionType = 2;
    ConnectionSettings.proxyServer = "127.0.0.1";
    ConnectionSettings.proxyPort = std::to_string(qvtest::freePort());
    SetupDialog dialog(frame);
    qvtest::runModal(dialog, [&] { checkNetwork(dialog); });
    EXPECT_FALSE(resultShown);
    EXPECT_EQ(std::vector<wxString>{"Error Connecting to Proxy"}, qvtest::errorsIn(log));
    EXPECT_FALSE(qvtest::fileExists(resultFile()));
}

TEST_F(ProxyTestTest, FolderThatTakesNoFileGivesWriteError) {
    setenv("http_proxy", fake.proxyUrl().c_str(), 1);
    // /proc takes no new file, whoever runs the test.
    ASSERT_TRUE(wxSetWorkingDirectory("/proc"));
    SetupDialog dialog(frame);
    qvtest::runModal(dialog, [&] { checkNetwork(dialog); });
    EXPECT_FALSE(resultShown);
    EXPECT_EQ(std::vector<wxString>{"Error writing proxyTest.html"}, qvtest::errorsIn(log));
}

TEST_F(ProxyTestTest, ValuesOnScreenAreTestedAndCancelStillDiscardsThem) {
    // The stored settings lead nowhere; the typed ones reach the fake.
    ConnectionSettings.connectionType = 2;
    ConnectionSettings.proxyServer = "127.0.0.1";
    ConnectionSettings.proxyPort = std::to_string(qvtest::freePort());
    const ConnectionSettingsRecord before = ConnectionSettings;
    SetupDialog dialog(frame);
    const int answer = qvtest::runModal(dialog, [&] {
        dialog.m_proxyPortText->ChangeValue(std::to_string(fake.port()));
        checkNetwork(dialog);
        qvtest::click(&dialog, wxID_CANCEL);
    });
    EXPECT_EQ(wxID_CANCEL, answer);
    EXPECT_TRUE(resultShown);
    EXPECT_TRUE(qvtest::errorsIn(log).empty());
    EXPECT_EQ(1u, fake.requestCount());
    EXPECT_EQ(before.proxyPort, ConnectionSettings.proxyPort);
}

TEST_F(ProxyTestTest, RealProxyWithCredentials) {
    qvtest::Tinyproxy proxy(fake.port(), folder.path());
    ASSERT_TRUE(proxy.ok) << "tinyproxy did not start";
    ConnectionSettings.connectionType = 2;
    ConnectionSettings.proxyServer = "127.0.0.1";
    ConnectionSettings.proxyPort = std::to_string(proxy.port);
    ConnectionSettings.proxyUser = "alice";
    ConnectionSettings.proxyPass = "s3cret";
    SetupDialog dialog(frame);
    qvtest::runModal(dialog, [&] {
        checkNetwork(dialog);
        EXPECT_TRUE(resultShown);
        EXPECT_TRUE(qvtest::errorsIn(log).empty());
        EXPECT_EQ(kPage, qvtest::readFile(resultFile()));

        wxRemoveFile(resultFile());
        dialog.m_proxyPassText->ChangeValue("wrong");
        checkNetwork(dialog);
        EXPECT_FALSE(resultShown);
        EXPECT_EQ(std::vector<wxString>{"Error Connecting to Proxy"}, qvtest::errorsIn(log));
        EXPECT_FALSE(qvtest::fileExists(resultFile()));
    });
}

TEST_F(ProxyTestTest, ScreenshotsOfBothPagesAndTheResult) {
    setenv("http_proxy", fake.proxyUrl().c_str(), 1);
    ConnectionSettings.connectionType = 2;
    ConnectionSettings.proxyServer = "proxy.example.net";
    ConnectionSettings.proxyPort = "8080";
    ConnectionSettings.proxyUser = "alice";
    ConnectionSettings.proxyPass = "s3cret";
    SetupDialog dialog(frame);
    std::string network, directory, result;
    qvtest::runModal(dialog, [&] {
        network = qvtest::screenshot("setup-network");
        dialog.m_notebook->SetSelection(1);
        directory = qvtest::screenshot("setup-directory");
        dialog.m_notebook->SetSelection(0);
        qvtest::chooseConnection(dialog, 0);
        qvtest::ModalHook hook([&](wxDialog* d) {
            if (d->GetTitle() == "Proxy Test Result") {
                d->CallAfter([&, d] {
                    qvtest::pumpUntil([&] { return d->IsShownOnScreen(); });
                    result = qvtest::screenshot("proxy-test-result");
                    d->EndModal(wxID_OK);
                });
            }
            return static_cast<int>(wxID_NONE);
        });
        qvtest::click(&dialog, 1);
    });
    EXPECT_EQ(std::vector<wxString>{}, qvtest::errorsIn(log));
    for (const std::string& file : {network, directory, result})
        EXPECT_TRUE(file.empty() || qvtest::fileExists(file)) << file;
    EXPECT_FALSE(result.empty()) << "no screenshot tool (imagemagick's import)";
}

} // namespace

// The setup dialog as a real modal window: enabling of the proxy fields, what accepting
// and cancelling keep, the validators, the folder change and the job limit of the Setup
// command.
#include "fakeService.h"
#include "jobRecord.h"
#include "setupTestUtil.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <wx/dirdlg.h>
#include <wx/filefn.h>
#include <wx/notebook.h>
#include <wx/stattext.h>

#include <dlfcn.h>

namespace {

// Whether a GTK entry shows its text, asked from the GTK the program already runs with.
bool entryShowsText(wxTextCtrl* field) {
    using Visibility = int (*)(void*);
    static Visibility visible =
        reinterpret_cast<Visibility>(dlsym(RTLD_DEFAULT, "gtk_entry_get_visibility"));
    return visible && visible(field->GetHandle()) != 0;
}

using qvtest::kStillOpen;

ConnectionSettingsRecord stored(int type) {
    ConnectionSettingsRecord r;
    r.connectionType = type;
    r.proxyServer = "proxy.example.net";
    r.proxyPort = "3128";
    r.proxyUser = "bob";
    r.proxyPass = "old secret";
    return r;
}

bool same(const ConnectionSettingsRecord& a, const ConnectionSettingsRecord& b) {
    return a.connectionType == b.connectionType && a.proxyServer == b.proxyServer &&
           a.proxyPort == b.proxyPort && a.proxyUser == b.proxyUser && a.proxyPass == b.proxyPass;
}

bool proxyFieldsEnabled(SetupDialog& d, bool enabled) {
    return d.m_proxyServerText->IsEnabled() == enabled &&
           d.m_proxyPortText->IsEnabled() == enabled && d.m_proxyUserText->IsEnabled() == enabled &&
           d.m_proxyPassText->IsEnabled() == enabled;
}

void editEverything(SetupDialog& d) {
    qvtest::chooseConnection(d, 2);
    d.m_proxyServerText->ChangeValue("edited.example.org");
    d.m_proxyPortText->ChangeValue("9999");
    d.m_proxyUserText->ChangeValue("mallory");
    d.m_proxyPassText->ChangeValue("edited");
}

class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvtest::settingsWithoutCheckDue();
        ConnectionSettings = ConnectionSettingsRecord();
        startFolder = wxGetCwd();
        frame = StartMainWindow();
        qvtest::pump(100);
    }
    void TearDown() override {
        qvtest::closeMainWindow();
        wxSetWorkingDirectory(startFolder);
    }

    MyFrame* frame = nullptr;
    wxString startFolder;
    qvtest::TypableDir sandbox;
    qvtest::CapturedLog log;
};

TEST_F(SetupDialogTest, ProxyFieldsFollowTheConnectionTypeWithoutLosingText) {
    for (int type : {0, 1}) {
        ConnectionSettings = stored(type);
        SetupDialog dialog(frame);
        qvtest::runModal(dialog, [&] {
            EXPECT_EQ(type, dialog.m_connectionChoice->GetSelection());
            EXPECT_TRUE(proxyFieldsEnabled(dialog, false)) << type;
            // The stored values are loaded even while disabled.
            EXPECT_EQ("proxy.example.net", dialog.m_proxyServerText->GetValue());
            qvtest::chooseConnection(dialog, 2);
            EXPECT_TRUE(proxyFieldsEnabled(dialog, true));
            dialog.m_proxyServerText->ChangeValue("typed.example.org");
            qvtest::chooseConnection(dialog, 0);
            EXPECT_TRUE(proxyFieldsEnabled(dialog, false));
            EXPECT_EQ("typed.example.org", dialog.m_proxyServerText->GetValue());
            qvtest::chooseConnection(dialog, 1);
            EXPECT_TRUE(proxyFieldsEnabled(dialog, false));
        });
    }
    ConnectionSettings = stored(2);
    SetupDialog dialog(frame);
    qvtest::runModal(dialog, [&] { EXPECT_TRUE(proxyFieldsEnabled(dialog, true)); });
}

TEST_F(SetupDialogTest, CancelEscapeAndCloseBoxKeepEverythingEvenAPickedFolder) {
    const wxString picked = sandbox.path();
    const ConnectionSettingsRecord before = stored(0);
    const char* ways[] = {"Cancel", "Escape", "close box", "second page's Cancel"};
    for (const char* way : ways) {
        ConnectionSettings = before;
        const wxString cwd = wxGetCwd();
        int answer = -1;
        qvtest::runSetupCommand(
            frame,
            [&](SetupDialog& d) {
                editEverything(d);
                qvtest::click(d.FindWindow(changeButtonId)->GetParent(), changeButtonId);
                EXPECT_EQ(picked, d.GetDirectory());
                const std::string w = way;
                if (w == "Cancel")
                    qvtest::click(&d, wxID_CANCEL);
                else if (w == "Escape")
                    qvtest::pressKey(d.m_proxyUserText, WXK_ESCAPE);
                else if (w == "close box")
                    d.Close();
                else
                    qvtest::click(d.m_notebook->GetPage(1), wxID_CANCEL);
                answer = d.IsModal() ? kStillOpen : d.GetReturnCode();
            },
            qvtest::pickFolder(picked));
        EXPECT_EQ(wxID_CANCEL, answer) << way;
        EXPECT_TRUE(same(before, ConnectionSettings)) << way;
        EXPECT_EQ(cwd, wxGetCwd()) << way;
    }
    EXPECT_TRUE(qvtest::errorsIn(log).empty());
}

TEST_F(SetupDialogTest, EnterInAnyFieldAcceptsLikeOk) {
    ConnectionSettings = stored(0);
    SetupDialog first(frame);
    const int answer = qvtest::runModal(first, [&] {
        qvtest::chooseConnection(first, 2);
        first.m_proxyServerText->ChangeValue("127.0.0.1");
        first.m_proxyPortText->ChangeValue("8080");
        first.m_proxyUserText->ChangeValue("alice");
        first.m_proxyPassText->ChangeValue("p@ss word");
        qvtest::pressKey(first.m_proxyUserText, WXK_RETURN);
    });
    EXPECT_EQ(wxID_OK, answer);
    EXPECT_EQ(2, ConnectionSettings.connectionType);
    EXPECT_EQ("127.0.0.1", ConnectionSettings.proxyServer);
    EXPECT_EQ("8080", ConnectionSettings.proxyPort); // kept as the text typed
    EXPECT_EQ("alice", ConnectionSettings.proxyUser);
    EXPECT_EQ("p@ss word", ConnectionSettings.proxyPass); // clear text in memory

    // Reopened, the dialog shows what was accepted, the password masked.
    SetupDialog second(frame);
    qvtest::runModal(second, [&] {
        EXPECT_EQ(2, second.m_connectionChoice->GetSelection());
        EXPECT_EQ("127.0.0.1", second.m_proxyServerText->GetValue());
        EXPECT_EQ("8080", second.m_proxyPortText->GetValue());
        EXPECT_EQ("alice", second.m_proxyUserText->GetValue());
        EXPECT_EQ("p@ss word", second.m_proxyPassText->GetValue());
        EXPECT_TRUE(entryShowsText(second.m_proxyUserText));
        EXPECT_FALSE(entryShowsText(second.m_proxyPassText)) << "password shown in clear";
        // Enter in each of the other fields accepts as well.
        qvtest::pressKey(second.m_proxyPassText, WXK_RETURN);
    });
    EXPECT_EQ(wxID_OK, second.GetReturnCode());
    for (int field = 0; field < 2; ++field) {
        SetupDialog d(frame);
        wxTextCtrl* target = field == 0 ? d.m_proxyServerText : d.m_proxyPortText;
        EXPECT_EQ(wxID_OK, qvtest::runModal(d, [&] { qvtest::pressKey(target, WXK_RETURN); }));
    }
}

TEST_F(SetupDialogTest, PortRefusesLettersAndAPastedWordKeepsTheDialogOpen) {
    ConnectionSettings = stored(2);
    qvtest::ModalHook boxes([](wxDialog* d) {
        return dynamic_cast<wxMessageDialogBase*>(d) ? static_cast<int>(wxID_OK)
                                                     : static_cast<int>(wxID_NONE);
    });
    SetupDialog dialog(frame);
    const int answer = qvtest::runModal(dialog, [&] {
        dialog.m_proxyPortText->ChangeValue("");
        qvtest::typeInto(dialog.m_proxyPortText, "8a0b8x0");
        EXPECT_EQ("8080", dialog.m_proxyPortText->GetValue()) << "letters got into the port";

        // Pasted text escapes the key filter; acceptance catches it.
        dialog.m_proxyPortText->ChangeValue("80 eighty");
        dialog.m_proxyServerText->ChangeValue("changed.example.org");
        qvtest::pressKey(dialog.m_proxyPortText, WXK_RETURN);
        EXPECT_TRUE(dialog.IsModal()) << "accepted a non-numeric port";
        qvtest::click(&dialog, wxID_OK);
        EXPECT_TRUE(dialog.IsModal());
    });
    EXPECT_EQ(kStillOpen, answer);
    EXPECT_TRUE(same(stored(2), ConnectionSettings)) << "a refused acceptance transferred";
    // The first modal window is the setup dialog itself; then one refusal for Enter and
    // one for OK.
    ASSERT_EQ(3u, boxes.seen.size());
    EXPECT_EQ("Setup", boxes.seen[0].title);
    for (size_t i = 1; i < 3; ++i)
        EXPECT_NE(wxNOT_FOUND, boxes.seen[i].message.Find("80 eighty")) << boxes.seen[i].message;
}

TEST_F(SetupDialogTest, AcceptedFolderBecomesTheWorkingFolder) {
    const wxString folder = sandbox.path();
    qvtest::runSetupCommand(
        frame,
        [&](SetupDialog& d) {
            EXPECT_EQ(wxGetCwd(), d.GetDirectory());
            qvtest::click(d.m_notebook->GetPage(1), changeButtonId);
            EXPECT_EQ(folder, d.GetDirectory());
            EXPECT_EQ(wxGetCwd(), startFolder) << "the chooser changed the folder by itself";
            qvtest::click(d.m_notebook->GetPage(1), wxID_OK);
        },
        qvtest::pickFolder(folder));
    EXPECT_EQ(folder, wxGetCwd());
    EXPECT_TRUE(qvtest::errorsIn(log).empty());
}

TEST_F(SetupDialogTest, FolderThatCannotBeEnteredIsReportedAndTheOldOneStays) {
    const wxString gone = wxString(sandbox.path()) + "/removed meanwhile";
    ASSERT_TRUE(wxMkdir(gone));
    qvtest::runSetupCommand(
        frame,
        [&](SetupDialog& d) {
            qvtest::click(d.m_notebook->GetPage(1), changeButtonId);
            wxRmdir(gone);
            qvtest::click(&d, wxID_OK);
        },
        qvtest::pickFolder(gone));
    EXPECT_EQ(startFolder, wxGetCwd());
    ASSERT_EQ(1u, qvtest::errorsIn(log).size());
    EXPECT_EQ("Error changing directory to " + gone, qvtest::errorsIn(log)[0]);
}

TEST_F(SetupDialogTest, LongFolderIsWrappedAtBlanks) {
    wxString folder = sandbox.path();
    for (const char* part : {"/a rather long folder name with many words in it",
                             "/and another long folder name below that one", "/patents here"}) {
        folder += part;
        ASSERT_TRUE(wxMkdir(folder));
    }
    qvtest::runSetupCommand(
        frame,
        [&](SetupDialog& d) {
            qvtest::click(d.m_notebook->GetPage(1), changeButtonId);
            EXPECT_EQ(folder, d.GetDirectory());
            EXPECT_NE(wxNOT_FOUND, d.m_directoryLabel->GetLabel().Find('\n'));
            EXPECT_LE(d.m_directoryLabel->GetBestSize().GetWidth(), d.GetSize().GetWidth());
            qvtest::click(&d, wxID_CANCEL);
        },
        qvtest::pickFolder(folder));
}

TEST_F(SetupDialogTest, JobLimitIsClampedAndWaitingJobsStartIntoTheRoom) {
    // The jobs talk to a fake image host that holds every answer back, so they stay running.
    qvfake::FakeService fake;
    ASSERT_TRUE(fake.ok());
    fake.addRule("", "", qvfake::Fault::Stall, -1);
    setenv("http_proxy", fake.proxyUrl().c_str(), 1);

    frame->queue.SetLimit(0); // nothing may start until the limit is repaired
    for (const char* number : {"5123456", "5123457", "5123458"}) {
        frame->textCtrl->ChangeValue(number);
        wxCommandEvent download(wxEVT_BUTTON, ID_DOWNLOAD);
        frame->ProcessWindowEvent(download);
    }
    ASSERT_EQ(3u, frame->queue.WaitingCount());
    ASSERT_EQ(0u, frame->queue.RunningCount());

    qvtest::runSetupCommand(frame, [](SetupDialog& d) { qvtest::click(&d, wxID_CANCEL); });
    EXPECT_EQ(1u, frame->queue.Limit()) << "0 becomes 1 whatever the dialog's answer";
    EXPECT_EQ(1u, frame->queue.RunningCount());
    EXPECT_EQ(2u, frame->queue.WaitingCount());

    frame->queue.SetLimit(1000);
    qvtest::runSetupCommand(frame, [](SetupDialog& d) { qvtest::click(&d, wxID_OK); });
    EXPECT_EQ(511u, frame->queue.Limit());
    EXPECT_EQ(3u, frame->queue.RunningCount());
    EXPECT_TRUE(frame->queue.Waiting().empty());

    qvtest::closeMainWindow();
    fake.releaseStalls();
    unsetenv("http_proxy");
}

} // namespace

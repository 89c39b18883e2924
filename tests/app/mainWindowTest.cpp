// The main window as a real window: menus, input box, list, status bar, help, closing.
#include "MyApp.h"
#include "MyFrame.h"
#include "guitest.h"
#include "helpPage.h"
#include "modalDriver.h"
#include "settings.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <wx/accel.h>
#include <wx/dialog.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/statusbr.h>
#include <wx/uiaction.h>

#include <sys/stat.h>

#include <ctime>
#include <memory>

namespace {

const char* const kExpectedToolTip =
    "Enter in a U.S. Patent number, publication number, or serial number (with '/') \n"
    "into the textbox and press the download button.\n"
    "Commas are ignored.  Publication numbers must be 11 characters.\n"
    "Serial numbers must be for applications filed on or after March 15 2001.\n"
    "\n"
    "Examples:\n"
    "20020000001 \t(utility application by publication number)\n"
    "9/836917 \t(utility application by serial number)\n"
    "09/836917 \t(utility application by serial number)\n"
    "5123456 \t \t(utility patent)\n"
    "X0000001  \t(X-patent, pre-1836)\n"
    "D0365123 \t(design patent)\n"
    "PP012835 \t(plant patent)\n"
    "RE035136 \t(reissue patent)\n"
    "T0106201 \t(defensive publication)\n"
    "H0001520 \t(statutory invention registration)\n"
    "AI000318 \t(additional improvement)\n"
    "\n"
    "EP15\t\tPCT Patent EP15 (use two digit country codes";

// A settings store in which no update check is due, so no network traffic starts.
void freshSettings() {
    if (wxFileExists(SettingsFilePath()))
        if (wxFileExists(SettingsFilePath()))
            wxRemoveFile(SettingsFilePath());
    auto config = OpenSettings();
    config->Write("lastCheck", static_cast<long>(std::time(nullptr)));
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        freshSettings();
        ConnectionSettings = ConnectionSettingsRecord();
        m_frame = StartMainWindow();
        qvtest::pump(200);
    }
    void TearDown() override {
        if (TheMainFrame()) {
            TheMainFrame()->Close(true);
            qvtest::pumpUntil([] { return TheMainFrame() == nullptr; });
        }
        qvtest::pump(50);
    }
    MyFrame* m_frame = nullptr;
};

struct MenuItemExpect {
    int id;
    const char* label; // without the accelerator
    const char* help;
    int accelFlags;
    int accelKey;
};

TEST_F(MainWindowTest, MenusHaveTheirLabelsHelpStringsAndAccelerators) {
    wxMenuBar* bar = m_frame->GetMenuBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->GetMenuCount(), 3u);
    EXPECT_EQ(bar->GetMenuLabel(0), "&File");
    EXPECT_EQ(bar->GetMenuLabel(1), "&Selection");
    EXPECT_EQ(bar->GetMenuLabel(2), "&Help");
    EXPECT_EQ(bar->GetMenu(0)->GetMenuItemCount(), 4u);
    EXPECT_EQ(bar->GetMenu(1)->GetMenuItemCount(), 5u);
    EXPECT_EQ(bar->GetMenu(2)->GetMenuItemCount(), 1u);

    const MenuItemExpect items[] = {
        {ID_SETUP, "&Setup", "Change Options", wxACCEL_ALT, 'S'},
        {ID_UPDATE, "&Update", "Check for Updates", wxACCEL_ALT, 'U'},
        {ID_DOWNLOAD_LIST, "Download &List...", "Download every number of a text or CSV file",
         wxACCEL_CTRL, 'L'},
        {ID_EXIT, "E&xit", "Quit Quorvane", wxACCEL_CTRL, 'W'},
        {ID_OPEN, "&Open", "Open in your favorite PDF viewer", wxACCEL_CTRL, 'O'},
        {ID_PRINT, "&Print", "Print PDF", wxACCEL_CTRL, 'P'},
        {ID_REMOVE, "&Remove from List", "Removes PDF From List", wxACCEL_CTRL, 'R'},
        {ID_DELETE, "Permanently &Delete", "Permanetely Delete PDF", wxACCEL_CTRL, 'D'},
        {ID_CANCEL, "&Cancel", "Cancel Job", wxACCEL_CTRL, 'C'},
        {ID_HELP, "&Help...", "Show help", wxACCEL_NORMAL, WXK_F1},
    };
    for (const MenuItemExpect& e : items) {
        wxMenuItem* item = bar->FindItem(e.id);
        ASSERT_NE(item, nullptr) << e.label;
        EXPECT_EQ(item->GetItemLabel().BeforeFirst('\t'), e.label);
        EXPECT_EQ(item->GetHelp(), e.help);
        EXPECT_FALSE(item->IsSeparator());
        EXPECT_FALSE(item->IsCheckable());
        wxAcceleratorEntry* accel = item->GetAccel();
        ASSERT_NE(accel, nullptr) << e.label;
        EXPECT_EQ(accel->GetFlags(), e.accelFlags) << e.label;
        EXPECT_EQ(accel->GetKeyCode(), e.accelKey) << e.label;
        delete accel;
    }
}

TEST_F(MainWindowTest, ControlsStatusBarAndMinimumSize) {
    EXPECT_EQ(m_frame->GetName(), "frame");
    EXPECT_EQ(m_frame->GetTitle(), "Quorvane");
    EXPECT_EQ(m_frame->textCtrl->GetName(), "text");
    EXPECT_EQ(m_frame->textCtrl->GetToolTipText(), kExpectedToolTip);
    EXPECT_EQ(m_frame->listCtrl->GetName(), "listCtrl");
    EXPECT_EQ(m_frame->listCtrl->GetColumnCount(), 2);
    wxListItem column;
    column.SetMask(wxLIST_MASK_TEXT);
    m_frame->listCtrl->GetColumn(0, column);
    EXPECT_EQ(column.GetText(), "Patent/Application");
    m_frame->listCtrl->GetColumn(1, column);
    EXPECT_EQ(column.GetText(), "Status");
    EXPECT_GE(m_frame->listCtrl->GetColumnWidth(1), 250);

    wxStatusBar* status = m_frame->GetStatusBar();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->GetName(), "status_line");
    EXPECT_EQ(status->GetFieldsCount(), 2);
    EXPECT_EQ(status->GetStatusText(0), "0 Pages Downloaded from the USPTO");

    // A first start shows both fields' texts whole in whatever font GTK uses.
    const std::pair<int, const char*> texts[] = {{0, "8888 Pages Downloaded from the USPTO"},
                                                 {1, "Running Latest Version"},
                                                 {1, "Checking for available updates..."}};
    for (const auto& [field, text] : texts) {
        wxRect rect;
        ASSERT_TRUE(status->GetFieldRect(field, rect));
        EXPECT_GT(rect.width, status->GetTextExtent(text).x) << text;
    }

    EXPECT_EQ(m_frame->GetPosition(), wxPoint(50, 50));
    m_frame->SetSize(100, 100);
    qvtest::pump(100);
    EXPECT_GE(m_frame->GetSize().GetWidth(), 375);
    EXPECT_GE(m_frame->GetSize().GetHeight(), 200);
    m_frame->SetSize(400, 240);
    qvtest::pump(200);

    // The input row is drawn in full: the box is tall enough for its text.
    EXPECT_GE(m_frame->textCtrl->GetSize().GetHeight(), m_frame->textCtrl->GetCharHeight());
    EXPECT_FALSE(qvtest::screenshot("main-window", m_frame).empty());
}

TEST_F(MainWindowTest, StatusColumnTakesTheRestOfTheListAndFollowsTheWindow) {
    wxListView* list = m_frame->listCtrl;
    auto rest = [list] { return list->GetClientSize().x - list->GetColumnWidth(0); };
    auto fills = [&] { return list->GetColumnWidth(1) == rest(); };
    // A first start shows a long progress status whole, page count included.
    ASSERT_TRUE(qvtest::pumpUntil(fills)) << list->GetColumnWidth(1) << " of " << rest();
    EXPECT_GT(list->GetColumnWidth(1),
              list->GetTextExtent("Downloading WO 2010050748 A2 page 2 of 5").x);
    for (int width : {900, 640}) {
        m_frame->SetSize(width, 300);
        EXPECT_TRUE(qvtest::pumpUntil(fills)) << width << ": " << list->GetColumnWidth(1);
    }
    // Rows (without jobs) that outgrow the list bring a scroll bar; the column makes room.
    for (int row = 0; row < 40; ++row)
        list->InsertItem(row, "1000000");
    const int bar = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, list);
    EXPECT_TRUE(qvtest::pumpUntil([&] { return list->GetColumnWidth(1) == rest() - bar; }))
        << list->GetColumnWidth(1);
    // Narrower than the column's first width, the list scrolls sideways instead.
    m_frame->SetSize(375, 300);
    EXPECT_TRUE(qvtest::pumpUntil([&] { return list->GetColumnWidth(1) == 250; }));
}

TEST(EpoWeekUse, ReadsInMegabytesThenGigabytes) {
    EXPECT_EQ(EpoWeekUseText(0), "EPO: 0 MB of 4 GB this week");
    EXPECT_EQ(EpoWeekUseText(12600000), "EPO: 13 MB of 4 GB this week");
    EXPECT_EQ(EpoWeekUseText(1234000000), "EPO: 1.2 GB of 4 GB this week");
}

TEST_F(MainWindowTest, AltSOpensSetupAsItsLabelSays) {
    qvtest::ModalHook hook([](wxDialog*) { return wxID_CANCEL; });
    m_frame->Raise();
    m_frame->textCtrl->SetFocus();
    qvtest::pump(100);
    wxUIActionSimulator sim;
    sim.Char('s', wxMOD_ALT);
    ASSERT_TRUE(qvtest::pumpUntil([&] { return !hook.seen.empty(); }));
    EXPECT_EQ(hook.seen.front().title, "Setup");
}

TEST_F(MainWindowTest, EnterInTheInputBoxActsLikeTheButton) {
    qvtest::CapturedLog log;
    m_frame->Raise();
    m_frame->textCtrl->SetFocus();
    qvtest::pump(100);
    // A real key press: Enter goes through GTK to the window's handler.
    wxUIActionSimulator sim;
    sim.Text("abc%s");
    qvtest::pumpUntil([&] { return m_frame->textCtrl->GetValue() == "abc%s"; });
    ASSERT_EQ(m_frame->textCtrl->GetValue(), "abc%s");
    sim.Char(WXK_RETURN);
    ASSERT_TRUE(qvtest::pumpUntil([&] { return !log.errors().empty(); }));
    EXPECT_EQ(log.errors().front(),
              wxString("\"abc%s\" -- Unknown Format\n\n\n") + kExpectedToolTip);
    EXPECT_EQ(m_frame->textCtrl->GetValue(), "abc%s"); // the box keeps its text
    EXPECT_EQ(m_frame->listCtrl->GetItemCount(), 0);

    // A pasted page of text is quoted cut short, so the box fits the screen.
    log.clear();
    m_frame->textCtrl->ChangeValue(wxString('q', 5000));
    wxCommandEvent longText(wxEVT_BUTTON, ID_DOWNLOAD);
    m_frame->GetEventHandler()->ProcessEvent(longText);
    qvtest::pump(50);
    ASSERT_EQ(log.errors().size(), 1u);
    EXPECT_TRUE(log.errors().front().StartsWith(
        "\"" + wxString('q', 59) + wxString::FromUTF8("\u2026") + "\" -- Unknown Format\n\n\n"));

    // The button reaches the same handler.
    log.clear();
    m_frame->textCtrl->ChangeValue("0");
    wxCommandEvent click(wxEVT_BUTTON, ID_DOWNLOAD);
    m_frame->GetEventHandler()->ProcessEvent(click);
    qvtest::pump(50);
    ASSERT_EQ(log.errors().size(), 1u);
    EXPECT_TRUE(log.errors().front().StartsWith("\"0\" -- Unknown Format\n\n\n"));
}

TEST_F(MainWindowTest, HelpPageHoldsEverySectionAndAnchor) {
    const wxString page = BuildHelpPage();
    EXPECT_TRUE(page.Contains("<i>Version 2.21</i>&nbsp;&nbsp;("));
    const char* const titles[] = {"Table of Contents",
                                  "Usage",
                                  "General Usage",
                                  "U.S. Publication",
                                  "U.S. Utility Patent by patent number",
                                  "U.S. Utility Patent by serial number",
                                  "U.S. X Patent (pre-1836)",
                                  "U.S. Design Patent",
                                  "U.S. Plant Patent",
                                  "U.S. Reissue Patent",
                                  "U.S. Defensive Publication",
                                  "U.S. Statutory Registration",
                                  "U.S. Additional Improvement",
                                  "PCT Patent by patent application number",
                                  "Terms and Conditions",
                                  "Credits",
                                  "Back to Table of Contents",
                                  "wxWidgets"};
    for (const char* t : titles)
        EXPECT_TRUE(page.Contains(t)) << t;
    const char* const examples[] = {"20020000001", "5123456",  "5,123,456", "9/836917", "09/836917",
                                    "09/836,917",  "X0000001", "D0365123",  "PP012835", "RE035136",
                                    "T0106201",    "H0001520", "AI000318",  "EP15"};
    for (const char* e : examples)
        EXPECT_TRUE(page.Contains(e)) << e;
    EXPECT_TRUE(page.Contains("<a name=\"Table_of_Contents\">"));
    EXPECT_TRUE(page.Contains("<a name=\"terms\">"));
    // Every in-page link has its anchor.
    wxString rest = page;
    int links = 0;
    while (rest.Contains("href=\"#")) {
        // From the link itself: the text before it may hold a '#' of its own.
        rest = rest.Mid(static_cast<size_t>(rest.Find("href=\"#")) + 7);
        const wxString anchor = rest.BeforeFirst('"');
        EXPECT_TRUE(page.Contains("<a name=\"" + anchor + "\">")) << anchor;
        ++links;
    }
    EXPECT_GE(links, 15);

    wxDialog* dialog = CreateHelpDialog(m_frame);
    dialog->Show();
    qvtest::pump(300);
    HtmlWindow* html = dynamic_cast<HtmlWindow*>(dialog->FindWindow("htmlWindow"));
    ASSERT_NE(html, nullptr);
    EXPECT_EQ(dialog->GetSize(), wxSize(800, 500));
    EXPECT_FALSE(qvtest::screenshot("help-window", dialog).empty());
    // An in-page link moves inside the page.
    html->OnLinkClicked(wxHtmlLinkInfo("#terms"));
    qvtest::pump(100);
    EXPECT_EQ(html->GetOpenedAnchor(), "terms");
    dialog->Destroy();
    qvtest::pump(50);
}

TEST(MainWindowClose, SecondCloseRequestDoesNothingAndSettingsAreWritten) {
    freshSettings();
    ConnectionSettings = ConnectionSettingsRecord();
    ConnectionSettings.proxyPass = "pw";
    MyFrame* frame = StartMainWindow();
    qvtest::pump(200);
    frame->queue.SetLimit(4);
    // Exit chosen twice before the first close has finished.
    wxCommandEvent exitCommand(wxEVT_MENU, ID_EXIT);
    frame->GetEventHandler()->AddPendingEvent(exitCommand);
    frame->GetEventHandler()->AddPendingEvent(exitCommand);
    ASSERT_TRUE(qvtest::pumpUntil([] { return TheMainFrame() == nullptr; }));
    qvtest::pump(100);

    struct stat st;
    ASSERT_EQ(::stat(SettingsFilePath().utf8_str().data(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    auto config = OpenSettings();
    const char* const keys[] = {"Path",      "max_threads", "exec",      "proxyServer",
                                "proxyPort", "proxyUser",   "proxyPass", "connectionType",
                                "Version",   "sizex",       "sizey",     "posx",
                                "posy",      "lastCheck"};
    for (const char* key : keys)
        EXPECT_TRUE(config->HasEntry(key)) << key;
    long v = 0;
    config->Read("max_threads", &v);
    EXPECT_EQ(v, 4);
    EXPECT_EQ(config->Read("Path", ""), wxGetCwd());
    EXPECT_TRUE(wxIsAbsolutePath(config->Read("exec", "")));
}

TEST(MainWindowClose, AVanishedDownloadFolderKeepsTheLastGoodPathWithoutABox) {
    freshSettings();
    const wxString before = wxGetCwd();
    auto folder = std::make_unique<qvtest::TempDir>("qv-vanishing");
    OpenSettings()->Write("Path", wxString(folder->path()));
    qvtest::CapturedLog log;
    MyFrame* frame = StartMainWindow();
    qvtest::pump(100);
    ASSERT_EQ(wxGetCwd(), wxString(folder->path()));
    const wxString stored = folder->path();
    folder.reset(); // the folder goes while the program runs
    frame->Close(true);
    ASSERT_TRUE(qvtest::pumpUntil([] { return TheMainFrame() == nullptr; }));
    qvtest::pump(50);
    EXPECT_TRUE(log.errors().empty()) << log.errors().front();
    EXPECT_EQ(OpenSettings()->Read("Path", "none"), stored);
    wxSetWorkingDirectory(before);
}

} // namespace

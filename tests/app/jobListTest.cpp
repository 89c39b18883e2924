// The job list as a real window against the fake remote services: typed numbers become rows
// and jobs, the queue, the row commands, the page counter, drops.
#include "MyApp.h"
#include "MyFrame.h"
#include "fakeService.h"
#include "fixtures.h"
#include "guitest.h"
#include "jobRecord.h"
#include "numberList.h"
#include "pct.h"
#include "settings.h"
#include "testutil.h"
#include "uspto.h"

#include <gtest/gtest.h>
#include <wx/clipbrd.h>
#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/modalhook.h>
#include <wx/statusbr.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <ctime>

namespace {

std::vector<std::string> pagesOf(int count, unsigned seed = 1) {
    return qvfix::makeTiffPages(count, seed);
}

class JobListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_fake.ok());
        setenv("http_proxy", m_fake.proxyUrl().c_str(), 1);
        unsetenv("no_proxy");
        // The rows' rules are tried on the image servers' route.
        setenv("QUORVANE_US_SOURCE", "uspto-images", 1);
        // Stand-ins for the desktop's viewer and for lp record how they were called.
        const std::string bin = m_dir.file("bin");
        qvtest::runCommand("mkdir -p '" + bin + "'");
        for (const char* tool : {"xdg-open", "lp"}) {
            const std::string script =
                "#!/bin/sh\necho \"$@\" >> '" + m_dir.file(tool) + ".calls'\n";
            qvtest::writeFile(bin + "/" + tool, script);
            qvtest::runCommand("chmod +x '" + bin + "/" + tool + "'");
        }
        m_oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (bin + ":" + m_oldPath).c_str(), 1);

        if (wxFileExists(SettingsFilePath()))
            if (wxFileExists(SettingsFilePath()))
                wxRemoveFile(SettingsFilePath());
        {
            auto config = OpenSettings();
            config->Write("lastCheck", static_cast<long>(std::time(nullptr)));
            config->Write("Path", wxString(m_dir.file("pdf")));
        }
        qvtest::runCommand("mkdir -p '" + m_dir.file("pdf") + "'");
        ziv2ize::SetCountdownStepMs(20);
        m_frame = StartMainWindow();
        qvtest::pump(100);
    }
    void TearDown() override {
        unsetenv("QUORVANE_US_SOURCE");
        m_fake.releaseStalls();
        if (TheMainFrame()) {
            TheMainFrame()->Close(true);
            qvtest::pumpUntil([] { return TheMainFrame() == nullptr; });
        }
        qvtest::pump(50);
        wxSetWorkingDirectory("/");
        setenv("PATH", m_oldPath.c_str(), 1);
        ziv2ize::SetCountdownStepMs(1000);
    }

    // Types text and presses Enter, as a user would.
    void enter(const wxString& text) {
        m_frame->textCtrl->ChangeValue(text);
        wxCommandEvent enterEvent(wxEVT_TEXT_ENTER, ID_INPUT);
        enterEvent.SetEventObject(m_frame->textCtrl);
        m_frame->textCtrl->GetEventHandler()->ProcessEvent(enterEvent);
    }
    wxString status(long row) const { return m_frame->listCtrl->GetItemText(row, 1); }
    wxString typed(long row) const { return m_frame->listCtrl->GetItemText(row, 0); }
    JobRecord* record(long row) const { return m_frame->RecordOfRow(row); }
    void selectOnly(std::initializer_list<long> rows) {
        for (long r = 0; r < m_frame->listCtrl->GetItemCount(); ++r)
            m_frame->listCtrl->Select(r, false);
        for (long r : rows)
            m_frame->listCtrl->Select(r, true);
    }
    void command(int id) {
        wxCommandEvent event(wxEVT_MENU, id);
        m_frame->GetEventHandler()->ProcessEvent(event);
    }
    bool waitStatus(long row, const wxString& text, int seconds = 20) {
        return qvtest::pumpUntil([&] { return status(row) == text; },
                                 std::chrono::seconds(seconds));
    }
    std::string calls(const char* tool) { return qvtest::readFile(m_dir.file(tool) + ".calls"); }

    qvtest::TempDir m_dir{"qv-joblist"};
    qvfake::FakeService m_fake;
    std::string m_oldPath;
    MyFrame* m_frame = nullptr;
};

TEST_F(JobListTest, TypedNumberBecomesOneRowAndItsPdf) {
    m_fake.addUsptoDocument("5123456", pagesOf(2));
    enter("5,123,456");
    ASSERT_EQ(m_frame->listCtrl->GetItemCount(), 1);
    EXPECT_EQ(typed(0), "5,123,456");
    EXPECT_EQ(record(0)->number, "5123456");
    EXPECT_NE(dynamic_cast<uspto*>(record(0)->job.get()), nullptr);
    EXPECT_EQ(m_frame->textCtrl->GetValue(), ""); // emptied for the next number
    ASSERT_TRUE(waitStatus(0, "Finished!"));
    ASSERT_TRUE(qvtest::pumpUntil([&] { return record(0)->finished; }));
    const std::string pdf = m_dir.file("pdf") + "/5123456.pdf";
    EXPECT_EQ(record(0)->pdfPath, wxString(pdf));
    EXPECT_EQ(qvtest::runCommand("qpdf --check '" + pdf + "' >/dev/null 2>&1"), 0);
    EXPECT_EQ(m_frame->GetStatusBar()->GetStatusText(0), "2 Pages Downloaded from the USPTO");
    EXPECT_EQ(m_frame->queue.RunningCount(), 0u);
}

TEST_F(JobListTest, EachFormGoesToItsJobKind) {
    // Every page list stalls, so the jobs stay alive while we look at them.
    m_fake.addRule("", "", qvfake::Fault::Stall, -1);
    m_frame->queue.SetLimit(10);
    enter("EP15");
    enter("ep15");
    enter("DE1234567");
    enter("WO2004/012345");
    ASSERT_EQ(m_frame->listCtrl->GetItemCount(), 4);
    EXPECT_NE(dynamic_cast<pct*>(record(0)->job.get()), nullptr);
    EXPECT_NE(dynamic_cast<pct*>(record(1)->job.get()), nullptr);
    EXPECT_NE(dynamic_cast<uspto*>(record(2)->job.get()), nullptr);
    EXPECT_NE(dynamic_cast<uspto*>(record(3)->job.get()), nullptr);
    // DE1234567 is a design letter without a number behind it.
    EXPECT_TRUE(waitStatus(2, "Unknown Patent/Application Format"));
}

TEST_F(JobListTest, AtMostMaxThreadsRunAndTheOldestWaitingStartsNext) {
    for (const char* docid : {"1000001", "1000002", "1000003", "1000004", "1000005"})
        m_fake.addUsptoDocument(docid, pagesOf(1));
    // Hold the first three page lists until released.
    m_fake.addRule("", "Docid=1000001", qvfake::Fault::Stall, -1);
    m_fake.addRule("", "Docid=1000002", qvfake::Fault::Stall, -1);
    m_fake.addRule("", "Docid=1000003", qvfake::Fault::Stall, -1);
    m_frame->queue.SetLimit(3);
    for (const char* n : {"1000001", "1000002", "1000003", "1000004", "1000005"})
        enter(n);
    qvtest::pump(300);
    EXPECT_EQ(status(0), "Downloading");
    EXPECT_EQ(status(1), "Downloading");
    EXPECT_EQ(status(2), "Downloading");
    EXPECT_EQ(status(3), "Waiting");
    EXPECT_EQ(status(4), "Waiting");
    EXPECT_EQ(m_frame->queue.RunningCount(), 3u);
    ASSERT_EQ(m_frame->queue.WaitingCount(), 2u);
    EXPECT_EQ(m_frame->queue.Waiting()[0], record(3));

    // Cancelling a running job frees no place by itself...
    selectOnly({0});
    command(ID_CANCEL);
    EXPECT_EQ(status(0), "Cancelled");
    EXPECT_EQ(status(3), "Waiting");
    // ...but a job that ends starts exactly the oldest waiting one.
    m_fake.clearRules();
    m_fake.releaseStalls();
    ASSERT_TRUE(waitStatus(3, "Finished!"));
    ASSERT_TRUE(waitStatus(4, "Finished!"));
    EXPECT_EQ(status(0), "Cancelled");
    EXPECT_TRUE(m_frame->queue.Waiting().empty());
}

TEST_F(JobListTest, CancelRemoveAndDeleteActOnTheirRows) {
    m_fake.addUsptoDocument("1000010", pagesOf(1));
    m_fake.addUsptoDocument("1000011", pagesOf(1));
    m_frame->queue.SetLimit(1);
    enter("1000010");
    ASSERT_TRUE(qvtest::pumpUntil([&] { return record(0)->finished; }));
    EXPECT_EQ(status(0), "Finished!");

    m_fake.addRule("", "Docid=1000012", qvfake::Fault::Stall, -1);
    enter("1000012"); // runs and hangs
    enter("1000011"); // waits
    EXPECT_EQ(status(2), "Waiting");

    // Cancel on a finished row changes nothing; on a waiting row it never starts.
    selectOnly({0, 2});
    command(ID_CANCEL);
    EXPECT_EQ(status(0), "Finished!");
    EXPECT_EQ(status(2), "Cancelled");

    // Cancel on the running row stops it within a second, while its request hangs.
    selectOnly({1});
    auto before = std::chrono::steady_clock::now();
    command(ID_CANCEL);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
    EXPECT_EQ(status(1), "Cancelled");
    EXPECT_EQ(record(1)->job, nullptr);
    qvtest::pump(300);
    EXPECT_EQ(status(2), "Cancelled");
    EXPECT_FALSE(qvtest::fileExists(m_dir.file("pdf") + "/1000011.pdf"));

    // Permanently Delete on the finished row and a row without a PDF: both rows go, the
    // file is removed, and a missing file is no error.
    qvtest::CapturedLog log;
    const std::string pdf = m_dir.file("pdf") + "/1000010.pdf";
    ASSERT_TRUE(qvtest::fileExists(pdf));
    selectOnly({0, 1});
    command(ID_DELETE);
    qvtest::pump(50);
    EXPECT_FALSE(qvtest::fileExists(pdf));
    EXPECT_EQ(m_frame->listCtrl->GetItemCount(), 1);
    EXPECT_TRUE(log.errors().empty());
    EXPECT_EQ(typed(0), "1000011");
}

TEST_F(JobListTest, RemovingARunningRowKeepsWaitingJobsWaitingAndEventsFindTheirRows) {
    m_fake.addUsptoDocument("1000020", pagesOf(1));
    m_fake.addUsptoDocument("1000021", pagesOf(3));
    m_fake.addUsptoDocument("1000022", pagesOf(1));
    m_fake.addRule("", "Docid=1000020", qvfake::Fault::Stall, -1);
    m_fake.addRule("", "Docid=1000021", qvfake::Fault::Stall, 1);
    m_frame->queue.SetLimit(2);
    enter("1000020");
    enter("1000021");
    enter("1000022");
    qvtest::pump(200);
    EXPECT_EQ(status(2), "Waiting");

    // Remove the first row: its job stops, the waiting job keeps waiting.
    selectOnly({0});
    command(ID_REMOVE);
    ASSERT_EQ(m_frame->listCtrl->GetItemCount(), 2);
    EXPECT_EQ(typed(0), "1000021");
    qvtest::pump(200);
    EXPECT_EQ(status(1), "Waiting");

    // The second job, now on row 0, still gets its own status texts; when it ends the
    // waiting one starts.
    ASSERT_TRUE(qvtest::pumpUntil([&] { return m_fake.requestCount() >= 2; }));
    m_fake.releaseStalls();
    ASSERT_TRUE(waitStatus(0, "Finished!"));
    ASSERT_TRUE(waitStatus(1, "Finished!"));
    EXPECT_TRUE(qvtest::fileExists(m_dir.file("pdf") + "/1000021.pdf"));
}

TEST_F(JobListTest, OpenAndPrintAskedBeforeTheEndActOnceWhenThePdfIsReported) {
    m_fake.addUsptoDocument("1000030", pagesOf(1));
    m_fake.addRule("", "Docid=1000030", qvfake::Fault::Stall, 1);
    enter("1000030");
    selectOnly({0});
    command(ID_OPEN);
    command(ID_OPEN);
    command(ID_PRINT);
    command(ID_PRINT);
    EXPECT_EQ(calls("xdg-open"), "");
    ASSERT_TRUE(qvtest::pumpUntil([&] { return m_fake.requestCount() > 0; }));
    m_fake.releaseStalls();
    ASSERT_TRUE(qvtest::pumpUntil([&] { return record(0)->finished; }, std::chrono::seconds(20)))
        << status(0);
    const std::string pdf = m_dir.file("pdf") + "/1000030.pdf";
    ASSERT_TRUE(
        qvtest::pumpUntil([&] { return !calls("xdg-open").empty() && !calls("lp").empty(); }));
    qvtest::pump(300);
    EXPECT_EQ(calls("xdg-open"), pdf + "\n");
    EXPECT_EQ(calls("lp"), pdf + "\n");

    // On a finished row both act at once.
    command(ID_PRINT);
    ASSERT_TRUE(qvtest::pumpUntil([&] { return calls("lp") == pdf + "\n" + pdf + "\n"; }));
}

TEST_F(JobListTest, NoViewerAndNoLpGiveTheMessage) {
    setenv("PATH", "/nonexistent", 1);
    qvtest::CapturedLog log;
    m_frame->OpenPdf("/tmp/none.pdf");
    m_frame->PrintPdf("/tmp/none.pdf");
    qvtest::pump(50);
    int count = 0;
    for (const wxString& e : log.errors())
        if (e == "No PDF Reader Found.  Please install a PDF reader.")
            ++count;
    // Where the desktop registers a PDF viewer, opening works without xdg-open.
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 2);
}

TEST_F(JobListTest, RegisteredViewerGetsThePathAsExactlyOneArgument) {
    // A viewer registered for PDFs the way desktops do it: a desktop file and a default.
    const std::string data = m_dir.file("data");
    qvtest::runCommand("mkdir -p '" + data + "/applications' '" + data + "/mime'");
    qvtest::writeFile(m_dir.file("bin/qv-viewer"), "#!/bin/sh\nfor a; do echo \"[$a]\"; done >> '" +
                                                       m_dir.file("viewer.calls") + "'\n");
    qvtest::runCommand("chmod +x '" + m_dir.file("bin/qv-viewer") + "'");
    qvtest::writeFile(data + "/applications/qv-viewer.desktop",
                      "[Desktop Entry]\nType=Application\nName=Viewer\nExec=qv-viewer %f\n"
                      "MimeType=application/pdf;\n");
    qvtest::writeFile(data + "/applications/mimeapps.list",
                      "[Default Applications]\napplication/pdf=qv-viewer.desktop\n");
    qvtest::writeFile(data + "/applications/defaults.list",
                      "[Default Applications]\napplication/pdf=qv-viewer.desktop\n");
    qvtest::writeFile(data + "/mime/globs", "application/pdf:*.pdf\n");
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("XDG_DATA_DIRS", data.c_str(), 1);

    const std::string quoted = "/tmp/dl x\" --evil \"y/1.pdf";
    const std::string tab = "/tmp/EP\t15.pdf";
    // One at a time: two viewers started together may write in either order.
    m_frame->OpenPdf(quoted);
    ASSERT_TRUE(qvtest::pumpUntil([&] { return calls("viewer").size() >= quoted.size() + 3; }))
        << calls("viewer") << calls("xdg-open");
    m_frame->OpenPdf(tab);
    ASSERT_TRUE(qvtest::pumpUntil(
        [&] { return calls("viewer").size() >= quoted.size() + tab.size() + 6; }));
    qvtest::pump(100);
    EXPECT_EQ(calls("viewer"), "[" + quoted + "]\n[" + tab + "]\n");
    EXPECT_EQ(calls("xdg-open"), "");
}

TEST_F(JobListTest, PageCounterWarnsAtEveryFiveHundredPages) {
    qvtest::CapturedLog log;
    auto page = [&] {
        wxThreadEvent event(wxEVT_USPTO_PAGE, -1);
        m_frame->GetEventHandler()->ProcessEvent(event);
    };
    for (int i = 0; i < 499; ++i)
        page();
    EXPECT_TRUE(log.messages().empty());
    page();
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_TRUE(log.messages()[0].StartsWith(
        "Warning, the USPTO will block excessive usage of their site!  Quorvane will not be held "
        "responsible for excessive use of USPTO systems, resulting in blocked access!  You have "
        "downloaded 500 pages\n\nFrom http://www.uspto.gov/patft/help/notices.html\n\n\"These "
        "databases are intended"));
    EXPECT_TRUE(log.messages()[0].EndsWith("without notice.\""));
    page();
    EXPECT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(m_frame->GetStatusBar()->GetStatusText(0), "501 Pages Downloaded from the USPTO");
    for (int i = 0; i < 499; ++i)
        page();
    ASSERT_EQ(log.messages().size(), 2u);
    EXPECT_TRUE(log.messages()[1].Contains("You have downloaded 1000 pages"));
}

TEST_F(JobListTest, DroppedTextFillsTheInputBoxAndStartsNothing) {
    m_frame->textCtrl->ChangeValue("typed before");
    auto* target = dynamic_cast<wxTextDropTarget*>(m_frame->GetDropTarget());
    ASSERT_NE(target, nullptr);
    EXPECT_TRUE(target->OnDropText(10, 10, "5,123,456"));
    EXPECT_EQ(m_frame->textCtrl->GetValue(), "5,123,456");
    EXPECT_EQ(m_frame->listCtrl->GetItemCount(), 0);
}

TEST_F(JobListTest, UnknownEventIdsAreIgnored) {
    wxThreadEvent status(wxEVT_JOB_STATUS, 12345);
    status.SetString("stray");
    m_frame->GetEventHandler()->ProcessEvent(status);
    wxThreadEvent ended(wxEVT_JOB_ENDED, 12345);
    m_frame->GetEventHandler()->ProcessEvent(ended);
    EXPECT_EQ(m_frame->listCtrl->GetItemCount(), 0);
}

TEST_F(JobListTest, ScreenshotWithRowsInSeveralStates) {
    m_fake.addUsptoDocument("1000040", pagesOf(1));
    m_fake.addUsptoDocument("1000041", pagesOf(2));
    m_fake.addRule("", "Docid=1000041", qvfake::Fault::Stall, -1);
    m_fake.addRule("", "Docid=1000042", qvfake::Fault::Stall, -1);
    m_frame->queue.SetLimit(2);
    m_frame->SetSize(520, 300);
    enter("1000040");
    ASSERT_TRUE(waitStatus(0, "Finished!"));
    enter("D0000000");
    ASSERT_TRUE(waitStatus(1, "Unknown Patent/Application Format"));
    enter("1000041");
    enter("1,000,042");
    enter("EP1000000");
    enter("RE35136");
    qvtest::pump(300);
    selectOnly({5});
    command(ID_CANCEL);
    selectOnly({});
    qvtest::pump(300);
    EXPECT_EQ(status(4), "Waiting");
    EXPECT_EQ(status(5), "Cancelled");
    EXPECT_FALSE(qvtest::screenshot("job-list", m_frame).empty());
}

TEST_F(JobListTest, PastedListBecomesRowsInOrderWithOneOutcomeEach) {
    m_fake.addUsptoDocument("1000101", pagesOf(2));
    m_fake.addUsptoDocument("1000103", pagesOf(1));
    // Already on disk: the job must not fetch it again.
    ASSERT_TRUE(qvtest::writeFile(m_dir.file("pdf") + "/1000103.pdf", "kept"));
    qvtest::CapturedLog log;
    m_frame->queue.SetLimit(1);
    // Known, unknown at the service, invalid, duplicate and on disk; CR LF, tab, semicolon.
    enter("1000101\r\n1,000,102\nabc;1000101\t 1000103 \n\n");
    // The limit holds for a list as for typed numbers.
    EXPECT_EQ(m_frame->queue.RunningCount(), 1u);
    EXPECT_EQ(m_frame->queue.WaitingCount(), 3u);
    qvtest::pump(50);
    EXPECT_TRUE(log.errors().empty()); // no box for the invalid piece
    ASSERT_EQ(m_frame->listCtrl->GetItemCount(), 5);
    const char* const typedTexts[] = {"1000101", "1,000,102", "abc", "1000101", "1000103"};
    for (long row = 0; row < 5; ++row)
        EXPECT_EQ(typed(row), typedTexts[row]) << row;
    EXPECT_EQ(status(2), kUnknownFormatStatus);
    EXPECT_TRUE(record(2)->finished);
    EXPECT_EQ(record(2)->job, nullptr);
    EXPECT_EQ(m_frame->textCtrl->GetValue(), "");

    ASSERT_TRUE(qvtest::pumpUntil(
        [&] {
            for (long row = 0; row < 5; ++row)
                if (!record(row)->finished)
                    return false;
            return true;
        },
        std::chrono::seconds(30)));
    const char* const outcomes[] = {"Finished!", "Not Found", kUnknownFormatStatus,
                                    "Previously Downloaded!", "Previously Downloaded!"};
    for (long row = 0; row < 5; ++row)
        EXPECT_EQ(status(row), outcomes[row]) << row;
    const std::string pdf = m_dir.file("pdf") + "/1000101.pdf";
    EXPECT_EQ(qvtest::runCommand("qpdf --check '" + pdf + "' >/dev/null 2>&1"), 0);
    EXPECT_EQ(qvtest::readFile(m_dir.file("pdf") + "/1000103.pdf"), "kept");
    EXPECT_FALSE(qvtest::fileExists(m_dir.file("pdf") + "/01000102.pdf"));
    // Each page was fetched once: the duplicate was not downloaded again.
    size_t pageRequests = 0;
    for (const qvfake::RecordedRequest& r : m_fake.requests())
        if (r.path.find(".piw") == std::string::npos)
            ++pageRequests;
    EXPECT_EQ(pageRequests, 2u);
}

TEST_F(JobListTest, OneNumberWithSeparatorsAroundItStaysOneNumber) {
    qvtest::CapturedLog log;
    // A bad single number still gets the message box, line break or not.
    enter("abc\n");
    qvtest::pump(50);
    ASSERT_EQ(log.errors().size(), 1u);
    EXPECT_TRUE(log.errors()[0].StartsWith("\"abc\" -- Unknown Format\n\n\n"));
    EXPECT_EQ(m_frame->listCtrl->GetItemCount(), 0);
    // Separators alone add nothing.
    enter(" ;\t\r\n");
    qvtest::pump(50);
    EXPECT_EQ(log.errors().size(), 1u);
    EXPECT_EQ(m_frame->listCtrl->GetItemCount(), 0);
    // A good one with a line break after it is one row with the number alone.
    m_fake.addRule("", "", qvfake::Fault::Stall, -1);
    enter("5,123,456\r\n");
    ASSERT_EQ(m_frame->listCtrl->GetItemCount(), 1);
    EXPECT_EQ(typed(0), "5,123,456");
    EXPECT_EQ(record(0)->number, "5123456");
}

TEST_F(JobListTest, DroppedListKeepsItsLinesUntilDownloadIsPressed) {
    m_fake.addRule("", "", qvfake::Fault::Stall, -1);
    m_frame->queue.SetLimit(5);
    auto* target = dynamic_cast<wxTextDropTarget*>(m_frame->GetDropTarget());
    ASSERT_NE(target, nullptr);
    EXPECT_TRUE(target->OnDropText(10, 10, "1000201\n1000202\nEP1000000"));
    EXPECT_EQ(m_frame->listCtrl->GetItemCount(), 0);
    EXPECT_TRUE(HoldsSeveralNumbers(m_frame->textCtrl->GetValue()));
    wxCommandEvent press(wxEVT_BUTTON, ID_DOWNLOAD);
    m_frame->GetEventHandler()->ProcessEvent(press);
    ASSERT_EQ(m_frame->listCtrl->GetItemCount(), 3);
    EXPECT_EQ(typed(0), "1000201");
    EXPECT_EQ(typed(1), "1000202");
    EXPECT_NE(dynamic_cast<uspto*>(record(1)->job.get()), nullptr);
    EXPECT_NE(dynamic_cast<pct*>(record(2)->job.get()), nullptr);
}

TEST_F(JobListTest, DownloadListAddsARowPerNumberOfTheFile) {
    // The menu entry sits just before Exit and says what it does.
    wxMenu* file = m_frame->GetMenuBar()->GetMenu(0);
    const int at = file->GetMenuItems().IndexOf(file->FindItem(ID_DOWNLOAD_LIST));
    ASSERT_GE(at, 0);
    EXPECT_EQ(file->FindItemByPosition(static_cast<size_t>(at) + 1)->GetId(), ID_EXIT);
    EXPECT_FALSE(file->FindItem(ID_DOWNLOAD_LIST)->GetHelp().empty());

    m_fake.addUsptoDocument("1000301", pagesOf(1));
    m_fake.addUsptoDocument("5123456", pagesOf(1));
    const std::string list = m_dir.file("refs.csv");
    ASSERT_TRUE(qvtest::writeFile(list,
                                  "\xEF\xBB\xBF# cited\r\n1000301,first\r\n\r\n"
                                  "\"5,123,456\",\"second, with comma\"\r\nnot a number,x\r\n"));
    qvtest::CapturedLog log;
    m_frame->queue.SetLimit(3);
    ASSERT_TRUE(m_frame->LoadListFile(list));
    ASSERT_EQ(m_frame->listCtrl->GetItemCount(), 3);
    EXPECT_EQ(typed(0), "1000301");
    EXPECT_EQ(typed(1), "5,123,456");
    EXPECT_EQ(typed(2), "not a number");
    EXPECT_EQ(status(2), kUnknownFormatStatus);
    ASSERT_TRUE(waitStatus(0, "Finished!"));
    ASSERT_TRUE(waitStatus(1, "Finished!"));
    EXPECT_TRUE(qvtest::fileExists(m_dir.file("pdf") + "/1000301.pdf"));
    EXPECT_TRUE(qvtest::fileExists(m_dir.file("pdf") + "/5123456.pdf"));
    qvtest::pump(50);
    EXPECT_TRUE(log.errors().empty());

    // A file that cannot be read says so and adds nothing.
    EXPECT_FALSE(m_frame->LoadListFile(m_dir.file("gone.txt")));
    qvtest::pump(50);
    ASSERT_EQ(log.errors().size(), 1u);
    EXPECT_TRUE(log.errors()[0].Contains(m_dir.file("gone.txt")));
    EXPECT_TRUE(log.errors()[0].Contains("No such file"));
    EXPECT_EQ(m_frame->listCtrl->GetItemCount(), 3);
}

TEST_F(JobListTest, ListPastedFromTheClipboardKeepsItsLineBreaks) {
    m_fake.addRule("", "", qvfake::Fault::Stall, -1);
    m_frame->queue.SetLimit(5);
    {
        wxClipboardLocker locker;
        ASSERT_TRUE(!!locker);
        ASSERT_TRUE(wxTheClipboard->SetData(new wxTextDataObject("1000601\n1000602\r\nEP15")));
    }
    m_frame->textCtrl->SetFocus();
    m_frame->textCtrl->Paste();
    // The toolkit hands the clipboard over asynchronously.
    ASSERT_TRUE(qvtest::pumpUntil([&] { return !m_frame->textCtrl->GetValue().empty(); }));
    EXPECT_TRUE(HoldsSeveralNumbers(m_frame->textCtrl->GetValue()))
        << m_frame->textCtrl->GetValue();
    wxCommandEvent press(wxEVT_BUTTON, ID_DOWNLOAD);
    m_frame->GetEventHandler()->ProcessEvent(press);
    ASSERT_EQ(m_frame->listCtrl->GetItemCount(), 3);
    EXPECT_EQ(typed(0), "1000601");
    EXPECT_EQ(typed(1), "1000602");
    EXPECT_EQ(typed(2), "EP15");
    wxTheClipboard->Clear();
}

TEST_F(JobListTest, ListTooLongForTheInputBoxBecomesAllItsRowsPastedOrDropped) {
    m_fake.addRule("", "", qvfake::Fault::Stall, -1);
    m_frame->queue.SetLimit(1);
    wxString list;
    for (int i = 0; i < 7000; ++i)
        list << "EP" << (1000000 + i) << "\n";
    ASSERT_GT(list.length(), 65535u); // beyond what the toolkit's entry holds
    qvtest::CapturedLog log;
    auto rows = [&] { return m_frame->listCtrl->GetItemCount(); };

    // Pasted after a typed number: the whole text is taken as Enter takes the box's.
    m_frame->textCtrl->ChangeValue("5123456\n");
    m_frame->textCtrl->SetFocus();
    m_frame->textCtrl->SetInsertionPointEnd();
    {
        wxClipboardLocker locker;
        ASSERT_TRUE(!!locker);
        ASSERT_TRUE(wxTheClipboard->SetData(new wxTextDataObject(list)));
    }
    m_frame->textCtrl->Paste();
    ASSERT_TRUE(qvtest::pumpUntil([&] { return rows() >= 7001; })) << rows();
    EXPECT_EQ(rows(), 7001);
    EXPECT_EQ(typed(0), "5123456");
    EXPECT_EQ(typed(1), "EP1000000");
    EXPECT_EQ(typed(7000), "EP1006999");
    EXPECT_EQ(m_frame->textCtrl->GetValue(), "");
    wxTheClipboard->Clear();

    // Dropped on the window: every row at once; a short drop still waits in the box.
    auto* target = dynamic_cast<wxTextDropTarget*>(m_frame->GetDropTarget());
    ASSERT_NE(target, nullptr);
    EXPECT_TRUE(target->OnDropText(10, 10, list));
    ASSERT_EQ(rows(), 14001);
    EXPECT_EQ(typed(14000), "EP1006999");
    EXPECT_TRUE(target->OnDropText(10, 10, "1000801\n1000802"));
    EXPECT_EQ(m_frame->textCtrl->GetValue(), "1000801\n1000802");

    // Text that reaches the box some other way is cut by the toolkit: none of it is kept.
    m_frame->textCtrl->SetValue(list);
    ASSERT_TRUE(qvtest::pumpUntil([&] { return !log.errors().empty(); }));
    EXPECT_TRUE(log.errors()[0].Contains(wxString::FromUTF8("File \u2192 Download List\u2026")))
        << log.errors()[0];
    EXPECT_FALSE(m_frame->textCtrl->GetValue().Contains("EP1006"));
    EXPECT_EQ(rows(), 14001);
    EXPECT_EQ(log.errors().size(), 1u);
}

TEST_F(JobListTest, DownloadListCommandAsksForATextOrCsvFileAndLoadsTheChosenOne) {
    m_fake.addRule("", "", qvfake::Fault::Stall, -1);
    m_frame->queue.SetLimit(5);
    const std::string list = m_dir.file("chosen.txt");
    ASSERT_TRUE(qvtest::writeFile(list, "1000701\n1000702\n"));
    // Answers the chooser as a user would, choosing the list file.
    struct Chooser : wxModalDialogHook {
        std::string path;
        wxString wildcard;
        int shown = 0;
        int Enter(wxDialog* dialog) override {
            auto* chooser = dynamic_cast<wxFileDialog*>(dialog);
            if (!chooser)
                return wxID_NONE;
            ++shown;
            wildcard = chooser->GetWildcard();
            chooser->SetPath(path);
            // The toolkit's chooser takes the file once it has read the folder.
            qvtest::pumpUntil([&] { return chooser->GetPath() == wxString(path); },
                              std::chrono::seconds(5));
            return wxID_OK;
        }
        void Exit(wxDialog*) override {}
    } chooser;
    chooser.path = list;
    chooser.Register();
    command(ID_DOWNLOAD_LIST);
    chooser.Unregister();
    EXPECT_EQ(chooser.shown, 1);
    EXPECT_TRUE(chooser.wildcard.Contains("*.txt"));
    EXPECT_TRUE(chooser.wildcard.Contains("*.csv"));
    EXPECT_TRUE(chooser.wildcard.EndsWith("|*")); // all files
    ASSERT_EQ(m_frame->listCtrl->GetItemCount(), 2);
    EXPECT_EQ(typed(0), "1000701");
    EXPECT_EQ(typed(1), "1000702");
}

} // namespace

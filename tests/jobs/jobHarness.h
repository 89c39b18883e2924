// Runs jobs against the fake remote services: a handler of the test's own receives the
// job events, the fake is the proxy (http_proxy) and a sandbox is the download folder.
#pragma once

#include "fakeService.h"
#include "testutil.h"
#include "ziv2ize.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/event.h>
#include <wx/log.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct JobEventRecord {
    char kind; // 'S' status, 'R' PDF ready, 'E' ended, 'U' USPTO page
    int id;
    std::string text;
};

class EventRecorder : public wxEvtHandler {
public:
    EventRecorder();
    // Handles everything queued so far (the handler alone would take one event per call).
    void Pump() {
        if (wxAppConsole* app = wxAppConsole::GetInstance())
            app->ProcessPendingEvents();
    }
    std::vector<JobEventRecord> events;
    std::vector<JobProgress> reports; // of every status event, in order

    // "S:Downloading", "R:<path>", "E:<path>", "U" for every event of job id, in order.
    std::vector<std::string> Sequence(int id) const;
    std::vector<std::string> Statuses(int id) const;
    bool Ended(int id) const;
    size_t CountStatusesContaining(int id, const std::string& part) const;

private:
    void OnEvent(wxThreadEvent& event);
};

// Collects what is logged from any thread once the main thread flushes the log.
class LogCollector : public wxLog {
public:
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }

protected:
    void DoLogRecord(wxLogLevel, const wxString& msg, const wxLogRecordInfo&) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(msg.ToStdString());
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

class JobTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the job and waits (pumping events) until it posts its end; then Wait + delete.
    // False when it did not end in time (the job is then cancelled).
    bool Run(ziv2ize* job, int timeoutMs = 20000);
    void Start(ziv2ize* job);
    // Waits until pred holds, pumping the events.
    bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 20000);

    std::string Path(const std::string& name) const { return m_dir->file(name); }
    // Files in the download folder.
    std::vector<std::string> Files() const;
    // The requests the fake saw for one host.
    std::vector<qvfake::RecordedRequest> RequestsTo(const std::string& host) const;

    std::unique_ptr<qvfake::FakeService> fake;
    std::unique_ptr<EventRecorder> recorder;
    LogCollector* log = nullptr;

private:
    std::unique_ptr<qvtest::TempDir> m_dir;
    wxString m_oldCwd;
    wxLog* m_oldLog = nullptr;
};

// A PDF the independent readers accept whose pages render exactly like the TIFF pages.
::testing::AssertionResult PdfMatchesPages(const std::string& pdf,
                                           const std::vector<std::string>& tiffs);

// Harness for tests that drive real windows (under Xvfb in CI): a wxApp set up before the
// tests run, event pumping with deadlines, a log target that records instead of showing
// message boxes, and screenshots for review.
#pragma once

#include <wx/log.h>
#include <wx/string.h>

class wxWindow;

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qvtest {

// Handles pending GUI and application events for about ms milliseconds.
void pump(int ms = 50);

// Pumps events until pred holds or timeout passes; returns pred's last answer.
bool pumpUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Records every log message (error boxes and information boxes) instead of showing it.
// Installed for the lifetime of the object; the previous target comes back afterwards.
class CapturedLog : public wxLog {
public:
    CapturedLog();
    ~CapturedLog() override;
    struct Entry {
        wxLogLevel level;
        wxString text;
    };
    std::vector<Entry> entries; // touched on the GUI thread only (messages are flushed there)
    std::vector<wxString> errors() const;
    std::vector<wxString> messages() const;
    void clear() { entries.clear(); }

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info) override;

private:
    wxLog* m_previous;
};

// Saves a screenshot into <build>/screenshots/<name>.png: of the window when one is given,
// else of the whole (virtual) screen. Returns the file's path, or "" when it failed.
std::string screenshot(const std::string& name, wxWindow* window = nullptr);

// The folder the test runs its settings in (XDG_CONFIG_HOME), fresh per test program.
std::string configHome();

} // namespace qvtest

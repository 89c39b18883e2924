#include "guitest.h"

#include "testutil.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/utils.h>
#include <wx/window.h>

#include <curl/curl.h>

#include <cstdlib>
#include <thread>

namespace qvtest {

namespace {
TempDir* g_config = nullptr;

void pumpOnce() {
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (loop) {
        while (loop->Pending())
            loop->Dispatch();
    }
    if (wxTheApp) {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
    }
    wxLog::FlushActive();
}
} // namespace

void pump(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        pumpOnce();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < until);
}

bool pumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    return waitFor(pred, timeout, [] { pumpOnce(); });
}

CapturedLog::CapturedLog() {
    m_previous = wxLog::SetActiveTarget(this);
}

CapturedLog::~CapturedLog() {
    wxLog::SetActiveTarget(m_previous);
}

void CapturedLog::DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo&) {
    entries.push_back({level, msg});
}

std::vector<wxString> CapturedLog::errors() const {
    std::vector<wxString> out;
    for (const Entry& e : entries)
        if (e.level == wxLOG_Error)
            out.push_back(e.text);
    return out;
}

std::vector<wxString> CapturedLog::messages() const {
    std::vector<wxString> out;
    for (const Entry& e : entries)
        if (e.level == wxLOG_Message)
            out.push_back(e.text);
    return out;
}

std::string screenshot(const std::string& name, wxWindow* window) {
    const char* dir = std::getenv("QV_SCREENSHOT_DIR");
    std::string folder = dir && *dir ? dir : std::string(QV_BINARY_DIR) + "/screenshots";
    runCommand("mkdir -p '" + folder + "'");
    std::string file = folder + "/" + name + ".png";
    pump(300);
    std::string crop;
    if (window) {
        const wxRect r = window->GetScreenRect();
        crop = " -crop " + std::to_string(r.width) + "x" + std::to_string(r.height) + "+" +
               std::to_string(r.x) + "+" + std::to_string(r.y);
    }
    if (runCommand("import -window root" + crop + " '" + file + "' 2>/dev/null") != 0)
        return std::string();
    return file;
}

std::string configHome() {
    return g_config ? g_config->path() : std::string();
}

} // namespace qvtest

namespace {
// A failed wxWidgets assertion fails the test instead of opening a dialog nobody clicks.
void failOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    ADD_FAILURE_AT(file.utf8_str().data(), line)
        << "wxWidgets assertion " << cond.utf8_str().data() << " in " << func.utf8_str().data()
        << ": " << msg.utf8_str().data();
}

class TestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};
} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (done at build time, without a display) needs no GUI.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // Settings of the tests never touch the user's.
    qvtest::TempDir config("qv-config");
    qvtest::g_config = &config;
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);

    wxSetAssertHandler(failOnAssert);
    wxApp::SetInstance(new TestApp);
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    if (!wxEntryStart(wxArgc, wxArgv)) {
        std::fprintf(stderr, "cannot start the GUI (no display?)\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    // Messages nobody captures go to stderr: a message box would wait for a click forever.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    int rc;
    {
        wxEventLoop loop;
        wxEventLoopActivator active(&loop);
        rc = RUN_ALL_TESTS();
        qvtest::pump(100);
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    qvtest::g_config = nullptr;
    curl_global_cleanup();
    return rc;
}

#include "MyApp.h"

#include "MyFrame.h"
#include "SetupDialog.h"
#include "settings.h"

#include "netInit.h"

#include <wx/log.h>

MyFrame* StartMainWindow() {
    auto config = OpenSettings();
    WindowPlacement p = LoadStartupSettings(*config);
    MyFrame* frame = new MyFrame("Quorvane", wxPoint(static_cast<int>(p.x), static_cast<int>(p.y)),
                                 wxSize(static_cast<int>(p.width), static_cast<int>(p.height)));
    if (!config->HasEntry("sizex"))
        frame->WidenForStatusTexts();
    frame->Show(true);
    return frame;
}

bool MyApp::OnInit() {
    // libcurl's global state is set up once, before any thread can make a session.
    m_netReady = qvNetInit();
    if (!m_netReady)
        wxLogError("Error Initializing WinInet!");
    StartMainWindow();
    return true;
}

int MyApp::OnExit() {
    // The window waited for its jobs and the update thread; a key check of a Setup dialog
    // that went was asked to end and does so at its next abort check. Then no session is left.
    WaitForKeyChecks();
    if (m_netReady)
        qvNetCleanup();
    return wxApp::OnExit();
}

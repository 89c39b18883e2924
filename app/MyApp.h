#pragma once

#include <wx/app.h>

class MyApp : public wxApp {
public:
    bool OnInit() override;
    int OnExit() override;

private:
    bool m_netReady = false;
};

// The start-up sequence without the application object: opens the settings store, fills
// the connection settings, creates and shows the main window. Tests call it directly.
class MyFrame;
MyFrame* StartMainWindow();

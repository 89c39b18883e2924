#include "MyApp.h"

#include "MyFrame.h"
#include "settings.h"

#include <curl/curl.h>

MyFrame* StartMainWindow() {
    auto config = OpenSettings();
    WindowPlacement p = LoadStartupSettings(*config);
    MyFrame* frame = new MyFrame("Quorvane", wxPoint(static_cast<int>(p.x), static_cast<int>(p.y)),
                                 wxSize(static_cast<int>(p.width), static_cast<int>(p.height)));
    frame->Show(true);
    return frame;
}

bool MyApp::OnInit() {
    // libcurl's global state is set up once, before any thread can make a session.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    StartMainWindow();
    return true;
}

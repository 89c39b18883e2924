// The per-user settings store and the process-wide connection settings.
#pragma once

#include <wx/fileconf.h>
#include <wx/string.h>

#include <memory>

// The five connection values the setup dialog edits and the user-configured sessions use.
// Written only on the GUI thread while no job can be reading it for a new session
// (start-up, and the modal setup dialog); jobs copy it when they open a session.
struct ConnectionSettingsRecord {
    wxString proxyServer;
    wxString proxyPort = "80";
    wxString proxyUser;
    wxString proxyPass; // clear text in memory, scrambled in the store
    int connectionType = 0;
};
extern ConnectionSettingsRecord ConnectionSettings;

// Version of the running program and its string form "2.NN".
constexpr int kVersionMinor = 21;
wxString VersionString();

// Full path of the settings file: $XDG_CONFIG_HOME (or ~/.config) / Quorvane / Quorvane.conf.
wxString SettingsFilePath();

// Opens the store as a short-lived object; destroying it flushes the writes. The file and
// its folder are created readable by the user only, since the file holds the proxy password.
std::unique_ptr<wxFileConfig> OpenSettings();

// Turns the password between its stored and its clear form (the same operation both ways).
void ScrambleProxyPass(wxString& pass);

struct WindowPlacement {
    long x = 50, y = 50, width = 400, height = 240;
};

// Start-up: reads the placement (clamped) and fills ConnectionSettings, migrating the
// legacy proxyEnable/proxyType keys.
WindowPlacement LoadStartupSettings(wxConfigBase& config);

// Reads max_threads (3 when missing). A stored 0 would keep every job waiting forever,
// so it is read as 1.
unsigned ReadMaxThreads(wxConfigBase& config);

// True when an automatic update check is due: lastCheck missing (it is written now) or
// more than 60 days old. nowSeconds is the current time in seconds since 1970.
bool UpdateCheckDue(wxConfigBase& config, long nowSeconds);

// Everything the close sequence writes, in its order.
struct ClosingState {
    wxString path;
    unsigned maxThreads = 3;
    wxString exec;
    long width = 400, height = 240;
    long x = 0, y = 0;
};
void SaveClosingSettings(wxConfigBase& config, const ClosingState& state);

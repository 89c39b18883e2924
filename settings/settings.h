// The per-user settings store and the process-wide connection settings.
#pragma once

#include "connectionSettings.h"
#include "opsCredentials.h"
#include "usSource.h"

#include <wx/fileconf.h>
#include <wx/string.h>

#include <memory>

// The connection values the setup dialog edits. Written only on the GUI thread; a job gets
// its own copy when it is made, so no other thread ever reads this record.
extern ConnectionSettingsRecord ConnectionSettings;

// The user's key for the EPO's Open Patent Services, as the setup dialog edits it and the
// store keeps it (the secret scrambled like the proxy password). GUI thread only; jobs get
// their own copy when they are made.
using OpsKeyRecord = OpsCredentials;
extern OpsKeyRecord OpsKey;

// The key downloads use: QUORVANE_OPS_KEY and QUORVANE_OPS_SECRET when both are set (for
// scripted and first runs; never written to the store), else the stored one; trimmed of white
// space.
OpsKeyRecord OpsKeyInUse();

// Where US documents come from, as Setup's EPO page edits it (a UsSource: 0 USPTO, 1 EPO).
// GUI thread only, like OpsKey.
extern int UsDocumentsFrom;
// The source downloads use: QUORVANE_US_SOURCE (ppubs, epo or uspto-images) when it is set to
// one of those (for scripted runs; never written to the store), else the stored choice.
UsSource UsSourceInUse();

// Version of the running program and its string form "2.NN".
constexpr int kVersionMinor = QV_VERSION_MINOR;
wxString VersionString();

// Where the settings are kept. Linux: the file $XDG_CONFIG_HOME (or ~/.config) / Quorvane /
// Quorvane.conf. Windows: the registry key HKEY_CURRENT_USER\Software\Quorvane.
wxString SettingsFilePath();

// Opens the store as a short-lived object; destroying it flushes the writes. On Linux the
// file and its folder are created readable by the user only, since the file holds the proxy
// password, and destroying the object writes the file and keeps it at mode 0600. Windows
// keeps the same keys in the user's own part of the registry.
struct SettingsDeleter {
    void operator()(wxConfigBase* config) const;
};
using SettingsPtr = std::unique_ptr<wxConfigBase, SettingsDeleter>;
SettingsPtr OpenSettings();

// Turns the password between its stored and its clear form (the same operation both ways).
void ScrambleProxyPass(wxString& pass);

struct WindowPlacement {
    long x = 50, y = 50, width = 400, height = 240;
};

// Start-up: reads the placement (clamped) and fills ConnectionSettings and OpsKey, migrating
// the legacy proxyEnable/proxyType keys.
WindowPlacement LoadStartupSettings(wxConfigBase& config);

// The most jobs at once (max_threads, quorvane-get -j).
constexpr unsigned kMaxThreadsLimit = 511;
// value within 1...kMaxThreadsLimit: 0 would keep every job waiting forever, a negative
// value would become billions.
unsigned ClampMaxThreads(long value);
// Reads max_threads (3 when missing), clamped.
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

// The update thread: asks the maker's host for the latest version and, in download mode,
// fetches the new program file next to the running one. Reports once, by a queued event.
#pragma once

#include "connectionSettings.h"
#include "remoteHosts.h"

#include <wx/event.h>
#include <wx/string.h>
#include <wx/thread.h>

#include <string>

// Int: one of the statuses below. String: the written file's path (status 0 only). A
// wxThreadEvent, the base library's event for worker threads (the command event belongs to
// the GUI library): handle it with wxThreadEventHandler or Bind.
wxDECLARE_EVENT(wxEVT_UPDATER_STATUS, wxThreadEvent);

enum UpdateStatus {
    UPDATE_DOWNLOADED = 0,
    UPDATE_CURRENT = 1,
    UPDATE_AVAILABLE = 2,
    UPDATE_ERROR = 3,
};

class updater : public wxThread {
public:
    // download: false = only report, true = download a newer version. target receives the
    // event (the main window); not owned. The program path and the trusted key are taken
    // now, on the creating thread (see UpdaterProgramPath and SetUpdaterPublicKey), and so
    // is the copy of the user's connection settings that every request of it uses.
    updater(bool download, wxEvtHandler* target,
            const ConnectionSettingsRecord& connection = ConnectionSettingsRecord());

    ExitCode Entry() override;
    // The latest version number announced by the maker's host, or -1 on failure.
    int CheckLatestVersion();
    // Fetches, verifies and installs version next to the program; false on failure. Posts
    // its own event except when it ends because the thread was asked to.
    bool DownloadVersion(int version);

    int m_currentVersion;
    int m_latestVersion;
    bool m_download;
    wxEvtHandler* m_frame;
    wxString m_programPath;  // the running program file; the new one goes into its folder
    std::string m_publicKey; // raw Ed25519 public key the download must be signed with
    const ConnectionSettingsRecord m_connection;
    wxString m_error; // why the last check or download failed

private:
    void Post(int status, const wxString& text = wxEmptyString);
};

// The most each answer of the maker's host may hold: the version page and the signature
// are a few bytes, the program file some megabytes.
constexpr size_t kMaxVersionAnswer = size_t(1) << 20;
constexpr size_t kMaxProgramAnswer = size_t(256) << 20;

using remotehosts::kUpdateHost;

// Path of the running program file: the real executable, whatever argv[0] says, unless a
// test replaced it with SetUpdaterProgramPath. Read on the GUI thread only.
wxString UpdaterProgramPath();
// Empty restores the real executable path.
void SetUpdaterProgramPath(const wxString& path);

// The raw 32-byte Ed25519 public key downloads are checked against: the release key unless
// replaced (tests sign with a key of their own). Empty restores the release key.
std::string UpdaterPublicKey();
void SetUpdaterPublicKey(const std::string& raw);

// The file name of a version: "Quorvane-2.%02u".
wxString UpdateFileName(unsigned version);
// The target path of version next to programPath.
wxString UpdateTargetPath(const wxString& programPath, unsigned version);

// The version number in a "/latest.html" reply: the first word after blanks and line ends,
// its leading decimal digits (none: 0). Saturates instead of overflowing.
int ParseLatestVersion(const std::string& reply);

// True when signature is a valid Ed25519 signature of data under the raw public key.
bool VerifyEd25519(const std::string& data, const std::string& signature,
                   const std::string& publicKey, wxString* error = nullptr);

// Writes data to a temporary file in folder, checks it reached the disk whole and still
// carries a valid signature, marks it executable and only then renames it to target. On
// any failure nothing is left under either name and *error says why.
bool InstallProgramFile(const wxString& target, const std::string& data,
                        const std::string& signature, const std::string& publicKey,
                        wxString* error);

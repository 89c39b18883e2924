// The settings store of Linux and other POSIX systems: a file under the XDG config folder,
// readable by the user only.
#include "settings.h"

#include <wx/filename.h>
#include <wx/utils.h>

#include <sys/stat.h>

wxString SettingsFilePath() {
    wxString base;
    if (!wxGetEnv("XDG_CONFIG_HOME", &base) || !wxIsAbsolutePath(base))
        base = wxGetHomeDir() + "/.config";
    return base + "/Quorvane/Quorvane.conf";
}

namespace {
// A file or folder made looser by another tool is tightened: saving keeps a file's mode,
// so a loose file would stay loose with the scrambled password in it.
void Tighten(const wxString& path, mode_t mode) {
    struct stat st;
    const wxScopedCharBuffer name = path.fn_str();
    if (::stat(name.data(), &st) == 0 && (st.st_mode & 07777) != mode)
        ::chmod(name.data(), mode);
}
} // namespace

void SettingsDeleter::operator()(wxConfigBase* config) const {
    if (!config)
        return;
    config->Flush();
    delete config;
    Tighten(SettingsFilePath(), 0600);
}

SettingsPtr OpenSettings() {
    wxFileName file(SettingsFilePath());
    if (!file.DirExists())
        file.Mkdir(0700, wxPATH_MKDIR_FULL);
    Tighten(file.GetPath(), 0700);
    Tighten(file.GetFullPath(), 0600);
    auto* store = new wxFileConfig("Quorvane", wxEmptyString, file.GetFullPath(), wxEmptyString,
                                   wxCONFIG_USE_LOCAL_FILE);
    store->SetUmask(0077);
    SettingsPtr config(store);
    // Stored values come back byte for byte: the scrambled secrets hold '$', '%' and '\\',
    // which expansion would replace or eat.
    config->SetExpandEnvVars(false);
    return config;
}

// The settings store of Windows: the registry, HKEY_CURRENT_USER\Software\Quorvane, with the
// same keys and the same scrambled secrets as the Linux file. The user's own part of the
// registry is not readable by other users, so nothing needs tightening.
#include "settings.h"

#include <wx/msw/regconf.h>

wxString SettingsFilePath() {
    return "HKEY_CURRENT_USER\\Software\\Quorvane";
}

void SettingsDeleter::operator()(wxConfigBase* config) const {
    if (!config)
        return;
    config->Flush();
    delete config;
}

SettingsPtr OpenSettings() {
    // The key named outright: Software\Quorvane, whatever vendor the application names.
    SettingsPtr config(new wxRegConfig("Quorvane", wxEmptyString, "Quorvane", wxEmptyString,
                                       wxCONFIG_USE_LOCAL_FILE));
    // Stored values come back as they were: the scrambled secrets hold '$' and '%'.
    config->SetExpandEnvVars(false);
    return config;
}

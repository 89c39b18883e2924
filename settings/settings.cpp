#include "settings.h"

#include <wx/datetime.h>
#include <wx/filename.h>
#include <wx/utils.h>

#include <cstdlib>

ConnectionSettingsRecord ConnectionSettings;
OpsKeyRecord OpsKey;
int UsDocumentsFrom = int(UsSource::Ppubs);

namespace {
// Any control character but 0 keeps printable characters printable and non-zero.
constexpr unsigned kScrambleKey = 0x17;
constexpr long kUpdateIntervalDays = 60;
} // namespace

wxString VersionString() {
    return wxString::Format("2.%02d", kVersionMinor);
}

void ScrambleProxyPass(wxString& pass) {
    for (size_t i = 0; i < pass.length(); ++i) {
        unsigned c = static_cast<unsigned>(pass[i].GetValue());
        // The key's own character would become a zero, which ends the stored text: it is
        // kept as it is, and so (the same both ways) read back as itself.
        if (c != 0 && c != kScrambleKey)
            pass[i] = wxUniChar(c ^ kScrambleKey);
    }
}

OpsKeyRecord OpsKeyInUse() {
    OpsKeyRecord key;
    if (!wxGetEnv("QUORVANE_OPS_KEY", &key.key) || !wxGetEnv("QUORVANE_OPS_SECRET", &key.secret) ||
        key.empty())
        key = OpsKey;
    // A key pasted with a space or a line break around it is the same key; the EPO's keys
    // never hold white space.
    key.key.Trim(true).Trim(false);
    key.secret.Trim(true).Trim(false);
    return key;
}

UsSource UsSourceInUse() {
    UsSource source = UsSource::Ppubs;
    if (ParseUsSource(std::getenv("QUORVANE_US_SOURCE"), source))
        return source;
    return UsDocumentsFrom == int(UsSource::Epo) ? UsSource::Epo : UsSource::Ppubs;
}

WindowPlacement LoadStartupSettings(wxConfigBase& config) {
    WindowPlacement p;
    config.Read("posx", &p.x, 50);
    config.Read("posy", &p.y, 50);
    config.Read("sizex", &p.width, 400);
    config.Read("sizey", &p.height, 240);

    ConnectionSettingsRecord& cs = ConnectionSettings;
    config.Read("proxyServer", &cs.proxyServer, wxEmptyString);
    config.Read("proxyPort", &cs.proxyPort, "80");
    config.Read("proxyUser", &cs.proxyUser, wxEmptyString);
    cs.proxyPass.clear();
    config.Read("proxyPass", &cs.proxyPass);
    ScrambleProxyPass(cs.proxyPass);
    config.Read("connectionType", &cs.connectionType, 0);

    config.Read("opsKey", &OpsKey.key, wxEmptyString);
    OpsKey.secret.clear();
    config.Read("opsSecret", &OpsKey.secret);
    ScrambleProxyPass(OpsKey.secret);
    long usFrom = 0;
    config.Read("usDocumentsFrom", &usFrom, 0L);
    UsDocumentsFrom = usFrom == int(UsSource::Epo) ? int(UsSource::Epo) : int(UsSource::Ppubs);

    if (config.HasEntry("proxyEnable") || config.HasGroup("proxyEnable")) {
        bool enabled = false;
        config.Read("proxyEnable", &enabled, false);
        if (enabled) {
            wxString type;
            if (config.Read("proxyType", &type) && type == "HTTP")
                cs.connectionType = int(ConnectionType::HttpProxy);
        }
        config.DeleteEntry("proxyType", false);
        config.DeleteEntry("proxyEnable", false);
    }

    if (p.x < 0)
        p.x = 50;
    if (p.y < 0)
        p.y = 50;
    if (p.width < 375)
        p.width = 375;
    if (p.height < 200)
        p.height = 200;
    return p;
}

unsigned ReadMaxThreads(wxConfigBase& config) {
    long value = 3;
    if (config.HasEntry("max_threads"))
        config.Read("max_threads", &value, 3);
    return ClampMaxThreads(value);
}

unsigned ClampMaxThreads(long value) {
    if (value < 1)
        return 1;
    if (value > long(kMaxThreadsLimit))
        return kMaxThreadsLimit;
    return static_cast<unsigned>(value);
}

bool UpdateCheckDue(wxConfigBase& config, long nowSeconds) {
    if (!config.HasEntry("lastCheck")) {
        config.Write("lastCheck", nowSeconds);
        return true;
    }
    long last = nowSeconds;
    if (!config.Read("lastCheck", &last))
        last = nowSeconds;
    wxDateTime due = wxDateTime(static_cast<time_t>(last)) + wxDateSpan::Days(kUpdateIntervalDays);
    return due.IsEarlierThan(wxDateTime(static_cast<time_t>(nowSeconds)));
}

void SaveClosingSettings(wxConfigBase& config, const ClosingState& s) {
    const ConnectionSettingsRecord& cs = ConnectionSettings;
    config.Write("Path", s.path);
    config.Write("max_threads", static_cast<long>(s.maxThreads));
    config.Write("exec", s.exec);
    config.Write("proxyServer", cs.proxyServer);
    config.Write("proxyPort", cs.proxyPort);
    config.Write("proxyUser", cs.proxyUser);
    wxString stored = cs.proxyPass;
    ScrambleProxyPass(stored);
    config.Write("proxyPass", stored);
    config.Write("connectionType", static_cast<long>(cs.connectionType));
    config.Write("opsKey", OpsKey.key);
    wxString secret = OpsKey.secret;
    ScrambleProxyPass(secret);
    config.Write("opsSecret", secret);
    config.Write("usDocumentsFrom", static_cast<long>(UsDocumentsFrom));
    config.Write("Version", VersionString());
    config.Write("sizex", s.width);
    config.Write("sizey", s.height);
    if (s.x > 0)
        config.Write("posx", s.x);
    if (s.y > 0)
        config.Write("posy", s.y);
}

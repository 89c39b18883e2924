// The user's connection settings, as the Setup dialog edits them and every session that
// talks to a remote host uses them.
#pragma once

#include <wx/string.h>

// How sessions reach remote hosts. Automatic and Direct both follow the environment's
// http_proxy (and https_proxy) as libcurl does; HttpProxy goes through proxyServer:proxyPort.
// The stored and chosen form is the int of the setting and of the dialog's choice.
enum class ConnectionType : int { Automatic = 0, Direct = 1, HttpProxy = 2 };

// The type of a stored or chosen int; anything unknown is Automatic.
inline ConnectionType ConnectionTypeOf(int stored) {
    return stored == int(ConnectionType::HttpProxy) ? ConnectionType::HttpProxy
           : stored == int(ConnectionType::Direct)  ? ConnectionType::Direct
                                                    : ConnectionType::Automatic;
}

struct ConnectionSettingsRecord {
    wxString proxyServer;
    wxString proxyPort = "80";
    wxString proxyUser;
    wxString proxyPass; // clear text in memory, scrambled in the store
    // A ConnectionType value, kept as an int because the dialog's choice validator edits it.
    int connectionType = 0;

    ConnectionType Type() const { return ConnectionTypeOf(connectionType); }
};

// How an HTTPS exchange's certificates are checked: OpenSSL with the system's bundle plus an
// extra one on Linux; Schannel with Windows' certificate store on Windows.
#pragma once

#include <wx/string.h>

#include <curl/curl.h>

#include <string>

// Sets the certificate checks of one exchange on curl. systemCa is the system's bundle as
// libcurl knows it (empty: none), extraCa the bundle the environment names (CURL_CA_BUNDLE,
// SSL_CERT_FILE; empty: none), which must outlive the exchange. False, with *error set,
// when nothing could be trusted.
bool SetTlsTrust(CURL* curl, const std::string& systemCa, const std::string& extraCa,
                 wxString* error);
// Drops what SetTlsTrust set that the plain requests of the session must not keep.
void ClearTlsTrust(CURL* curl);

#include "tlsTrust.h"

bool SetTlsTrust(CURL* curl, const std::string&, const std::string& extraCa, wxString*) {
    // Windows' own store, with the company CAs an administrator put there. Revocation is
    // checked where it can be: offline and proxied networks often cannot reach the lists,
    // and a strict check would then refuse every host.
    curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, long(CURLSSLOPT_REVOKE_BEST_EFFORT));
    // A bundle the environment names is taken as on Linux; Schannel then checks against it.
    curl_easy_setopt(curl, CURLOPT_CAINFO,
                     extraCa.empty() ? static_cast<const char*>(nullptr) : extraCa.c_str());
    return true;
}

void ClearTlsTrust(CURL* curl) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
}

#include "tlsTrust.h"

#include <unistd.h>

#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace {

bool fileReadable(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), R_OK) == 0;
}

// Adds the certificates of an extra bundle to those OpenSSL trusts already: a network that
// inspects TLS has its own CA, which the system's store does not hold.
CURLcode addExtraCertificates(CURL*, void* sslContext, void* user) {
    const std::string* path = static_cast<const std::string*>(user);
    if (!path || path->empty())
        return CURLE_OK;
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    // A bundle that cannot be read adds nothing; verification then fails with its own text.
    if (store)
        X509_STORE_load_file(store, path->c_str());
    return CURLE_OK;
}

} // namespace

bool SetTlsTrust(CURL* curl, const std::string& systemCa, const std::string& extraCa,
                 wxString* error) {
    if (!systemCa.empty() && !fileReadable(systemCa)) {
        // Without the system's store (no ca-certificates installed) libcurl fails before the
        // extra bundle is looked at: the extra bundle alone is trusted then.
        if (extraCa.empty()) {
            *error = "Secure Connection Failed (no trusted certificates found: install the "
                     "ca-certificates package)";
            return false;
        }
        curl_easy_setopt(curl, CURLOPT_CAINFO, extraCa.c_str());
        curl_easy_setopt(curl, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    } else {
        if (!systemCa.empty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, systemCa.c_str());
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION,
                         extraCa.empty() ? static_cast<curl_ssl_ctx_callback>(nullptr)
                                         : addExtraCertificates);
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &extraCa);
    }
    return true;
}

void ClearTlsTrust(CURL* curl) {
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, static_cast<curl_ssl_ctx_callback>(nullptr));
}

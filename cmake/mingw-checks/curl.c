/* libcurl from the cache: TLS through Schannel, zlib, proxies, and a file:// transfer. */
#include <curl/curl.h>
#include <stdio.h>
#include <string.h>

static size_t sink(char* data, size_t size, size_t n, void* total) {
    (void)data;
    *(size_t*)total += size * n;
    return size * n;
}

int main(int argc, char** argv) {
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK)
        return 1;
    const curl_version_info_data* v = curl_version_info(CURLVERSION_NOW);
    if (!v->ssl_version || !strstr(v->ssl_version, "Schannel"))
        return 2;
    if (!(v->features & CURL_VERSION_LIBZ) || !(v->features & CURL_VERSION_SSL))
        return 3;
    if (!(v->features & CURL_VERSION_SSPI))
        return 4;
    /* No bundle path from the build machine: Schannel would take it over the system store. */
    CURL* h = curl_easy_init();
    char* caInfo = NULL;
    char* caPath = NULL;
    curl_easy_getinfo(h, CURLINFO_CAINFO, &caInfo);
    curl_easy_getinfo(h, CURLINFO_CAPATH, &caPath);
    if (caInfo || caPath) {
        fprintf(stderr, "default CA bundle %s, CA path %s\n", caInfo ? caInfo : "none",
                caPath ? caPath : "none");
        return 6;
    }
    /* This program itself, read back through the file protocol. */
    char url[1024];
    snprintf(url, sizeof url, "file:///%s", argc > 0 ? argv[0] : "");
    for (char* p = url; *p; ++p)
        if (*p == '\\')
            *p = '/';
    size_t total = 0;
    curl_easy_setopt(h, CURLOPT_URL, url);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, sink);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &total);
    curl_easy_setopt(h, CURLOPT_SSL_OPTIONS, (long)CURLSSLOPT_REVOKE_BEST_EFFORT);
    CURLcode rc = curl_easy_perform(h);
    curl_easy_cleanup(h);
    curl_global_cleanup();
    if (rc != CURLE_OK || total < 1024)
        return 5;
    printf("libcurl %s with %s, zlib %s: read %zu bytes of %s\n", v->version, v->ssl_version,
           v->libz_version, total, url);
    return 0;
}

#include "netInit.h"

#include <curl/curl.h>

bool qvNetInit() {
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

void qvNetCleanup() {
    curl_global_cleanup();
}

#include "systemProxy.h"

bool SystemProxyFor(bool, const std::string&, std::string*) {
    return false; // the environment's http_proxy and https_proxy, read by libcurl
}

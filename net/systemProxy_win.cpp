#include "systemProxy.h"

#include <wx/string.h>

#include <chrono>
#include <map>
#include <mutex>

#include <windows.h>
#include <winhttp.h>

namespace {

std::string Narrow(const wchar_t* text) {
    return text ? std::string(wxString(text).utf8_str()) : std::string();
}

// What a proxy auto-configuration script answers for url: WinHTTP runs it.
bool AutoProxyFor(const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& ie, const std::string& url,
                  std::string* list, std::string* bypass) {
    HINTERNET session = WinHttpOpen(L"Quorvane", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return false;
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (ie.lpszAutoConfigUrl) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = ie.lpszAutoConfigUrl;
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info = {};
    const wxString wideUrl = wxString::FromUTF8(url.c_str());
    bool found = false;
    if (WinHttpGetProxyForUrl(session, wideUrl.wc_str(), &options, &info)) {
        found = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy;
        if (found) {
            *list = Narrow(info.lpszProxy);
            *bypass = Narrow(info.lpszProxyBypass);
        } else {
            *list = "DIRECT";
        }
        if (info.lpszProxy)
            GlobalFree(info.lpszProxy);
        if (info.lpszProxyBypass)
            GlobalFree(info.lpszProxyBypass);
        found = true;
    }
    WinHttpCloseHandle(session);
    return found;
}

// What the settings say for one scheme and host, found is false when they name no proxy.
struct Choice {
    bool found = false;
    std::string proxy;
    std::chrono::steady_clock::time_point until;
};

bool LookUp(bool https, const std::string& host, std::string* proxy) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&ie))
        return false;
    std::string list = Narrow(ie.lpszProxy);
    std::string bypass = Narrow(ie.lpszProxyBypass);
    bool named = !list.empty();
    if (ie.fAutoDetect || ie.lpszAutoConfigUrl) {
        std::string autoList, autoBypass;
        if (AutoProxyFor(ie, (https ? "https://" : "http://") + host + "/", &autoList,
                         &autoBypass)) {
            list = autoList;
            bypass = autoBypass;
            named = true;
        }
    }
    for (wchar_t* text : {ie.lpszProxy, ie.lpszProxyBypass, ie.lpszAutoConfigUrl})
        if (text)
            GlobalFree(text);
    if (!named)
        return false;
    if (list == "DIRECT") {
        proxy->clear();
        return true;
    }
    return ProxyFromList(list, bypass, https, host, proxy);
}

} // namespace

bool SystemProxyFor(bool https, const std::string& host, std::string* proxy) {
    // Automatic detection (WPAD) can take seconds when the network has none: each answer is
    // kept for a few minutes, as browsers do, rather than asked for every request.
    static std::mutex lock;
    static std::map<std::string, Choice> cache;
    const auto now = std::chrono::steady_clock::now();
    const std::string key = (https ? "https://" : "http://") + host;
    {
        std::lock_guard<std::mutex> hold(lock);
        auto it = cache.find(key);
        if (it != cache.end() && now < it->second.until) {
            *proxy = it->second.proxy;
            return it->second.found;
        }
    }
    Choice choice;
    choice.found = LookUp(https, host, &choice.proxy);
    choice.until = now + std::chrono::minutes(5);
    std::lock_guard<std::mutex> hold(lock);
    cache[key] = choice;
    if (choice.found)
        *proxy = choice.proxy;
    return choice.found;
}

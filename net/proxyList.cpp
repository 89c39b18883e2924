#include "systemProxy.h"

#include <cctype>
#include <vector>

namespace {

std::vector<std::string> Entries(const std::string& text) {
    std::vector<std::string> entries;
    std::string entry;
    for (char c : text + ";") {
        if (c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!entry.empty())
                entries.push_back(entry);
            entry.clear();
        } else {
            entry += c;
        }
    }
    return entries;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Whether text matches pattern, where '*' stands for any run of characters.
bool Matches(const char* pattern, const char* text) {
    if (*pattern == '\0')
        return *text == '\0';
    if (*pattern == '*')
        return Matches(pattern + 1, text) || (*text != '\0' && Matches(pattern, text + 1));
    return *pattern == *text && Matches(pattern + 1, text + 1);
}

bool Bypassed(const std::string& bypass, const std::string& host) {
    const std::string name = Lower(host);
    for (const std::string& entry : Entries(bypass)) {
        const std::string pattern = Lower(entry);
        if (pattern == "<local>") {
            if (name.find('.') == std::string::npos)
                return true;
        } else if (Matches(pattern.c_str(), name.c_str())) {
            return true;
        }
    }
    return false;
}

// "http://host:port/" and "host:port" name the same proxy.
std::string Address(std::string value) {
    const size_t scheme = value.find("://");
    if (scheme != std::string::npos)
        value.erase(0, scheme + 3);
    while (!value.empty() && value.back() == '/')
        value.pop_back();
    return value;
}

} // namespace

bool ProxyFromList(const std::string& list, const std::string& bypass, bool https,
                   const std::string& host, std::string* proxy) {
    std::string chosen, forAll;
    for (const std::string& entry : Entries(list)) {
        const size_t eq = entry.find('=');
        if (eq == std::string::npos) {
            if (forAll.empty())
                forAll = Address(entry);
        } else if (chosen.empty() && Lower(entry.substr(0, eq)) == (https ? "https" : "http")) {
            chosen = Address(entry.substr(eq + 1));
        }
    }
    if (chosen.empty())
        chosen = forAll;
    if (chosen.empty())
        return false;
    *proxy = Bypassed(bypass, host) ? std::string() : chosen;
    return true;
}

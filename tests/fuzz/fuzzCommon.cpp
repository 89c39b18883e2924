#include "fuzzCheck.h"

#include <wx/init.h>
#include <wx/log.h>

#include <cstring>

bool qvFuzzReplay = false;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The job code runs with the base library initialised, as in the program. Errors the
    // code logs for the user ("Error?", "bad tiff") are not wanted on the fuzzer's output.
    static bool done = false;
    if (!done) {
        done = true;
        if (!wxInitialize()) {
            std::fprintf(stderr, "wxWidgets could not be initialised\n");
            std::exit(2);
        }
        wxLog::EnableLogging(false);
    }
    return 0;
}

namespace qvfuzz {

bool EscapedText(const wxString& text) {
    const std::string bytes = text.utf8_string();
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '<' || c == '>' || c == '"')
            return false;
        if (c != '&')
            continue;
        const size_t semi = bytes.find(';', i);
        if (semi == std::string::npos)
            return false;
        const std::string name = bytes.substr(i + 1, semi - i - 1);
        if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos")
            continue;
        if (name.size() < 2 || name[0] != '#' ||
            name.find_first_not_of("0123456789", 1) != std::string::npos)
            return false;
    }
    return true;
}

std::string UnescapeOnce(const std::string& text) {
    static const struct {
        const char* name;
        char c;
    } named[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& n : named) {
            const size_t len = std::strlen(n.name);
            if (text.compare(i, len, n.name) == 0) {
                out += n.c;
                i += len;
                replaced = true;
                break;
            }
        }
        if (replaced)
            continue;
        if (text.compare(i, 2, "&#") == 0) {
            const size_t semi = text.find(';', i);
            if (semi != std::string::npos && semi > i + 2 &&
                text.find_first_not_of("0123456789", i + 2) == semi) {
                const unsigned long code = std::strtoul(text.c_str() + i + 2, nullptr, 10);
                out += code < 128 ? static_cast<char>(code) : '?';
                i = semi + 1;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

bool InnerRequest(const wxString& envelope, std::string& inner) {
    const std::string bytes = envelope.utf8_string();
    size_t lines = 1;
    for (char c : bytes)
        lines += c == '\n';
    if (lines != 7)
        return false;
    const std::string open = "<input_request xsi:type=\"xsd:string\">";
    const std::string close = "</input_request>\n";
    const size_t start = bytes.find(open);
    const size_t end = bytes.find(close);
    if (start == std::string::npos || end == std::string::npos || end < start + open.size() ||
        bytes.find(open, start + 1) != std::string::npos ||
        bytes.find(close, end + 1) != std::string::npos)
        return false;
    inner = bytes.substr(start + open.size(), end - start - open.size());
    return true;
}

} // namespace qvfuzz

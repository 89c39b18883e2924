#include "getCore.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qvget {

namespace {

// A decimal number 1...kMaxJobs and nothing else.
bool parseJobs(const std::string& text, int& jobs) {
    if (text.empty() || text.size() > 3)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    jobs = std::atoi(text.c_str());
    return jobs >= 1 && jobs <= kMaxJobs;
}

} // namespace

bool ParseArguments(const std::vector<std::string>& args, Options& options, std::string& error) {
    bool onlyNumbers = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyNumbers || arg.size() < 2 || arg[0] != '-') {
            if (arg == "-") {
                error = "\"-\" is not a number (read standard input with -f -)";
                return false;
            }
            options.numbers.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyNumbers = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg.size() >= 2 && arg[1] != '-' && std::strchr("ojf", arg[1])) {
            // The value follows directly (-j8) or as the next argument (-j 8).
            std::string value;
            if (arg.size() > 2) {
                value = arg.substr(2);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                error = "option " + arg + " needs a value";
                return false;
            }
            if (arg[1] == 'o') {
                if (value.empty()) {
                    error = "-o needs a folder";
                    return false;
                }
                options.folder = value;
            } else if (arg[1] == 'j') {
                if (!parseJobs(value, options.jobs)) {
                    error = "-j takes a number of jobs from 1 to " + std::to_string(kMaxJobs) +
                            ", not \"" + value + "\"";
                    return false;
                }
            } else {
                if (value.empty()) {
                    error = "-f needs a file";
                    return false;
                }
                options.listFiles.push_back(value);
            }
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    return true;
}

Outcome OutcomeOfPhase(JobPhase phase) {
    switch (phase) {
    case JobPhase::Finished:
        return Outcome::Finished;
    case JobPhase::AlreadyThere:
        return Outcome::PreviouslyDownloaded;
    case JobPhase::NotFound:
        return Outcome::NotFound;
    case JobPhase::UnknownFormat:
        return Outcome::UnknownFormat;
    case JobPhase::Cancelled:
        return Outcome::Cancelled;
    default:
        return Outcome::Failed;
    }
}

bool IsSuccess(Outcome outcome) {
    return outcome == Outcome::Finished || outcome == Outcome::PreviouslyDownloaded;
}

std::string Summary(const std::vector<int>& counts) {
    static const char* const names[] = {
        "finished", "previously downloaded", "not found", "unknown format", "failed", "cancelled"};
    std::string out;
    for (size_t i = 0; i < counts.size() && i < 6; ++i) {
        if (counts[i] == 0)
            continue;
        if (!out.empty())
            out += ", ";
        out += std::to_string(counts[i]) + " " + names[i];
    }
    return out.empty() ? "nothing downloaded" : out;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7f) {
            static const char* const named[] = {"b", "t", "n", nullptr, "f", "r"};
            if (c >= 8 && c <= 13 && named[c - 8]) {
                out += '\\';
                out += named[c - 8];
            } else {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            }
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // One whole UTF-8 sequence (no overlong forms, no surrogates), else U+FFFD.
            size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
            bool ok = len != 0 && i + len <= s.size();
            for (size_t k = 1; ok && k < len; ++k)
                ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
            if (ok && len >= 3) {
                const unsigned char d = static_cast<unsigned char>(s[i + 1]);
                ok = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0) &&
                     !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
            }
            if (ok) {
                out.append(s, i, len);
                i += len;
            } else {
                out += "\xEF\xBF\xBD";
                ++i;
            }
        }
    }
    return out + "\"";
}

std::string Printable(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
            ++i;
            continue;
        }
        // A whole UTF-8 sequence stays, but U+0080...U+009F, which some terminals obey like
        // ESC sequences; a byte outside a sequence (such as a lone 8-bit CSI) does not.
        const size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        bool whole = len != 0 && c <= 0xF4 && i + len <= s.size();
        for (size_t k = 1; whole && k < len; ++k)
            whole = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (whole && !(c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0)) {
            out.append(s, i, len);
            i += len;
        } else {
            out += '?';
            i += whole ? len : 1;
        }
    }
    return out;
}

} // namespace qvget

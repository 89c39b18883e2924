#include "jobRecord.h"

#include <wx/regex.h>

#include <cstdlib>

wxString CleanNumber(const wxString& typed) {
    wxString number = typed;
    number.Replace(",", "");
    number.Replace(" ", "");
    return number;
}

wxString TextForMessage(const wxString& typed) {
    if (typed.length() <= kMaxQuotedLength)
        return typed;
    return typed.Left(kMaxQuotedLength - 1) + wxString::FromUTF8("\u2026");
}

bool ClassifyNumber(const wxString& number, int* kind) {
    if (number.empty())
        return false;
    // The leading number as strtol sees it, whatever follows it: "12abc" counts.
    const wxScopedCharBuffer bytes = number.utf8_str();
    if (std::strtol(bytes.data(), nullptr, 10) != 0 || number.Contains("/") ||
        number.Contains("\\")) {
        *kind = kUsptoJob;
        return true;
    }
    wxString upper = number.Upper();
    static const char* const prefixes[] = {"X", "D", "H", "T", "AI", "RE", "PP"};
    for (const char* prefix : prefixes) {
        if (upper.StartsWith(prefix)) {
            *kind = kUsptoJob;
            return true;
        }
    }
    wxRegEx country("[a-zA-Z]{2}[0-9]+", wxRE_EXTENDED);
    if (country.IsValid() && country.Matches(number)) {
        *kind = kPctJob;
        return true;
    }
    return false;
}

JobRecord::JobRecord(const wxString& text) : number(CleanNumber(text)) {
    if (number.empty()) {
        finished = true;
        return;
    }
    valid = ClassifyNumber(number, &kind);
}

#include "opsNumber.h"

#include "usNumber.h"

namespace {

bool IsDigit(wxUniChar c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(wxUniChar c) {
    return c >= 'A' && c <= 'Z';
}

// The letter series of US numbers, longest first so that "PP" wins over a one-letter match.
const char* const kUsPrefixes[] = {"PP", "RE", "AI", "D", "H", "T", "X"};

wxString UsPrefixOf(const wxString& s) {
    for (const char* p : kUsPrefixes) {
        const wxString prefix(p);
        if (s.StartsWith(prefix) && s.length() > prefix.length() && IsDigit(s[prefix.length()]))
            return prefix;
    }
    return wxString();
}

// A kind code: one letter and at most one digit.
bool IsKind(const wxString& s) {
    return (s.length() == 1 || s.length() == 2) && IsLetter(s[0]) &&
           (s.length() == 1 || IsDigit(s[1]));
}

// Splits "1000000B1", "1000000.B1" or "D365123S" into number and kind. The number may hold
// one "/" between digits (WO2004/012345, US 2002/0000001).
bool SplitKind(const wxString& rest, const wxString& prefix, wxString& digits, wxString& kind) {
    size_t i = prefix.length();
    size_t slash = wxString::npos;
    while (i < rest.length() && (IsDigit(rest[i]) || rest[i] == '/')) {
        if (rest[i] == '/') {
            if (slash != wxString::npos || i == prefix.length())
                return false;
            slash = i;
        }
        ++i;
    }
    digits = rest.Mid(prefix.length(), i - prefix.length());
    if (digits.empty() || digits.Last() == '/')
        return false;
    wxString tail = rest.Mid(i);
    if (tail.StartsWith("."))
        tail = tail.Mid(1);
    if (!tail.empty() && !IsKind(tail))
        return false;
    kind = tail;
    return true;
}

wxString WithoutLeadingZeros(const wxString& digits) {
    size_t zeros = 0;
    while (zeros + 1 < digits.length() && digits[zeros] == '0')
        ++zeros;
    return digits.Mid(zeros);
}

bool MapUs(const wxString& rest, OpsNumber& out) {
    const wxString prefix = UsPrefixOf(rest);
    wxString digits, kind;
    if (!SplitKind(rest, prefix, digits, kind))
        return false;
    out.kind = kind;
    const bool slashed = digits.Find('/') != wxNOT_FOUND;
    if (slashed) {
        // 2002/0000001: only a publication is written with a slash.
        if (!prefix.empty() || digits.BeforeFirst('/').length() != 4)
            return false;
        digits.Replace("/", "");
    }
    if (prefix.empty() && (digits.length() == 11 || digits.length() == 10) &&
        (digits.StartsWith("19") || digits.StartsWith("20"))) {
        // A publication: 4 digits of year and 7 of serial, or the 4+6 form the EPO uses.
        const wxString year = digits.Left(4);
        wxString serial = digits.Mid(4);
        if (serial.length() == 7 && serial[0] == '0')
            serial = serial.Mid(1);
        out.number = year + serial;
        // Named with 11 digits as the USPTO job names a publication.
        out.name = year + (serial.length() == 6 ? "0" : "") + serial;
    } else {
        if (slashed)
            return false;
        const wxString value = WithoutLeadingZeros(digits);
        if (value == "0")
            return false;
        out.number = prefix + value;
        out.name = RecogniseUsNumber(out.number).number;
    }
    out.country = "US";
    out.name += out.kind;
    return true;
}

} // namespace

OpsNumber MapOpsNumber(const wxString& typed) {
    OpsNumber out;
    wxString text;
    for (wxUniChar c : typed) {
        if (c == ' ' || c == ',' || c == '\t')
            continue;
        if (!c.IsAscii())
            return out;
        text += wxString(c).Upper();
    }
    if (text.empty() || text.length() > 40)
        return out;

    const bool countryCode = text.length() > 2 && IsLetter(text[0]) && IsLetter(text[1]) &&
                             UsPrefixOf(text).empty() &&
                             (IsDigit(text[2]) || text[2] == '.' ||
                              (text.StartsWith("US") && !UsPrefixOf(text.Mid(2)).empty()));
    if (!countryCode) {
        // Digits or a US letter series alone: a US number, as the USPTO job reads it.
        out.ok = MapUs(text, out);
        return out;
    }
    const wxString country = text.Left(2);
    wxString rest = text.Mid(2);
    if (rest.StartsWith("."))
        rest = rest.Mid(1);
    if (country == "US") {
        out.ok = MapUs(rest, out);
        return out;
    }
    wxString digits, kind;
    if (!SplitKind(rest, wxString(), digits, kind))
        return out;
    out.country = country;
    out.kind = kind;
    out.name = country + digits;
    out.name.Replace("/", "-");
    out.name += kind;
    digits.Replace("/", "");
    out.number = digits;
    out.ok = true;
    return out;
}

wxString OpsNumber::Display() const {
    wxString text = country + " " + number;
    if (!kind.empty())
        text += " " + kind;
    return text;
}

wxString OpsNumber::InquiryPath() const {
    if (kind.empty())
        return "published-data/publication/epodoc/" + country + number + "/images";
    return "published-data/publication/docdb/" + country + "." + number + "." + kind + "/images";
}

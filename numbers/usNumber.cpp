#include "usNumber.h"

#include "numberText.h"

#include <cctype>

using numbertext::IsNumber;
using numbertext::LeadingULong;

namespace {

// Accepts "series<sep>serial" when both halves around the first sep are numbers.
bool SplitsAt(const wxString& text, wxUniChar sep) {
    return IsNumber(text.BeforeFirst(sep)) && IsNumber(text.AfterFirst(sep));
}

} // namespace

UsNumber RecogniseUsNumber(const wxString& input) {
    UsNumber r;
    r.number = input;

    if (IsNumber(input)) {
        size_t zeros = 0;
        while (zeros < input.length() && input[zeros] == '0')
            ++zeros;
        r.number = input.Mid(zeros);
        r.docid = r.number;
        return r;
    }

    const wxUniChar first = input[0];
    if (first.IsAscii() && std::isalpha(static_cast<unsigned char>(first.GetValue()))) {
        wxString upper = input.Upper();
        r.number = upper;
        const char letter = static_cast<char>(upper[0].GetValue());
        const char* prefix = nullptr;
        switch (letter) {
        case 'R':
            prefix = "RE";
            break;
        case 'P':
            prefix = "PP";
            break;
        case 'A':
            prefix = "AI";
            break;
        case 'D':
        case 'H':
        case 'T':
        case 'X': {
            const unsigned long v = LeadingULong(upper.Mid(1));
            if (v != 0) {
                r.docid = wxString::Format("%c%07lu", letter, v);
                r.number = wxString::Format("%c%lu", letter, v);
            }
            return r;
        }
        default:
            return r;
        }
        const unsigned long v = LeadingULong(upper.Mid(2));
        if (v != 0) {
            r.docid = wxString::Format("%s%06lu", prefix, v);
            r.number = wxString::Format("%s%lu", prefix, v);
        }
        return r;
    }

    if (!SplitsAt(input, '/') && !SplitsAt(input, '\\'))
        return r;
    wxString dashed = input;
    dashed.Replace("/", "-");
    dashed.Replace("\\", "-");
    r.serial = true;
    r.series = LeadingULong(dashed.BeforeFirst('-'));
    const unsigned long serial = LeadingULong(dashed.AfterFirst('-'));
    r.number = wxString::Format("%lu-%lu", r.series, serial);
    r.lookupText = wxString::Format("%lu/%lu", r.series, serial);
    return r;
}

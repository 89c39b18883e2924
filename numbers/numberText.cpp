#include "numberText.h"

#include <cstdlib>

namespace numbertext {

long LeadingLong(const wxString& text) {
    const wxScopedCharBuffer bytes = text.To8BitData();
    return std::strtol(bytes.data(), nullptr, 10);
}

unsigned long LeadingULong(const wxString& text) {
    const wxScopedCharBuffer bytes = text.To8BitData();
    return std::strtoul(bytes.data(), nullptr, 10);
}

bool IsNumber(const wxString& text) {
    size_t i = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-'))
        i = 1;
    for (; i < text.length(); ++i) {
        const wxUniChar c = text[i];
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace numbertext

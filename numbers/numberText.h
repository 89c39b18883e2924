// Digits in text, as the number forms and the services' answers spell them.
#pragma once

#include <wx/string.h>

namespace numbertext {

// Value of the leading digits in the manner of strtol / strtoul (0 when there are none;
// leading white space and one sign are accepted, following text is ignored).
long LeadingLong(const wxString& text);
unsigned long LeadingULong(const wxString& text);

// wxString::IsNumber: digits only after at most one "+" or "-"; the empty text passes.
bool IsNumber(const wxString& text);

} // namespace numbertext

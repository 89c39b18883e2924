// Text helpers shared by the jobs' answer parsers and request builders. Answers are read
// byte-exactly (8-bit text, one byte one character), so that a stream left behind a line
// is positioned exactly at the next byte, as the multipart page answers need.
#pragma once

#include "numberText.h"

#include <wx/stream.h>
#include <wx/string.h>

#include <string>

namespace jobtext {

// True when no byte is left to read.
bool AtEnd(wxInputStream& in);

// Reads one line ending in LF, CR LF or CR (the end is dropped). False when the stream was
// at its end before the first byte.
bool ReadLine(wxInputStream& in, wxString& line);

// The digit readers of the number forms, for the answers' counts.
using numbertext::IsNumber;
using numbertext::LeadingLong;
using numbertext::LeadingULong;

// Percent-encodes every byte that is not an unreserved URL character (A-Z a-z 0-9 - . _ ~).
wxString PercentEncode(const wxString& text);

// Escapes text for an XML attribute value, once or twice (for XML held as text inside
// XML). Characters XML cannot hold at all are dropped.
wxString XmlEscape(const wxString& text);
wxString XmlEscapeTwice(const wxString& text);
// Undoes the five predefined entities and numeric references; anything else stays.
wxString XmlUnescape(const wxString& text);

} // namespace jobtext

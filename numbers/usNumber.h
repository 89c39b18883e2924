// Recognition of the US number forms: patent numbers, the lettered series, 11-digit
// publication numbers and application serial numbers ("series/serial").
#pragma once

#include <wx/string.h>

struct UsNumber {
    wxString docid;      // identifier for the image servers; empty: not recognised
    wxString number;     // normalised number, names the PDF
    bool serial = false; // an application serial number: docid comes from the lookup
    wxString lookupText; // "%lu/%lu" of series and serial, for the lookup
    unsigned long series = 0;
};

// number: the typed text with commas and blanks removed. For a serial number the docid is
// left empty; the caller fills it with the publication-number lookup of lookupText.
UsNumber RecogniseUsNumber(const wxString& number);

// True when a docid is fetched as a published application (exactly 11 characters).
inline bool IsPublicationDocid(const wxString& docid) {
    return docid.length() == 11;
}

// Typed document numbers as the EPO's services name them: country, number and, when the
// user typed one, the kind code of the wanted publication.
#pragma once

#include <wx/string.h>

struct OpsNumber {
    bool ok = false;
    wxString country; // "EP", "WO", "US", ...
    wxString number;  // docdb number: "1000000", "D365123", "2002000001"
    wxString kind;    // typed kind code ("B1"); empty when none was typed
    wxString name;    // the PDF's name without ".pdf", as the other jobs name the document

    // "EP 1000000" or "EP 1000000 B1": how the document is shown to the user.
    wxString Display() const;
    // Path of the images inquiry under /3.2/rest-services/: by docdb with a typed kind,
    // otherwise by epodoc, which answers every publication of the number.
    wxString InquiryPath() const;
};

// Accepts "EP1000000", "EP1000000B1", "EP1000000.B1", "EP 1000000 B1", "WO2004/012345",
// US forms ("5,123,456", "US5123456B2", "D365123", "RE35136", "20020000001") and
// upper or lower case. ok is false for anything else.
OpsNumber MapOpsNumber(const wxString& typed);

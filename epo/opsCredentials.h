// The user's key for the EPO's services, as Setup edits it, the settings store keeps it and
// every EPO request signs with it. The secret never goes into a text of the program.
#pragma once

#include <wx/string.h>

struct OpsCredentials {
    wxString key;
    wxString secret; // clear text in memory
    bool empty() const { return key.empty() || secret.empty(); }
};

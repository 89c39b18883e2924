// Where US documents come from: the user's choice in Setup (USPTO or EPO), or for one run
// QUORVANE_US_SOURCE=ppubs|epo|uspto-images.
#pragma once

#include <cstring>

enum class UsSource {
    Ppubs = 0,       // the USPTO's Patent Public Search, no key needed (the default)
    Epo = 1,         // the EPO's Open Patent Services, with a key
    UsptoImages = 2, // the retired USPTO image servers, for their tests and for mirrors
};

// The value of QUORVANE_US_SOURCE; false for anything else.
inline bool ParseUsSource(const char* text, UsSource& source) {
    if (!text)
        return false;
    if (std::strcmp(text, "ppubs") == 0)
        source = UsSource::Ppubs;
    else if (std::strcmp(text, "epo") == 0)
        source = UsSource::Epo;
    else if (std::strcmp(text, "uspto-images") == 0)
        source = UsSource::UsptoImages;
    else
        return false;
    return true;
}

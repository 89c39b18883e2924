// Which job fetches a number, and making it.
#pragma once

#include "connectionSettings.h"
#include "opsCredentials.h"
#include "ziv2ize.h"

#include <wx/string.h>

#include <memory>

// What a job started now works with: the view reads it when the job starts, so a job keeps
// the settings of that moment while the user changes them.
struct JobContext {
    ConnectionSettingsRecord connection;
    wxString folder;    // absolute download folder
    OpsCredentials key; // empty: no EPO key
};

// The job kind for a number whose form is of kind `classified`: with an EPO key every number
// goes to the EPO, since both original services are retired.
int RouteJob(int classified, const JobContext& context);

// The full path of the PDF that a job of kind makes of number in folder; empty when that
// job cannot name it (it will end with "Unknown Patent/Application Format").
wxString PdfPathFor(const wxString& number, int kind, const wxString& folder);

// A job of kind for number, not yet started.
std::unique_ptr<ziv2ize> MakeJob(int kind, int id, const wxString& number,
                                 const JobContext& context);

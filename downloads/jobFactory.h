// Which job fetches a number, and making it.
#pragma once

#include "connectionSettings.h"
#include "opsCredentials.h"
#include "usSource.h"
#include "ziv2ize.h"

#include <wx/string.h>

#include <memory>

// What a job started now works with: the view reads it when the job starts, so a job keeps
// the settings of that moment while the user changes them.
struct JobContext {
    ConnectionSettingsRecord connection;
    wxString folder;    // absolute download folder
    OpsCredentials key; // empty: no EPO key
    UsSource usSource = UsSource::Ppubs;
};

// The job kind for the cleaned number whose form is of kind `classified`. US numbers go to
// the USPTO's Patent Public Search, with or without an EPO key (its job asks the EPO when the
// USPTO has not got the document); to the EPO when there is a key and the context's US source
// says so or the number carries a kind code; to the image servers with UsSource::UsptoImages.
// Everything else goes to the EPO with a key, since the other original services are retired,
// and to its classified job without one.
int RouteJob(int classified, const wxString& number, const JobContext& context);

// The full path of the PDF that a job of kind makes of number in folder; empty when that
// job cannot name it (it will end with "Unknown Patent/Application Format").
wxString PdfPathFor(const wxString& number, int kind, const wxString& folder);

// A job of kind for number, not yet started.
std::unique_ptr<ziv2ize> MakeJob(int kind, int id, const wxString& number,
                                 const JobContext& context);

// One document from the USPTO's Patent Public Search into a PDF writer: search, print, save,
// then each page's CCITT image taken out of the service's PDF and embedded unchanged.
#pragma once

#include "ppubsClient.h"

#include <wx/string.h>

#include <functional>
#include <memory>

class pdfWriter;
struct PdfDocumentInfo;

struct PpubsFetch {
    // What the row says while the document is looked up: "Searching the USPTO",
    // "USPTO Preparing 12 Pages".
    std::function<void(const wxString&)> status;
    // Each page as it goes into the PDF: "Downloading page 3 of 12", 3, 12.
    std::function<void(const wxString&, int page, int count)> page;
    // Makes the writer once the page count is known (the job chooses the file).
    std::function<std::unique_ptr<pdfWriter>(int pages, const PdfDocumentInfo& info)> makeWriter;
};

// The PDF's /Subject: the publication and where it came from.
wxString PpubsSubject(const PpubsHit& hit);

// On Ok, `writer` holds every page and is ready to be closed. Otherwise `error` says why
// (NotFound, Retry: another try later, Final: this document cannot be had this way).
PpubsOutcome FetchPpubsDocument(ppubsClient& client, const PpubsQuery& query,
                                const PpubsFetch& fetch, std::unique_ptr<pdfWriter>& writer,
                                wxString& error);

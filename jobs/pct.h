// The Espacenet job: numbers with a two-letter country prefix, fetched page by page from
// the OpenPatentServices SOAP web service.
#pragma once

#include "ziv2ize.h"

#include <wx/stream.h>

class pdfWriter;

// The SOAP envelopes of the two actions. Every value is escaped for both XML levels (the
// inner request travels as escaped text), so no number can change the request's shape.
wxString PctInquiryEnvelope(const wxString& number);
// docId and system as the inquiry answer holds them (escaped text of that answer).
wxString PctRetrievalEnvelope(const wxString& docId, const wxString& system, unsigned long page);

// Finds the first full-document instance line of an inquiry answer. True when there is one
// with a non-empty system and id and a page count from 1 to the largest believed.
bool ParsePctInquiryAnswer(wxInputStream& in, wxString& system, wxString& docId,
                           unsigned long& pageCount);
bool ParsePctInquiryAnswerText(const wxString& text, wxString& system, wxString& docId,
                               unsigned long& pageCount);

// Moves a multipart page answer to the first byte of its image: behind the empty line that
// follows the "Content-Location:" header. False ("bad tiff") when nothing is left there.
bool PositionAtPageImage(wxInputStream& in);

class pct : public ziv2ize {
public:
    pct(int id, const JobInput& input);
    // Into the current folder with the default connection.
    pct(int id, const wxString& number) : pct(id, JobInput(number)) {}
    ~pct() override;

    // The PDF's name for a number.
    static wxString PdfName(const wxString& number);

    // Fills system, docId and pageCount from the service's inquiry answer.
    bool DocumentInquiry(const wxString& number);
    // Fetches page p into the writer.
    bool DocumentRetrieval(pdfWriter& writer, unsigned long p);

protected:
    ExitCode Entry() override;

    wxString system;
    wxString docId;
    unsigned long pageCount;
    wxString pageError; // why the last page failed, for the countdown's status

private:
    bool AddPages(pdfWriter& writer);
};

#include "ppubsDocument.h"

#include "pdfPageImage.h"
#include "pdfWriter.h"
#include "spoolFile.h"

wxString PpubsSubject(const PpubsHit& hit) {
    wxString publication = "US " + wxString::FromUTF8(hit.number);
    if (!hit.kind.empty())
        publication += " " + wxString::FromUTF8(hit.kind);
    return publication + ", from the USPTO Patent Public Search";
}

PpubsOutcome FetchPpubsDocument(ppubsClient& client, const PpubsQuery& query,
                                const PpubsFetch& fetch, std::unique_ptr<pdfWriter>& writer,
                                wxString& error) {
    writer.reset();
    fetch.status("Searching the USPTO");
    PpubsHit hit;
    PpubsOutcome got = client.Search(query, hit);
    std::string pdfName;
    if (got == PpubsOutcome::Ok) {
        fetch.status(wxString::Format("USPTO Preparing %d Pages", hit.pageCount));
        got = client.Print(hit, pdfName);
    }
    // On disk, read through a mapping: only the page being copied is held in memory.
    SpoolFile pdf;
    if (got == PpubsOutcome::Ok)
        got = client.Save(hit, pdfName, pdf);
    if (got != PpubsOutcome::Ok) {
        error = client.Error();
        return got;
    }
    const char* bytes = pdf.Map();
    if (!bytes) {
        error = "USPTO PDF: empty or unreadable";
        return PpubsOutcome::Retry;
    }

    CcittPdfPages pages;
    pages.SetReadProgress([&pdf](size_t) { pdf.Release(); });
    wxString why;
    const CcittExtraction opened = pages.Open(bytes, pdf.Size(), hit.pageCount, why);
    if (opened != CcittExtraction::Ok) {
        error = "USPTO PDF: " + why;
        return opened == CcittExtraction::Unreadable ? PpubsOutcome::Retry : PpubsOutcome::Final;
    }
    const int count = pages.PageCount();
    PdfDocumentInfo info;
    info.subject = PpubsSubject(hit);
    for (const auto& section : hit.sections)
        info.sections.push_back({wxString::FromUTF8(section.first), section.second});
    writer = fetch.makeWriter(count, info);
    if (!writer || !writer->m_ok) {
        error = writer ? writer->m_message : wxString("Error Writing PDF");
        writer.reset();
        return PpubsOutcome::Final;
    }
    for (int p = 0; p < count; ++p) {
        fetch.page(wxString::Format("Downloading page %d of %d", p + 1, count), p + 1, count);
        CcittImage image;
        const CcittExtraction taken = pages.Page(p, image, why);
        if (taken != CcittExtraction::Ok) {
            // A page that is not a fax image is never re-encoded: the document ends here.
            error = wxString::Format("USPTO PDF page %d: %s", p + 1, why);
            writer.reset();
            return taken == CcittExtraction::Unreadable ? PpubsOutcome::Retry : PpubsOutcome::Final;
        }
        pdf.Release();
        if (!writer->AddCcittPage(image)) {
            error = writer->m_message;
            const bool again = writer->m_ok;
            writer.reset();
            return again ? PpubsOutcome::Retry : PpubsOutcome::Final;
        }
    }
    return PpubsOutcome::Ok;
}

// Writes one PDF file for one document, page by page, each page one CCITT fax image
// copied unchanged from a single-page TIFF file or from a one-page PDF. The file is
// written under a temporary name in the same folder and renamed to its final name only
// once it is complete, so a crash or a cancelled job never leaves a truncated file that
// looks downloaded.
#pragma once

#include <wx/stream.h>
#include <wx/string.h>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class httpSession; // net/httpSession.h
class pdfFileStream;
struct CcittImage; // pdfPageImage.h

// A part of the document as the image service lists it, for the bookmarks.
struct PdfSection {
    wxString name; // as the service names it: "ABSTRACT", "SEARCH_REPORT"...
    int startPage; // from 1
};

// What the file says about its document beyond the title (which is the file's name).
struct PdfDocumentInfo {
    wxString subject;                 // the publication taken, e.g. "EP 1000000 B1"; none if empty
    std::vector<PdfSection> sections; // any order; pages outside the document are left out
};

class pdfWriter {
public:
    // path: final full path of the PDF. Writes the front matter (header, catalog,
    // document information, page tree) to a temporary file beside it.
    pdfWriter(wxString path, int pageCount);
    // The same, with the document information's /Subject and an outline with one item per
    // section, in page order, each opening its start page. Without a subject or a section
    // within the pages, the file is exactly what the other constructor writes.
    pdfWriter(wxString path, int pageCount, const PdfDocumentInfo& info);
    // Removes the temporary file unless Close() put it in place (finishing it first when all
    // pages were added, for callers that never call Close).
    ~pdfWriter();
    pdfWriter(const pdfWriter&) = delete;
    pdfWriter& operator=(const pdfWriter&) = delete;

    // `in` is positioned at the first byte of a single-page TIFF; it is read to its end
    // and not deleted. False with m_message set when the page was not appended; the page
    // may be offered again while m_ok is true.
    bool AddPage(wxInputStream& in);
    // What AddPage would say of the single-page TIFF in `in` (read to its end), without
    // writing: true when it embeds it unchanged. Otherwise false with the text AddPage would
    // give, and `final` when the same bytes can never be embedded (unsupported coding, several
    // strips, an impossible directory: the page is better fetched in another form) rather
    // than a cut-off or damaged answer that may come whole next time.
    static bool CheckTiffPage(wxInputStream& in, wxString& reason, bool& final);
    // Requests `path` through the session and adds the answer as the next page. A failed
    // request leaves m_message unchanged (the reason is the session's GetError()).
    bool AddPageFromServer(httpSession& session, wxString path);
    // Adds a page image taken from a one-page PDF (pdfPageImage.h): its stream unchanged
    // with its decode parameters, its page size and its /Rotate. Same guarantees as AddPage.
    bool AddCcittPage(const CcittImage& image);
    // `in` holds a one-page PDF as the image service serves a page (read to its end, at most
    // kMaxPagePdfBytes). A PDF that cannot be read leaves m_ok set (it may be fetched again);
    // one that is readable but not a single CCITT image on a single page clears it.
    bool AddPdfPage(wxInputStream& in);

    // Finishes the file, makes it reach the disk and renames it to its final name. False,
    // with m_message saying why, when any page is missing or any of those steps failed;
    // then nothing is left under the final name by this writer. Call once, after the last page.
    bool Close();

    bool m_ok;
    wxString m_message;

    // Where the file is written until it is complete (empty when none was created).
    wxString GetTempPath() const { return m_tempPath; }

private:
    void Text(const wxString& text);     // writes text with every "\n" as CR LF
    bool Check(const wxString& message); // flushes; on a failed write sets m_message
    wxString WriteFailure(const wxString& message) const;
    void BeginObject(); // records the offset of the next object
    bool FailPage(const wxString& message, size_t pageStart, wxFileOffset filePos);
    bool Finish();
    void Begin(const wxString& path, int pageCount, const PdfDocumentInfo* info);
    // Writes page object, content and image of the next page; `decodeParms` is the text
    // inside the image's /DecodeParms, `writeData` copies the coded image and says whether
    // it could. On a write failure the page is cut off again.
    bool WritePage(unsigned long pageWidth, unsigned long pageHeight, int rotate, uint32_t width,
                   uint32_t height, const wxString& decodeParms,
                   const std::function<bool(wxOutputStream&)>& writeData);
    void WriteOutline();

    pdfFileStream* m_file;
    int m_imageNumber;
    int m_pagesWritten;
    int m_pageCount;
    wxString m_path;
    wxString m_tempPath;
    std::vector<uint64_t> m_offsets; // offset of object n at index n - 1
    // Bookmarks in page order, titles as shown; written after the last page.
    std::vector<std::pair<wxString, int>> m_outline;
};

// Writes one PDF file for one document, page by page, each page one CCITT fax image
// copied unchanged from a single-page TIFF file. The file is written under a temporary
// name in the same folder and renamed to its final name only once it is complete, so a
// crash or a cancelled job never leaves a truncated file that looks downloaded.
#pragma once

#include <wx/stream.h>
#include <wx/string.h>

#include <cstdint>
#include <vector>

class httpSession; // net/httpSession.h
class pdfFileStream;

class pdfWriter {
public:
    // path: final full path of the PDF. Writes the front matter (header, catalog,
    // document information, page tree) to a temporary file beside it.
    pdfWriter(wxString path, int pageCount);
    // Removes the temporary file unless Close() put it in place (finishing it first when all
    // pages were added, for callers that never call Close).
    ~pdfWriter();
    pdfWriter(const pdfWriter&) = delete;
    pdfWriter& operator=(const pdfWriter&) = delete;

    // `in` is positioned at the first byte of a single-page TIFF; it is read to its end
    // and not deleted. False with m_message set when the page was not appended; the page
    // may be offered again while m_ok is true.
    bool AddPage(wxInputStream& in);
    // Requests `path` through the session and adds the answer as the next page. A failed
    // request leaves m_message unchanged (the reason is the session's GetError()).
    bool AddPageFromServer(httpSession& session, wxString path);

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
    void BeginObject();                  // records the offset of the next object
    bool FailPage(const wxString& message, size_t pageStart, wxFileOffset filePos);
    bool Finish();

    pdfFileStream* m_file;
    int m_imageNumber;
    int m_pagesWritten;
    int m_pageCount;
    wxString m_path;
    wxString m_tempPath;
    std::vector<uint64_t> m_offsets; // offset of object n at index n - 1
};

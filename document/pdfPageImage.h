// The page image of a one-page PDF as an image service serves a page: its only image, a
// CCITT fax stream, lifted out unchanged with its decode parameters and the page's size and
// rotation, so that the PDF writer can embed it as it embeds a TIFF page's strip.
#pragma once

#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The largest page image taken on any route: 65,535 pixels a side and 2^30 pixels in all.
// Real patent pages have a few thousand pixels a side; larger sizes pass PDF's integer limits
// or make viewers hang.
constexpr uint64_t kMaxPageSide = 65535;
constexpr uint64_t kMaxPagePixels = uint64_t(1) << 30;
inline bool PageImageSizeAllowed(uint64_t width, uint64_t height) {
    return width <= kMaxPageSide && height <= kMaxPageSide && width * height <= kMaxPagePixels;
}

struct CcittImage {
    std::string data;              // the stream's bytes as stored: still CCITT coded
    int k = 0;                     // /K: < 0 Group 4, 0 Group 3 1-D, > 0 Group 3 2-D
    uint32_t columns = 0;          // the image's width
    uint32_t rows = 0;             // the image's height
    bool blackIs1 = false;         // /BlackIs1
    bool encodedByteAlign = false; // /EncodedByteAlign
    bool endOfLine = false;        // /EndOfLine
    bool endOfBlock = true;        // /EndOfBlock
    int rotate = 0;                // the page's /Rotate: 0, 90, 180 or 270
    double pageWidth = 0;          // the page's MediaBox in points; 0 when it has none
    double pageHeight = 0;
};

enum class CcittExtraction {
    Ok,
    Unreadable, // not a PDF that can be read (garbage, cut off): another fetch may mend it
    Unsuitable, // a PDF, but not one page holding one CCITT image, or too large: final
};

// Larger answers are refused unread; a Group 4 page at 600 dpi is well under 1 MB.
const size_t kMaxPagePdfBytes = 16 << 20;

// Reads the one-page PDF in `pdf` and takes out its image. On anything else than Ok,
// `error` says why and `out` is left empty. Never throws.
CcittExtraction ExtractCcittImage(const std::string& pdf, CcittImage& out, wxString& error);

// A PDF of many pages, each holding one CCITT image, as the USPTO's print service makes them:
// the file is read once, then each page's image is taken out with the checks of
// ExtractCcittImage, one page at a time so that only one page image is held. The limits on
// the file's size and structure grow with the pages expected. Never throws.
constexpr int kMaxPdfPages = 20000;
const size_t kMaxPagePdfBytesEach = size_t(2) << 20;
class CcittPdfPages {
public:
    CcittPdfPages();
    ~CcittPdfPages();
    CcittPdfPages(const CcittPdfPages&) = delete;
    CcittPdfPages& operator=(const CcittPdfPages&) = delete;

    // Reads `pdf`, which must stay unchanged while this object reads pages of it: at most
    // maxPages pages (1...kMaxPdfPages) and kMaxPagePdfBytesEach bytes per page.
    CcittExtraction Open(const std::string& pdf, int maxPages, wxString& error);
    CcittExtraction Open(const char* data, size_t size, int maxPages, wxString& error);
    // Told about every megabyte how far Open's first reading of the file has come: a caller
    // that maps the file may let go of the part before.
    void SetReadProgress(std::function<void(size_t done)> progress) {
        m_progress = std::move(progress);
    }
    int PageCount() const; // 0 until Open succeeded
    // The image of page `index` (from 0); a page that is not one CCITT image is Unsuitable.
    CcittExtraction Page(int index, CcittImage& out, wxString& error);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::function<void(size_t)> m_progress;
};

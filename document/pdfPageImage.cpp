#include "pdfPageImage.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

#include <zlib.h>

namespace {

// A page that only draws its image says so in a few dozen bytes.
const size_t kMaxContentBytes = 64 << 10;
const int kMaxImageSide = 1 << 20;

// Collects decoded content up to a limit, then stops the decoding by throwing: a small
// compressed stream must not inflate into gigabytes before it is refused.
class BoundedBuffer : public Pipeline {
public:
    BoundedBuffer() : Pipeline("bounded buffer", nullptr), m_overflow(false) {}
    void write(unsigned char const* data, size_t len) override {
        if (m_data.size() + len > kMaxContentBytes) {
            m_overflow = true;
            throw std::length_error("page content too long");
        }
        m_data.append(reinterpret_cast<const char*>(data), len);
    }
    void finish() override {}

    std::string m_data;
    bool m_overflow;
};

CcittExtraction Refuse(CcittExtraction kind, const wxString& text, CcittImage& out,
                       wxString& error) {
    out = CcittImage();
    error = text;
    return kind;
}

// A boolean entry of the decode parameters; false when present with another type.
bool BoolParam(QPDFObjectHandle parms, const char* key, bool& value) {
    if (!parms.isDictionary() || !parms.hasKey(key))
        return true;
    QPDFObjectHandle v = parms.getKey(key);
    if (!v.isBool())
        return false;
    value = v.getBoolValue();
    return true;
}

// An integer entry within [low, high]; `value` unchanged when absent.
bool IntParam(QPDFObjectHandle dict, const char* key, long long low, long long high,
              long long& value) {
    if (!dict.isDictionary() || !dict.hasKey(key))
        return true;
    QPDFObjectHandle v = dict.getKey(key);
    if (!v.isInteger())
        return false;
    const long long n = v.getIntValue();
    if (n < low || n > high)
        return false;
    value = n;
    return true;
}

// The only filter of a stream when it is exactly /CCITTFaxDecode (alone or alone in an
// array), with its parameters (null when none).
bool SingleCcittFilter(QPDFObjectHandle dict, QPDFObjectHandle& parms) {
    QPDFObjectHandle filter = dict.getKey("/Filter");
    parms = dict.getKey("/DecodeParms");
    if (filter.isArray()) {
        if (filter.getArrayNItems() != 1)
            return false;
        filter = filter.getArrayItem(0);
        if (parms.isArray()) {
            if (parms.getArrayNItems() != 1)
                return false;
            parms = parms.getArrayItem(0);
        }
    }
    if (!filter.isNameAndEquals("/CCITTFaxDecode"))
        return false;
    return parms.isNull() || parms.isDictionary();
}

// Whether the page's drawing holds an inline image; false with `text` set when the
// drawing cannot be read within its limit.
bool ReadDrawing(QPDFPageObjectHelper& page, bool& inlineImage, wxString& text) {
    BoundedBuffer content;
    for (QPDFObjectHandle stream : page.getPageContents()) {
        bool filtered = false;
        bool ok = false;
        try {
            ok = stream.pipeStreamData(&content, &filtered, 0, qpdf_dl_generalized, true);
        } catch (std::length_error&) {
            ok = false;
        }
        if (content.m_overflow) {
            text = "Page PDF: the page draws more than its image";
            return false;
        }
        if (!ok || (!filtered && !stream.getDict().getKey("/Filter").isNull())) {
            text = "Page PDF: the page's drawing cannot be read";
            return false;
        }
        static const unsigned char separator = '\n';
        try {
            content.write(&separator, 1);
        } catch (std::length_error&) {
            text = "Page PDF: the page draws more than its image";
            return false;
        }
    }
    auto input = std::make_shared<BufferInputSource>("page content", content.m_data);
    QPDFTokenizer tokenizer;
    tokenizer.allowEOF();
    inlineImage = false;
    for (;;) {
        QPDFTokenizer::Token token = tokenizer.readToken(input, "page content", true);
        if (token.getType() == QPDFTokenizer::tt_eof)
            return true;
        if (token.getType() == QPDFTokenizer::tt_bad) {
            text = "Page PDF: the page's drawing cannot be read";
            return false;
        }
        if (token.isWord("BI")) {
            inlineImage = true;
            return true;
        }
    }
}

bool IsWhite(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool IsDelimiter(char c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
           c == '}' || c == '/' || c == '%';
}

// A name as written, with its #xx escapes undone.
std::string NameValue(const std::string& written) {
    std::string name;
    for (size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '#' && i + 2 < written.size() &&
            isxdigit((unsigned char)written[i + 1]) && isxdigit((unsigned char)written[i + 2])) {
            auto hex = [](char h) {
                return isdigit((unsigned char)h) ? h - '0' : (h | 0x20) - 'a' + 10;
            };
            name += char(hex(written[i + 1]) * 16 + hex(written[i + 2]));
            i += 2;
        } else {
            name += written[i];
        }
    }
    return name;
}

// libqpdf builds an object of some hundred bytes for every number or name it parses, and
// decompresses object and cross-reference streams whole before it parses them: a few
// megabytes of "1 1 1 ..." or a small compressed stream would take gigabytes. A page that
// only holds an image has a few hundred tokens outside its streams, so the file is counted
// by a plain lexer first and refused beyond that. The lexer skips a stream only where qpdf
// reads one (after a dictionary that ends an object's top level), so what it skips qpdf
// never parses as objects; object and cross-reference streams are inflated here, within a
// limit, and the objects inside are counted as well.
const size_t kMaxTokens = 20000;
const size_t kMaxInflated = 256 << 10;
// A PDF of many pages may have this much more for each further page (a page of the print
// service's PDFs takes some seventy tokens).
const size_t kMaxTokensPerPage = 1000;
const size_t kMaxInflatedPerPage = 16 << 10;

// The first occurrence of a byte string in [data, data + size), or null. memmem is a GNU
// extension, not in every C library the program is built with.
const void* FindBytes(const char* data, size_t size, const char* what, size_t length) {
    if (length == 0 || size < length)
        return nullptr;
    const char* const last = data + (size - length);
    for (const char* p = data; p <= last;) {
        p = static_cast<const char*>(std::memchr(p, what[0], size_t(last - p) + 1));
        if (!p)
            return nullptr;
        if (std::memcmp(p, what, length) == 0)
            return p;
        ++p;
    }
    return nullptr;
}

// Whether d[from, to) holds an "obj" keyword, with which an object could begin there: the
// lexer skips stream data, so no object that qpdf might be sent to may lie in it. Coded
// image data holds one by chance about once in ten thousand megabytes.
bool HidesObject(const char* d, size_t from, size_t to) {
    for (size_t at = from; at + 3 <= to;) {
        const void* found = FindBytes(d + at, to - at, "obj", 3);
        if (!found)
            return false;
        const size_t p = size_t(static_cast<const char*>(found) - d);
        if (p > from && IsWhite(d[p - 1]) &&
            (p + 3 == to || IsWhite(d[p + 3]) || IsDelimiter(d[p + 3])))
            return true;
        at = p + 1;
    }
    return false;
}

// Inflates zlib data from `data` on until its end, an error or the end of the input; false
// when that gives more than `limit` bytes. qpdf inflates a part of the same bytes (the
// stream's /Length of them), which never gives more.
bool InflateWithin(const char* data, size_t size, size_t limit, std::string& out) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = uInt(std::min<size_t>(size, 1u << 30));
    out.clear();
    unsigned char chunk[16384];
    bool within = true;
    for (;;) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        const int rc = inflate(&z, Z_NO_FLUSH);
        const size_t got = sizeof chunk - z.avail_out;
        if (out.size() + got > limit) {
            within = false;
            break;
        }
        out.append(reinterpret_cast<const char*>(chunk), got);
        if (rc != Z_OK || (got == 0 && z.avail_in == 0))
            break;
    }
    inflateEnd(&z);
    return within;
}

// Counts the tokens of PDF object syntax in d[0, n); with `file`, d is the whole file and
// streams are skipped, object streams counted inside.
class StructureCount {
public:
    explicit StructureCount(size_t pages)
        : m_maxTokens(kMaxTokens + (pages - 1) * kMaxTokensPerPage),
          m_maxInflated(kMaxInflated + (pages - 1) * kMaxInflatedPerPage) {}
    size_t m_tokens = 0;
    wxString m_text;
    const size_t m_maxTokens;
    const size_t m_maxInflated;

    // Told every megabyte how far the reading of the file has come.
    std::function<void(size_t)> m_progress;

    bool Count(const char* d, size_t n, bool file) {
        size_t report = size_t(1) << 20;
        int depth = 0;          // open arrays and dictionaries
        bool afterDict = false; // the previous token closed a dictionary at the top level
        // What the current object's dictionary named: its type and its filters.
        bool compressedObjects = false, objectStream = false, flate = false, otherFilter = false;
        for (size_t i = 0; i < n;) {
            if (file && m_progress && i >= report) {
                m_progress(i);
                report = i + (size_t(1) << 20);
            }
            const char c = d[i];
            if (IsWhite(c)) {
                ++i;
                continue;
            }
            if (c == '%') {
                while (i < n && d[i] != '\n' && d[i] != '\r')
                    ++i;
                continue;
            }
            if (++m_tokens > m_maxTokens)
                return Refuse(m_maxTokens == kMaxTokens
                                  ? "Page PDF has more structure than a page of one image"
                                  : "Page PDF has more structure than pages of one image");
            bool closedDict = false;
            if (c == '(') {
                int nesting = 0;
                for (; i < n; ++i) {
                    if (d[i] == '\\') {
                        ++i;
                    } else if (d[i] == '(') {
                        ++nesting;
                    } else if (d[i] == ')' && --nesting == 0) {
                        ++i;
                        break;
                    }
                }
            } else if (c == '<' && i + 1 < n && d[i + 1] == '<') {
                ++depth;
                i += 2;
            } else if (c == '>' && i + 1 < n && d[i + 1] == '>') {
                depth = depth > 0 ? depth - 1 : 0;
                closedDict = depth == 0;
                i += 2;
            } else if (c == '<') {
                const void* end = memchr(d + i, '>', n - i);
                i = end ? size_t(static_cast<const char*>(end) - d) + 1 : n;
            } else if (c == '[' || c == '{') {
                ++depth;
                ++i;
            } else if (c == ']' || c == '}' || c == ')' || c == '>') {
                depth = depth > 0 ? depth - 1 : 0;
                ++i;
            } else {
                const size_t start = i++;
                while (i < n && !IsWhite(d[i]) && !IsDelimiter(d[i]))
                    ++i;
                const std::string word(d + start, i - start);
                if (c == '/') {
                    const std::string name = NameValue(word);
                    if (name == "/ObjStm" || name == "/XRef") {
                        compressedObjects = true;
                        objectStream = objectStream || name == "/ObjStm";
                    } else if (name == "/FlateDecode") {
                        flate = true;
                    } else if (IsFilter(name)) {
                        otherFilter = true;
                    }
                } else if (word == "stream" && afterDict && file) {
                    static const char endstream[] = "endstream";
                    const void* found = FindBytes(d + i, n - i, endstream, sizeof endstream - 1);
                    const size_t end = found ? size_t(static_cast<const char*>(found) - d) : n;
                    if (HidesObject(d, i, end))
                        return Refuse("Page PDF hides objects in stream data");
                    if (compressedObjects &&
                        !CountCompressed(d, n, i, objectStream, flate, otherFilter))
                        return false;
                    i = found ? end + sizeof endstream - 1 : n;
                } else if (word == "obj" || word == "endobj") {
                    depth = 0; // a broken object does not hide the next one
                    compressedObjects = objectStream = flate = otherFilter = false;
                }
            }
            afterDict = closedDict;
        }
        return true;
    }

private:
    bool Refuse(const wxString& text) {
        m_text = text;
        return false;
    }

    static bool IsFilter(const std::string& name) {
        static const char* const filters[] = {"/ASCIIHexDecode",
                                              "/ASCII85Decode",
                                              "/LZWDecode",
                                              "/RunLengthDecode",
                                              "/CCITTFaxDecode",
                                              "/JBIG2Decode",
                                              "/DCTDecode",
                                              "/JPXDecode",
                                              "/Crypt",
                                              "/AHx",
                                              "/A85",
                                              "/LZW",
                                              "/Fl",
                                              "/RL",
                                              "/CCF",
                                              "/DCT"};
        for (const char* f : filters)
            if (name == f)
                return true;
        return false;
    }

    // An object or cross-reference stream whose data starts after the "stream" keyword at
    // `at`: only Flate, within the limit once inflated, and the objects inside counted.
    bool CountCompressed(const char* d, size_t n, size_t at, bool objectStream, bool flate,
                         bool otherFilter) {
        if (!flate || otherFilter)
            return Refuse("Page PDF compresses its objects in a way not taken");
        if (at < n && d[at] == '\r')
            ++at;
        if (at < n && d[at] == '\n')
            ++at;
        std::string inflated;
        if (!InflateWithin(d + at, n - at, m_maxInflated, inflated))
            return Refuse("Page PDF keeps more compressed objects than a page of one image");
        return !objectStream || Count(inflated.data(), inflated.size(), false);
    }
};

bool SmallStructure(const char* data, size_t size, size_t pages,
                    const std::function<void(size_t)>& progress, wxString& text) {
    StructureCount count(pages);
    count.m_progress = progress;
    if (count.Count(data, size, true))
        return true;
    text = count.m_text;
    return false;
}

// The checks of one page: its only image, CCITT coded and painted as stored.
CcittExtraction ExtractPage(QPDFPageObjectHelper& page, CcittImage& out, wxString& error) {
    int xobjects = 0;
    page.forEachXObject(true, [&xobjects](QPDFObjectHandle&, QPDFObjectHandle&,
                                          std::string const&) { ++xobjects; });
    std::map<std::string, QPDFObjectHandle> images = page.getImages();
    if (xobjects != 1 || images.size() != 1)
        return Refuse(
            CcittExtraction::Unsuitable,
            wxString::Format("Page PDF holds %d objects to draw, not one image", xobjects), out,
            error);
    bool inlineImage = false;
    wxString text;
    if (!ReadDrawing(page, inlineImage, text))
        return Refuse(CcittExtraction::Unsuitable, text, out, error);
    if (inlineImage)
        return Refuse(CcittExtraction::Unsuitable, "Page PDF draws an image of its own", out,
                      error);

    QPDFObjectHandle image = images.begin()->second;
    QPDFObjectHandle dict = image.getDict();
    QPDFObjectHandle parms;
    if (!SingleCcittFilter(dict, parms))
        return Refuse(CcittExtraction::Unsuitable, "Page PDF image is not CCITT fax coded", out,
                      error);
    // Everything that would change how the stored bits are painted is refused, so that
    // embedding the stream with its decode parameters shows the same page.
    if (dict.getKey("/ImageMask").isBool() && dict.getKey("/ImageMask").getBoolValue())
        return Refuse(CcittExtraction::Unsuitable, "Page PDF image is a mask", out, error);
    if (dict.hasKey("/SMask") || dict.hasKey("/Mask") || dict.hasKey("/F"))
        return Refuse(CcittExtraction::Unsuitable, "Page PDF image has a mask or outside data", out,
                      error);
    QPDFObjectHandle bits = dict.getKey("/BitsPerComponent");
    QPDFObjectHandle space = dict.getKey("/ColorSpace");
    QPDFObjectHandle decode = dict.getKey("/Decode");
    const bool plainDecode =
        decode.isNull() ||
        (decode.isArray() && decode.getArrayNItems() == 2 && decode.getArrayItem(0).isNumber() &&
         decode.getArrayItem(1).isNumber() && decode.getArrayItem(0).getNumericValue() == 0 &&
         decode.getArrayItem(1).getNumericValue() == 1);
    if (!bits.isInteger() || bits.getIntValue() != 1 ||
        !(space.isNull() || space.isNameAndEquals("/DeviceGray")) || !plainDecode)
        return Refuse(CcittExtraction::Unsuitable, "Page PDF image is not plain black and white",
                      out, error);

    long long width = 0, height = 0, columns = 1728, rows = 0, k = 0;
    if (!IntParam(dict, "/Width", 1, kMaxImageSide, width) ||
        !IntParam(dict, "/Height", 1, kMaxImageSide, height) || width == 0 || height == 0)
        return Refuse(CcittExtraction::Unsuitable, "Page PDF image has no usable size", out, error);
    if (!PageImageSizeAllowed(uint64_t(width), uint64_t(height)))
        return Refuse(
            CcittExtraction::Unsuitable,
            wxString::Format("Page PDF image too large (%lld x %lld pixels)", width, height), out,
            error);
    CcittImage found;
    if (!IntParam(parms, "/K", -1000000, 1000000, k) ||
        !IntParam(parms, "/Columns", 1, kMaxImageSide, columns) ||
        !IntParam(parms, "/Rows", 0, kMaxImageSide, rows) ||
        !BoolParam(parms, "/BlackIs1", found.blackIs1) ||
        !BoolParam(parms, "/EncodedByteAlign", found.encodedByteAlign) ||
        !BoolParam(parms, "/EndOfLine", found.endOfLine) ||
        !BoolParam(parms, "/EndOfBlock", found.endOfBlock))
        return Refuse(CcittExtraction::Unsuitable, "Page PDF image has unusable decode parameters",
                      out, error);
    if (columns != width || (rows != 0 && rows != height))
        return Refuse(CcittExtraction::Unsuitable,
                      "Page PDF image size differs from its decode parameters", out, error);
    found.k = int(k);
    found.columns = uint32_t(width);
    found.rows = uint32_t(height);

    QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
    if (!rotate.isNull()) {
        if (!rotate.isInteger() || rotate.getIntValue() % 90 != 0)
            return Refuse(CcittExtraction::Unsuitable, "Page PDF has an unusable /Rotate", out,
                          error);
        found.rotate = int(((rotate.getIntValue() % 360) + 360) % 360);
    }
    QPDFObjectHandle box = page.getMediaBox();
    if (box.isRectangle()) {
        const QPDFObjectHandle::Rectangle r = box.getArrayAsRectangle();
        found.pageWidth = r.urx - r.llx;
        found.pageHeight = r.ury - r.lly;
    }

    std::shared_ptr<Buffer> raw = image.getRawStreamData();
    if (!raw || raw->getSize() == 0)
        return Refuse(CcittExtraction::Unsuitable, "Page PDF image is empty", out, error);
    found.data.assign(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
    out = std::move(found);
    error.clear();
    return CcittExtraction::Ok;
}

// What the first reading of a PDF says: its size, its header and its structure within the
// limits for `pages` pages; Ok when qpdf may read it.
CcittExtraction PreCheck(const char* data, size_t size, size_t maxBytes, size_t pages,
                         const std::function<void(size_t)>& progress, wxString& text) {
    if (size > maxBytes) {
        text = wxString::Format("Page PDF is larger than %zu MB", maxBytes >> 20);
        return CcittExtraction::Unsuitable;
    }
    // Without a header within its first kilobyte, qpdf would not take it for a PDF either.
    if (!FindBytes(data, std::min<size_t>(size, 1024 + 5), "%PDF-", 5)) {
        text = "Page PDF cannot be read: no PDF header";
        return CcittExtraction::Unreadable;
    }
    if (!SmallStructure(data, size, pages, progress, text))
        return CcittExtraction::Unsuitable;
    return CcittExtraction::Ok;
}

} // namespace

struct CcittPdfPages::Impl {
    QPDF qpdf;
    std::vector<QPDFPageObjectHelper> pages;
};

CcittPdfPages::CcittPdfPages() {}
CcittPdfPages::~CcittPdfPages() {}

CcittExtraction CcittPdfPages::Open(const std::string& pdf, int maxPages, wxString& error) {
    return Open(pdf.data(), pdf.size(), maxPages, error);
}

CcittExtraction CcittPdfPages::Open(const char* data, size_t size, int maxPages, wxString& error) {
    m_impl.reset();
    if (maxPages < 1 || maxPages > kMaxPdfPages) {
        error = "Page PDF: no page count to expect";
        return CcittExtraction::Unsuitable;
    }
    wxString text;
    const CcittExtraction first =
        PreCheck(data, size, std::max(kMaxPagePdfBytes, size_t(maxPages) * kMaxPagePdfBytesEach),
                 size_t(maxPages), m_progress, text);
    if (first != CcittExtraction::Ok) {
        error = text;
        return first;
    }
    // libqpdf reports what it cannot read by exceptions; none leaves this class.
    try {
        std::unique_ptr<Impl> impl(new Impl);
        impl->qpdf.setSuppressWarnings(true);
        // Hostile bytes: no reconstruction of a broken file, which can take long on garbage.
        impl->qpdf.setAttemptRecovery(false);
        // The bytes are read where they are, not copied.
        impl->qpdf.processMemoryFile("PDF", data, size);
        impl->pages = QPDFPageDocumentHelper(impl->qpdf).getAllPages();
        if (impl->qpdf.anyWarnings()) {
            error = "Page PDF is damaged";
            return CcittExtraction::Unreadable;
        }
        if (impl->pages.empty() || impl->pages.size() > size_t(maxPages)) {
            error = maxPages == 1 ? wxString::Format("Page PDF has %d pages, not one",
                                                     int(impl->pages.size()))
                                  : wxString::Format("Page PDF has %d pages, not up to %d",
                                                     int(impl->pages.size()), maxPages);
            return CcittExtraction::Unsuitable;
        }
        m_impl = std::move(impl);
        error.clear();
        return CcittExtraction::Ok;
    } catch (std::exception& e) {
        error = "Page PDF cannot be read: " + wxString::FromUTF8(e.what());
    } catch (...) {
        error = "Page PDF cannot be read";
    }
    return CcittExtraction::Unreadable;
}

int CcittPdfPages::PageCount() const {
    return m_impl ? int(m_impl->pages.size()) : 0;
}

CcittExtraction CcittPdfPages::Page(int index, CcittImage& out, wxString& error) {
    if (!m_impl || index < 0 || index >= PageCount())
        return Refuse(CcittExtraction::Unsuitable, "Page PDF has no such page", out, error);
    try {
        const CcittExtraction result = ExtractPage(m_impl->pages[size_t(index)], out, error);
        // What qpdf read past with a warning (an object it could not parse, a wrong stream
        // length) may be what the verdict rests on: such a file is not used as it is.
        if (m_impl->qpdf.anyWarnings())
            return Refuse(CcittExtraction::Unreadable, "Page PDF is damaged", out, error);
        return result;
    } catch (std::exception& e) {
        return Refuse(CcittExtraction::Unreadable,
                      "Page PDF cannot be read: " + wxString::FromUTF8(e.what()), out, error);
    } catch (...) {
        return Refuse(CcittExtraction::Unreadable, "Page PDF cannot be read", out, error);
    }
}

CcittExtraction ExtractCcittImage(const std::string& pdf, CcittImage& out, wxString& error) {
    wxString text;
    CcittPdfPages pages;
    const CcittExtraction opened = pages.Open(pdf, 1, text);
    if (opened != CcittExtraction::Ok)
        return Refuse(opened, text, out, error);
    return pages.Page(0, out, error);
}

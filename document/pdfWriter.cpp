#include "pdfWriter.h"

#include "files.h"
#include "pdfPageImage.h"
#include "process.h"
#include "tiffReader.h"

#include <wx/filename.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

// A file output stream with its own buffer. It counts the bytes it has taken, so its
// position is exact without a system call, and it can cut the file back to an earlier
// position, which lets a page that failed half-written be offered again.
class pdfFileStream : public wxOutputStream {
public:
    explicit pdfFileStream(int fd) : m_fd(fd), m_used(0), m_pos(0), m_startedTo(0) {
        m_buffer.resize(1 << 16);
    }
    ~pdfFileStream() override { Close(); }

    // Writes out the buffer; false (and the stream stays bad) when the system refused.
    bool Push() {
        if (!IsOk() || m_fd < 0)
            return false;
        if (!WriteAll(m_buffer.data(), m_used)) {
            m_used = 0;
            return false;
        }
        m_used = 0;
        return true;
    }

    // Asks the system to start writing the file to the disk, without waiting, once a few
    // megabytes have gathered: the flush before the rename then has little left to do.
    void StartWriteBack() {
        if (m_fd >= 0 && IsOk() && m_pos - m_startedTo >= kWriteBackStep) {
            platform::StartWriteBack(m_fd, m_startedTo, m_pos - m_startedTo);
            m_startedTo = m_pos;
        }
    }

    // Forgets everything after `pos` and makes the stream good again.
    bool CutBack(wxFileOffset pos) {
        m_used = 0;
        if (m_fd < 0 || !platform::CutFile(m_fd, pos))
            return false;
        m_pos = pos;
        m_startedTo = std::min(m_startedTo, pos);
        Reset();
        return true;
    }

    // Flushes the buffer and the system's cache to the disk, then closes.
    bool Commit() {
        bool ok = Push() && platform::SyncFile(m_fd);
        return Close() && ok;
    }

    bool Close() override {
        if (m_fd < 0)
            return true;
        bool ok = ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

protected:
    size_t OnSysWrite(const void* data, size_t size) override {
        if (!IsOk() || m_fd < 0) {
            m_lasterror = wxSTREAM_WRITE_ERROR;
            return 0;
        }
        // Image data goes to the file straight from the reader's memory; only the small
        // pieces of PDF syntax are gathered in the buffer.
        if (size >= kDirect || m_used + size > m_buffer.size()) {
            if (!Push())
                return 0;
            if (size >= kDirect) {
                if (!WriteAll(static_cast<const char*>(data), size))
                    return 0;
                m_pos += wxFileOffset(size);
                return size;
            }
        }
        memcpy(m_buffer.data() + m_used, data, size);
        m_used += size;
        m_pos += size;
        return size;
    }

    wxFileOffset OnSysTell() const override { return m_pos; }

public:
    // The system's reason for the last refused write, 0 when none was refused.
    int LastErrno() const { return m_errno; }

private:
    int m_errno = 0;

private:
    static const size_t kDirect = 8192;
    static const wxFileOffset kWriteBackStep = 4 << 20;

    bool WriteAll(const char* data, size_t size) {
        while (size > 0) {
            ssize_t n = ::write(m_fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_errno = n < 0 ? errno : ENOSPC;
                m_lasterror = wxSTREAM_WRITE_ERROR;
                return false;
            }
            data += n;
            size -= size_t(n);
        }
        return true;
    }

    int m_fd;
    std::vector<char> m_buffer;
    size_t m_used;
    wxFileOffset m_pos;
    wxFileOffset m_startedTo; // end of what StartWriteBack handed to the system
};

namespace {

std::atomic<unsigned> g_tempCounter{0};

// A PDF text string: a literal with "\", "(" and ")" escaped, or UTF-16BE in hex when the
// text is not plain ASCII.
wxString PdfString(const wxString& text) {
    bool ascii = true;
    for (wxUniChar c : text)
        if (c.GetValue() < 32 || c.GetValue() > 126)
            ascii = false;
    wxString out;
    if (ascii) {
        out = "(";
        for (wxUniChar c : text) {
            if (c == '\\' || c == '(' || c == ')')
                out += '\\';
            out += c;
        }
        return out + ")";
    }
    out = "<FEFF";
    std::wstring wide = text.ToStdWstring();
    for (wchar_t w : wide) {
        unsigned long cp = static_cast<unsigned long>(w);
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            out += wxString::Format("%04lX%04lX", 0xD800 + (cp >> 10), 0xDC00 + (cp & 0x3FF));
        } else {
            out += wxString::Format("%04lX", cp);
        }
    }
    return out + ">";
}

// Fits an image of w x h pixels into a 612 x 792 point page, keeping its aspect ratio:
// how every page was sized before pages came with a trustworthy resolution.
void LetterFit(uint64_t w, uint64_t h, unsigned long& pageWidth, unsigned long& pageHeight) {
    uint64_t pw = 612, ph = 792;
    if (h * 612 > w * 792)
        pw = w * 792 / h;
    else
        ph = h * 612 / w;
    pageWidth = (unsigned long)std::max<uint64_t>(pw, 1);
    pageHeight = (unsigned long)std::max<uint64_t>(ph, 1);
}

// The smallest and largest page side readers take, in points.
bool UsableSide(double points) {
    return points >= 3 && points <= 14400;
}

// Page size of a TIFF page in points.
//
// Only big-endian pages are sized by their resolution. The pages of every source this writer
// served before are little-endian, and their PDFs have always fitted the image into a letter
// page whatever resolution the file states; those files must stay exactly as they were, and
// nothing tells whether those sources' resolution tags are right. Big-endian pages were
// refused until the OPS service, which serves them with their true, not square resolution
// (A4 at about 313.5 x 300 dpi): sizing them by it changes no PDF this writer made before
// and gives them their real size. A big-endian page without a usable resolution is fitted
// as before; with ResolutionUnit none, the resolutions give only the pixels' shape.
void TiffPageSize(const tiffReader& tiff, unsigned long& pageWidth, unsigned long& pageHeight) {
    double xDpi = 0, yDpi = 0;
    if (tiff.m_bigEndian && tiff.DotsPerInch(xDpi, yDpi)) {
        const double w = tiff.m_width * 72.0 / xDpi, h = tiff.m_height * 72.0 / yDpi;
        if (UsableSide(w) && UsableSide(h)) {
            pageWidth = (unsigned long)std::lround(w);
            pageHeight = (unsigned long)std::lround(h);
            return;
        }
    }
    if (tiff.m_bigEndian && tiff.m_resolutionUnit == 1 && tiff.m_xResolution > 0 &&
        tiff.m_yResolution > 0) {
        const double w = tiff.m_width / tiff.m_xResolution, h = tiff.m_height / tiff.m_yResolution;
        double pw = 612, ph = 792;
        if (h * 612 > w * 792)
            pw = w * 792 / h;
        else
            ph = h * 612 / w;
        pageWidth = (unsigned long)std::max(1.0, std::round(pw));
        pageHeight = (unsigned long)std::max(1.0, std::round(ph));
        return;
    }
    LetterFit(tiff.m_width, tiff.m_height, pageWidth, pageHeight);
}

// The bookmark title of a section as the service names it; unknown names are shown
// capitalised with spaces, empty ones not at all.
wxString SectionTitle(const wxString& name) {
    static const char* const known[][2] = {
        {"BIBLIOGRAPHY", "Bibliography"}, {"ABSTRACT", "Abstract"},
        {"DESCRIPTION", "Description"},   {"CLAIMS", "Claims"},
        {"DRAWINGS", "Drawings"},         {"SEARCH_REPORT", "Search report"},
        {"AMENDMENT", "Amendment"},
    };
    wxString upper = name;
    upper.Trim(true).Trim(false);
    upper.MakeUpper();
    for (const auto& k : known)
        if (upper == k[0])
            return k[1];
    wxString title = upper;
    title.Replace("_", " ");
    title.Trim(true).Trim(false);
    if (title.empty())
        return title;
    return title.Left(1) + title.Mid(1).Lower();
}

// Rank of a title among the known sections, for sections that start on the same page.
int SectionRank(const wxString& title) {
    static const char* const order[] = {"Bibliography", "Abstract",      "Description", "Claims",
                                        "Drawings",     "Search report", "Amendment"};
    for (int i = 0; i < 7; ++i)
        if (title == order[i])
            return i;
    return 7;
}

// Whether a page can be embedded unchanged. False with the reason otherwise; `final` when
// the same bytes can never be (so the document ends), not when the answer may have been
// cut off or garbled on its way and can come whole next time.
bool CheckTiff(tiffReader& tiff, wxString& reason, bool& final) {
    final = true;
    if (!tiff.m_ok) {
        reason = tiff.GetError();
        // An impossible directory comes back the same; the rest may be a damaged answer.
        final = tiff.m_malformed;
        return false;
    }
    if (tiff.m_photometric != 0) {
        reason = "Colorspace unsupported!";
        return false;
    }
    // Uncompressed mode embeds raw bits inside the coding, which PDF readers do not take.
    const bool uncompressedMode = (tiff.m_compression == 3 && (tiff.m_t4Options & 2)) ||
                                  (tiff.m_compression == 4 && (tiff.m_t6Options & 2));
    if ((tiff.m_compression != 3 && tiff.m_compression != 4) || uncompressedMode) {
        reason = "Compression unsupported!";
        return false;
    }
    if (tiff.m_bitsPerSample != 1) {
        reason = "Bits per sample unsupported!";
        return false;
    }
    if (tiff.m_width == 0 || tiff.m_height == 0) {
        reason = "Image width or height is 0!";
        return false;
    }
    if (!PageImageSizeAllowed(tiff.m_width, tiff.m_height)) {
        reason = wxString::Format("Image too large (%u x %u pixels)!", unsigned(tiff.m_width),
                                  unsigned(tiff.m_height));
        return false;
    }
    // Each strip is coded on its own, so several strips cannot be joined into one stream.
    if (tiff.m_stripOffsets.empty() || tiff.m_stripByteCounts.empty() ||
        tiff.m_stripByteCounts[0] == 0) {
        reason = "Image has no strip!";
        return false;
    }
    if (tiff.m_stripOffsets.size() != 1 || tiff.m_stripByteCounts.size() != 1) {
        reason = "Several strips unsupported!";
        return false;
    }
    // A strip past the end of the data is a cut-off download: refuse the page before
    // anything of it is written, so that it can be fetched again.
    if (!tiff.StripsInData()) {
        reason = tiff.GetError();
        final = false;
        return false;
    }
    final = false;
    return true;
}

// Removes the hidden partial files that writers of processes no longer running left beside
// path (".NAME.PID.N.part"): such a process was killed mid-way and cannot finish them.
void RemoveAbandonedParts(const wxFileName& name) {
    const wxString folder = name.GetPath().empty() ? wxString(".") : name.GetPath();
    const std::string prefix = "." + std::string(name.GetFullName().utf8_str()) + ".";
    for (const wxString& entry : platform::FolderEntries(folder)) {
        const std::string file(entry.utf8_str());
        if (file.size() <= prefix.size() + 5 || file.compare(0, prefix.size(), prefix) != 0 ||
            file.compare(file.size() - 5, 5, ".part") != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(file.c_str() + prefix.size(), &end, 10);
        if (pid <= 0 || !end || *end != '.' || pid == platform::CurrentProcessId())
            continue;
        if (platform::ProcessGone(pid))
            platform::RemoveFile(folder + wxFileName::GetPathSeparator() + entry);
    }
}

} // namespace

bool pdfWriter::CheckTiffPage(wxInputStream& in, wxString& reason, bool& final) {
    tiffReader tiff(in);
    return CheckTiff(tiff, reason, final);
}

pdfWriter::pdfWriter(wxString path, int pageCount)
    : m_ok(true), m_file(nullptr), m_imageNumber(1), m_pagesWritten(0), m_pageCount(pageCount),
      m_path(path) {
    Begin(path, pageCount, nullptr);
}

pdfWriter::pdfWriter(wxString path, int pageCount, const PdfDocumentInfo& info)
    : m_ok(true), m_file(nullptr), m_imageNumber(1), m_pagesWritten(0), m_pageCount(pageCount),
      m_path(path) {
    Begin(path, pageCount, &info);
}

void pdfWriter::Begin(const wxString& path, int pageCount, const PdfDocumentInfo* info) {
    if (pageCount <= 0)
        return;
    if (info) {
        for (const PdfSection& section : info->sections) {
            const wxString title = SectionTitle(section.name);
            if (!title.empty() && section.startPage >= 1 && section.startPage <= pageCount &&
                std::find(m_outline.begin(), m_outline.end(),
                          std::make_pair(title, section.startPage)) == m_outline.end())
                m_outline.emplace_back(title, section.startPage);
        }
        std::stable_sort(m_outline.begin(), m_outline.end(),
                         [](const std::pair<wxString, int>& a, const std::pair<wxString, int>& b) {
                             if (a.second != b.second)
                                 return a.second < b.second;
                             return SectionRank(a.first) < SectionRank(b.first);
                         });
    }

    wxFileName name(path);
    RemoveAbandonedParts(name);
    wxString title = name.GetFullName();
    title.Replace(".pdf", "", true);

    // The temporary name is unique to this writer: two jobs for the same number in one
    // process differ by the counter, jobs of two processes by the process id.
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        wxFileName temp(name);
        temp.SetFullName(wxString::Format(".%s.%ld.%u.part", name.GetFullName(),
                                          platform::CurrentProcessId(),
                                          g_tempCounter.fetch_add(1)));
        m_tempPath = temp.GetFullPath();
        fd = platform::CreateNewFile(m_tempPath);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        m_tempPath.clear();
        m_ok = false;
        m_message = "Creating PDF";
        return;
    }
    m_file = new pdfFileStream(fd);

    Text("%PDF-1.1 \n");
    static const char binaryMarker[] = {'%', '\xE2', '\xE3', '\xCF', '\xD3', '\r', '\n'};
    m_file->Write(binaryMarker, sizeof binaryMarker);
    if (!Check("Writing PDF Header"))
        return;

    BeginObject();
    Text("1 0 obj\n<< \n/Type /Catalog\n");
    Text("/Pages 3 0 R\n");
    if (!m_outline.empty()) {
        // The outline's objects follow the last page's, so their numbers are known now.
        Text(wxString::Format("/Outlines %d 0 R\n", 4 * pageCount + 4));
        Text("/PageMode /UseOutlines\n");
    }
    Text(">>\nendobj\n");
    if (!Check("Writing PDF Catalog"))
        return;

    BeginObject();
    Text("2 0 obj\n<< \n");
    Text("/Producer (Quorvane)\n");
    Text("/Title " + PdfString(title) + "\n");
    if (info && !info->subject.empty())
        Text("/Subject " + PdfString(info->subject) + "\n");
    Text(">>\nendobj\n");
    if (!Check("Writing PDF Info"))
        return;

    BeginObject();
    Text("3 0 obj\n<< \n");
    Text("/Type /Pages\n");
    wxString kids = "/Kids [";
    for (int k = 1; k <= pageCount; ++k)
        kids += wxString::Format(" %d 0 R", 4 * k);
    Text(kids + "]\n");
    Text(wxString::Format("/Count %d\n", pageCount));
    Text(">>\nendobj\n");
    Check("Writing PDF Page Tree");
}

pdfWriter::~pdfWriter() {
    Finish();
}

void pdfWriter::Text(const wxString& text) {
    std::string bytes;
    bytes.reserve(text.length() + 16);
    for (char c : std::string(text.utf8_str())) {
        if (c == '\n')
            bytes += '\r';
        bytes += c;
    }
    m_file->Write(bytes.data(), bytes.size());
}

bool pdfWriter::Check(const wxString& message) {
    if (m_file->Push())
        return true;
    m_ok = false;
    m_message = WriteFailure(message);
    return false;
}

// A write refused for want of space says so: the user can free some and try again.
wxString pdfWriter::WriteFailure(const wxString& message) const {
    const int err = m_file ? m_file->LastErrno() : 0;
    return platform::IsDiskFull(err) ? message + " (Disk Full)" : message;
}

void pdfWriter::BeginObject() {
    m_offsets.push_back(uint64_t(m_file->TellO()));
}

// A page whose writing failed before its end is cut off again, so that the same page
// can be offered once more and the file stays consistent.
bool pdfWriter::FailPage(const wxString& message, size_t pageStart, wxFileOffset filePos) {
    m_message = WriteFailure(message);
    m_offsets.resize(pageStart);
    if (!m_file->CutBack(filePos))
        m_ok = false;
    return false;
}

bool pdfWriter::AddPage(wxInputStream& in) {
    if (!m_ok || !m_file)
        return false;

    tiffReader tiff(in);
    bool final = false;
    if (!CheckTiff(tiff, m_message, final)) {
        // The reason reaches the user through the job's status only: a log message from a
        // worker thread would open a box on the window for every attempt.
        if (final)
            m_ok = false;
        return false;
    }
    if (m_pagesWritten >= m_pageCount) {
        m_message = "Too many pages!";
        m_ok = false;
        return false;
    }

    unsigned long pw = 0, ph = 0;
    TiffPageSize(tiff, pw, ph);
    wxString parms;
    if (tiff.m_compression == 4) {
        parms = wxString::Format("/K -1 /Columns %u /Rows %u", tiff.m_width, tiff.m_height);
    } else {
        // Two-dimensional Group 3 marks each line's coding with a tag bit after its EOL;
        // K > 0 tells the reader to look for it. TIFF Group 3 lines start with an EOL, and
        // with T4Options bit 2 the fill bits before each EOL make it end on a byte boundary.
        const bool twoD = (tiff.m_t4Options & 1) != 0;
        parms = wxString::Format("/K %d /Columns %u /Rows %u", twoD ? 4 : 0, tiff.m_width,
                                 tiff.m_height);
        if (tiff.StartsWithEol())
            parms += " /EndOfLine true";
        if (tiff.m_t4Options & 4)
            parms += " /EncodedByteAlign true";
    }
    return WritePage(pw, ph, 0, tiff.m_width, tiff.m_height, parms, [&tiff](wxOutputStream& out) {
        tiff.WriteStrips(out);
        return tiff.m_ok;
    });
}

bool pdfWriter::AddCcittPage(const CcittImage& image) {
    if (!m_ok || !m_file)
        return false;
    if (image.columns == 0 || image.rows == 0 || image.data.empty() || image.rotate % 90 != 0 ||
        !PageImageSizeAllowed(image.columns, image.rows)) {
        m_message = "Page image unusable!";
        m_ok = false;
        return false;
    }
    if (m_pagesWritten >= m_pageCount) {
        m_message = "Too many pages!";
        m_ok = false;
        return false;
    }
    // The page keeps the size it was served with; without a usable one it is fitted as a
    // TIFF page without resolution is.
    unsigned long pw = 0, ph = 0;
    if (UsableSide(image.pageWidth) && UsableSide(image.pageHeight)) {
        pw = (unsigned long)std::lround(image.pageWidth);
        ph = (unsigned long)std::lround(image.pageHeight);
    } else {
        LetterFit(image.columns, image.rows, pw, ph);
    }
    wxString parms =
        wxString::Format("/K %d /Columns %u /Rows %u", image.k, image.columns, image.rows);
    if (image.endOfLine)
        parms += " /EndOfLine true";
    if (image.encodedByteAlign)
        parms += " /EncodedByteAlign true";
    if (!image.endOfBlock)
        parms += " /EndOfBlock false";
    if (image.blackIs1)
        parms += " /BlackIs1 true";
    const int rotate = ((image.rotate % 360) + 360) % 360;
    return WritePage(pw, ph, rotate, image.columns, image.rows, parms,
                     [&image](wxOutputStream& out) {
                         out.Write(image.data.data(), image.data.size());
                         return out.IsOk();
                     });
}

bool pdfWriter::AddPdfPage(wxInputStream& in) {
    if (!m_ok || !m_file)
        return false;
    // Read with a ceiling: one byte more than allowed is enough to refuse the answer.
    std::string pdf;
    char buffer[65536];
    while (pdf.size() <= kMaxPagePdfBytes) {
        in.Read(buffer, sizeof buffer);
        const size_t got = in.LastRead();
        pdf.append(buffer, got);
        if (got == 0 || in.Eof())
            break;
        if (in.GetLastError() == wxSTREAM_READ_ERROR) {
            m_message = " reading page PDF into memory!";
            return false;
        }
    }
    CcittImage image;
    wxString error;
    const CcittExtraction result = ExtractCcittImage(pdf, image, error);
    if (result != CcittExtraction::Ok) {
        m_message = error;
        if (result == CcittExtraction::Unsuitable)
            m_ok = false;
        return false;
    }
    return AddCcittPage(image);
}

bool pdfWriter::WritePage(unsigned long pw, unsigned long ph, int rotate, uint32_t width,
                          uint32_t height, const wxString& decodeParms,
                          const std::function<bool(wxOutputStream&)>& writeData) {
    const size_t pageStart = m_offsets.size();
    const wxFileOffset filePos = m_file->TellO();

    BeginObject();
    const int p = int(m_offsets.size());
    Text(wxString::Format("%d 0 obj\n<< \n", p));
    Text("/Type /Page\n");
    Text("/Parent 3 0 R \n");
    Text(wxString::Format("/MediaBox [0.0000 0.0000 %lu %lu]\n", pw, ph));
    if (rotate != 0)
        Text(wxString::Format("/Rotate %d\n", rotate));
    Text(wxString::Format("/Contents %d 0 R \n", p + 1));
    Text("/Resources << \n");
    Text("/XObject << \n");
    Text(wxString::Format("/Im%d %d 0 R >>\n", m_imageNumber, p + 2));
    Text("/ProcSet [ /ImageB ]\n");
    Text(">>\n");
    Text(">>\nendobj\n");
    if (!m_file->Push())
        return FailPage("Writing PDF Page Mediabox", pageStart, filePos);

    BeginObject();
    const wxString content = wxString::Format(
        "q  %lu.0000 0.0000 0.0000 %lu.0000 0.0000 0.0000 cm /Im%d Do Q", pw, ph, m_imageNumber);
    Text(wxString::Format("%d 0 obj\n<< \n", p + 1));
    Text(wxString::Format("/Length %d \n", int(content.length())));
    Text(">>\n");
    Text("stream\n" + content);
    Text("\nendstream\n");
    Text("endobj\n");
    if (!m_file->Push())
        return FailPage("Writing PDF Page Dictionary", pageStart, filePos);

    BeginObject();
    Text(wxString::Format("%d 0 obj\n<< \n", p + 2));
    Text(wxString::Format("/Length %d 0 R\n", p + 3));
    Text("/Type /XObject\n/Subtype /Image\n");
    Text(wxString::Format("/Name /Im%d\n", m_imageNumber));
    Text(wxString::Format("/Width %u\n/Height %u\n", width, height));
    Text("/BitsPerComponent 1\n");
    Text("/ColorSpace /DeviceGray\n");
    Text("/Filter /CCITTFaxDecode /DecodeParms << " + decodeParms);
    Text(" >>\n");
    Text(" >>\n");
    Text("stream\n");
    if (!m_file->Push())
        return FailPage("Writing PDF Page Stream Header", pageStart, filePos);

    const wxFileOffset dataStart = m_file->TellO();
    const bool copied = writeData(*m_file);
    const wxFileOffset dataLength = m_file->TellO() - dataStart;
    if (!copied || !m_file->Push())
        return FailPage("Writing PDF Page Stream", pageStart, filePos);

    Text("\nendstream\n");
    Text("endobj\n");
    if (!Check("Writing PDF Page Ending"))
        return false;

    BeginObject();
    Text(wxString::Format("%d 0 obj\n", p + 3));
    Text(wxString::Format("%lld\n", (long long)dataLength));
    Text("endobj\n");
    if (!Check("Writing PDF Page Stream Length"))
        return false;

    m_file->StartWriteBack();
    ++m_imageNumber;
    ++m_pagesWritten;
    return true;
}

// One item per section under the outline root, linked in page order; each opens its page.
void pdfWriter::WriteOutline() {
    const int root = int(m_offsets.size()) + 1;
    const int count = int(m_outline.size());
    BeginObject();
    Text(wxString::Format("%d 0 obj\n<< \n/Type /Outlines\n", root));
    Text(wxString::Format("/First %d 0 R\n/Last %d 0 R\n/Count %d\n", root + 1, root + count,
                          count));
    Text(">>\nendobj\n");
    for (int i = 0; i < count; ++i) {
        const int n = root + 1 + i;
        BeginObject();
        Text(wxString::Format("%d 0 obj\n<< \n", n));
        Text("/Title " + PdfString(m_outline[size_t(i)].first) + "\n");
        Text(wxString::Format("/Parent %d 0 R\n", root));
        if (i > 0)
            Text(wxString::Format("/Prev %d 0 R\n", n - 1));
        if (i + 1 < count)
            Text(wxString::Format("/Next %d 0 R\n", n + 1));
        Text(wxString::Format("/Dest [%d 0 R /Fit]\n", 4 * m_outline[size_t(i)].second));
        Text(">>\nendobj\n");
    }
}

bool pdfWriter::Close() {
    if (!m_file) {
        if (m_message.empty())
            m_message = "Creating PDF";
        return false;
    }
    if (!m_ok || m_pagesWritten != m_pageCount) {
        if (m_message.empty())
            m_message =
                wxString::Format("Incomplete PDF (%d of %d pages)", m_pagesWritten, m_pageCount);
        Finish();
        return false;
    }
    return Finish();
}

bool pdfWriter::Finish() {
    if (!m_file) {
        // Nothing was created (page count 0, or the temporary file could not be opened).
        return false;
    }
    bool complete = m_file->IsOk() && m_ok && m_pagesWritten == m_pageCount;
    const bool wanted = complete;
    if (complete) {
        if (!m_outline.empty())
            WriteOutline();
        const wxFileOffset xref = m_file->TellO();
        Text(wxString::Format("xref\n0 %d\n", int(m_offsets.size()) + 1));
        Text("0000000000 65535 f\n");
        char entry[32];
        for (uint64_t offset : m_offsets) {
            snprintf(entry, sizeof entry, "%010llu 00000 n\r\n", (unsigned long long)offset);
            m_file->Write(entry, strlen(entry));
        }
        Text("trailer\n<< \n");
        Text(wxString::Format("/Size %d\n", int(m_offsets.size()) + 1));
        Text("/Root 1 0 R\n");
        Text("/Info 2 0 R\n");
        Text(">>\n");
        Text(wxString::Format("startxref\n%lld\n", (long long)xref));
        Text("%%EOF");
        // Only a file that reached the disk whole may take the final name.
        if (!m_file->Commit()) {
            complete = false;
            m_message = "Writing PDF to disk";
        } else if (!platform::RenameOver(m_tempPath, m_path)) {
            // A folder under the final name, or the download folder removed meanwhile.
            complete = false;
            m_message =
                wxString::Format("Renaming PDF to %s: %s", m_path, wxString(strerror(errno)));
        }
    }
    delete m_file;
    m_file = nullptr;
    if (!complete) {
        platform::RemoveFile(m_tempPath);
        if (wanted)
            m_ok = false;
    }
    return complete;
}

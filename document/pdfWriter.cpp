#include "pdfWriter.h"

#include "tiffReader.h"

#include <wx/filename.h>
#include <wx/log.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
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
            sync_file_range(m_fd, m_startedTo, m_pos - m_startedTo, SYNC_FILE_RANGE_WRITE);
            m_startedTo = m_pos;
        }
    }

    // Forgets everything after `pos` and makes the stream good again.
    bool CutBack(wxFileOffset pos) {
        m_used = 0;
        if (m_fd < 0 || ftruncate(m_fd, pos) != 0 || lseek(m_fd, pos, SEEK_SET) != pos)
            return false;
        m_pos = pos;
        m_startedTo = std::min(m_startedTo, pos);
        Reset();
        return true;
    }

    // Flushes the buffer and the system's cache to the disk, then closes.
    bool Commit() {
        bool ok = Push() && fsync(m_fd) == 0;
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

private:
    static const size_t kDirect = 8192;
    static const wxFileOffset kWriteBackStep = 4 << 20;

    bool WriteAll(const char* data, size_t size) {
        while (size > 0) {
            ssize_t n = ::write(m_fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
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

std::string FsName(const wxString& path) {
    return std::string(static_cast<const char*>(path.fn_str()));
}

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

// Removes the hidden partial files that writers of processes no longer running left beside
// path (".NAME.PID.N.part"): such a process was killed mid-way and cannot finish them.
void RemoveAbandonedParts(const wxFileName& name) {
    const std::string folder = FsName(name.GetPath().empty() ? "." : name.GetPath());
    const std::string prefix = "." + FsName(name.GetFullName()) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string file = entry->d_name;
        if (file.size() <= prefix.size() + 5 || file.compare(0, prefix.size(), prefix) != 0 ||
            file.compare(file.size() - 5, 5, ".part") != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(file.c_str() + prefix.size(), &end, 10);
        if (pid <= 0 || !end || *end != '.' || pid == long(getpid()))
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            ::unlink((folder + "/" + file).c_str());
    }
    ::closedir(dir);
}

} // namespace

pdfWriter::pdfWriter(wxString path, int pageCount)
    : m_ok(true), m_file(nullptr), m_imageNumber(1), m_pagesWritten(0), m_pageCount(pageCount),
      m_path(path) {
    if (pageCount <= 0)
        return;

    wxFileName name(path);
    RemoveAbandonedParts(name);
    wxString title = name.GetFullName();
    title.Replace(".pdf", "", true);

    // The temporary name is unique to this writer: two jobs for the same number in one
    // process differ by the counter, jobs of two processes by the process id.
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        wxFileName temp(name);
        temp.SetFullName(wxString::Format(".%s.%ld.%u.part", name.GetFullName(), long(getpid()),
                                          g_tempCounter.fetch_add(1)));
        m_tempPath = temp.GetFullPath();
        fd = ::open(FsName(m_tempPath).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
    Text(">>\nendobj\n");
    if (!Check("Writing PDF Catalog"))
        return;

    BeginObject();
    Text("2 0 obj\n<< \n");
    Text("/Producer (Quorvane)\n");
    Text("/Title " + PdfString(title) + "\n");
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
    m_message = message;
    return false;
}

void pdfWriter::BeginObject() {
    m_offsets.push_back(uint64_t(m_file->TellO()));
}

// A page whose writing failed before its end is cut off again, so that the same page
// can be offered once more and the file stays consistent.
bool pdfWriter::FailPage(const wxString& message, size_t pageStart, wxFileOffset filePos) {
    m_message = message;
    m_offsets.resize(pageStart);
    if (!m_file->CutBack(filePos))
        m_ok = false;
    return false;
}

bool pdfWriter::AddPage(wxInputStream& in) {
    if (!m_ok || !m_file)
        return false;

    tiffReader tiff(in);
    if (!tiff.m_ok) {
        m_message = tiff.GetError();
        wxLogError("%s", "Error?" + m_message);
        return false;
    }
    if (tiff.m_photometric != 0) {
        m_message = "Colorspace unsupported!";
        m_ok = false;
        return false;
    }
    // Uncompressed mode embeds raw bits inside the coding, which PDF readers do not take.
    const bool uncompressedMode = (tiff.m_compression == 3 && (tiff.m_t4Options & 2)) ||
                                  (tiff.m_compression == 4 && (tiff.m_t6Options & 2));
    if ((tiff.m_compression != 3 && tiff.m_compression != 4) || uncompressedMode) {
        m_message = "Compression unsupported!";
        m_ok = false;
        return false;
    }
    if (tiff.m_bitsPerSample != 1) {
        m_message = "Bits per sample unsupported!";
        m_ok = false;
        return false;
    }
    if (tiff.m_width == 0 || tiff.m_height == 0) {
        m_message = "Image width or height is 0!";
        m_ok = false;
        return false;
    }
    // Each strip is coded on its own, so several strips cannot be joined into one stream.
    if (tiff.m_stripOffsets.empty() || tiff.m_stripByteCounts.empty() ||
        tiff.m_stripByteCounts[0] == 0) {
        m_message = "Image has no strip!";
        m_ok = false;
        return false;
    }
    if (tiff.m_stripOffsets.size() != 1 || tiff.m_stripByteCounts.size() != 1) {
        m_message = "Several strips unsupported!";
        m_ok = false;
        return false;
    }
    // A strip past the end of the data is a cut-off download: refuse the page before
    // anything of it is written, so that it can be fetched again.
    if (!tiff.StripsInData()) {
        m_message = tiff.GetError();
        wxLogError("%s", "Error?" + m_message);
        return false;
    }
    if (m_pagesWritten >= m_pageCount) {
        m_message = "Too many pages!";
        m_ok = false;
        return false;
    }

    // Fit the image into a 612 x 792 point page, keeping its aspect ratio.
    const uint64_t w = tiff.m_width, h = tiff.m_height;
    uint64_t pageWidth = 612, pageHeight = 792;
    if (h * 612 > w * 792)
        pageWidth = w * 792 / h;
    else
        pageHeight = h * 612 / w;
    if (pageWidth == 0)
        pageWidth = 1;
    if (pageHeight == 0)
        pageHeight = 1;
    const unsigned long pw = (unsigned long)pageWidth, ph = (unsigned long)pageHeight;

    const size_t pageStart = m_offsets.size();
    const wxFileOffset filePos = m_file->TellO();

    BeginObject();
    const int p = int(m_offsets.size());
    Text(wxString::Format("%d 0 obj\n<< \n", p));
    Text("/Type /Page\n");
    Text("/Parent 3 0 R \n");
    Text(wxString::Format("/MediaBox [0.0000 0.0000 %lu %lu]\n", pw, ph));
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
    Text(wxString::Format("/Width %u\n/Height %u\n", tiff.m_width, tiff.m_height));
    Text(wxString::Format("/BitsPerComponent %u\n", tiff.m_bitsPerSample));
    Text("/ColorSpace /DeviceGray\n");
    if (tiff.m_compression == 4) {
        Text(wxString::Format("/Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns %u /Rows %u",
                              tiff.m_width, tiff.m_height));
    } else {
        // Two-dimensional Group 3 marks each line's coding with a tag bit after its EOL;
        // K > 0 tells the reader to look for it. TIFF Group 3 lines start with an EOL, and
        // with T4Options bit 2 the fill bits before each EOL make it end on a byte boundary.
        const bool twoD = (tiff.m_t4Options & 1) != 0;
        Text(wxString::Format("/Filter /CCITTFaxDecode /DecodeParms << /K %d /Columns %u /Rows %u",
                              twoD ? 4 : 0, tiff.m_width, tiff.m_height));
        if (tiff.StartsWithEol())
            Text(" /EndOfLine true");
        if (tiff.m_t4Options & 4)
            Text(" /EncodedByteAlign true");
    }
    Text(" >>\n");
    Text(" >>\n");
    Text("stream\n");
    if (!m_file->Push())
        return FailPage("Writing PDF Page Stream Header", pageStart, filePos);

    const wxFileOffset dataStart = m_file->TellO();
    tiff.WriteStrips(*m_file);
    const wxFileOffset dataLength = m_file->TellO() - dataStart;
    if (!tiff.m_ok || !m_file->Push())
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
        } else if (::rename(FsName(m_tempPath).c_str(), FsName(m_path).c_str()) != 0) {
            // A folder under the final name, or the download folder removed meanwhile.
            complete = false;
            m_message =
                wxString::Format("Renaming PDF to %s: %s", m_path, wxString(strerror(errno)));
        }
    }
    delete m_file;
    m_file = nullptr;
    if (!complete) {
        ::unlink(FsName(m_tempPath).c_str());
        if (wanted)
            m_ok = false;
    }
    return complete;
}

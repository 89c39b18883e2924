#include "tiffReader.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <new>

namespace {

// Size in bytes of one value of any TIFF 6.0 type, 0 for an unknown type.
size_t AnyTypeSize(uint32_t type) {
    switch (type) {
    case 1: // BYTE
    case 2: // ASCII
    case 6: // SBYTE
    case 7: // UNDEFINED
        return 1;
    case 3: // SHORT
    case 8: // SSHORT
        return 2;
    case 4:  // LONG
    case 9:  // SLONG
    case 11: // FLOAT
        return 4;
    case 5:  // RATIONAL
    case 10: // SRATIONAL
    case 12: // DOUBLE
        return 8;
    default:
        return 0;
    }
}

// Size in bytes of one value of an integer TIFF type, 0 for every other type.
size_t TypeSize(uint32_t type) {
    const bool integer = type == 1 || type == 3 || type == 4 || type == 6 || type == 8 || type == 9;
    return integer ? AnyTypeSize(type) : 0;
}

struct BitReverseTable {
    unsigned char v[256];
    BitReverseTable() {
        for (int i = 0; i < 256; ++i) {
            unsigned char r = 0;
            for (int b = 0; b < 8; ++b)
                if (i & (1 << b))
                    r |= static_cast<unsigned char>(0x80 >> b);
            v[i] = r;
        }
    }
};
const BitReverseTable kReverse;

} // namespace

tiffReader::tiffReader(wxInputStream& in)
    : m_width(0), m_height(0), m_bitsPerSample(1), m_compression(0), m_photometric(0),
      m_fillOrder(1), m_t4Options(0), m_t6Options(0), m_bigEndian(false), m_xResolution(0),
      m_yResolution(0), m_resolutionUnit(2), m_ok(true), m_malformed(false), m_size(0) {
    if (!in.IsOk()) {
        Fail(" bad input stream!");
        return;
    }
    if (!ReadAll(in)) {
        Fail(" reading tiff data into memory!");
        return;
    }

    const unsigned char* d = Data();
    const size_t size = Size();
    if (size < 3) {
        Fail(" reading image!");
        return;
    }
    m_bigEndian = d[0] == 'M' && d[1] == 'M';
    if (m_bigEndian) {
        // "MM", then 42 as a big-endian short.
        if (size < 4 || d[2] != 0 || d[3] != 42) {
            Fail(
                wxString::Format("Not a tiff image? %i", size < 4 ? int(d[2]) : int(Short(d + 2))));
            return;
        }
    } else {
        if (d[2] != 42) {
            Fail(wxString::Format("Not a tiff image? %i", int(d[2])));
            return;
        }
        if (d[0] != 'I' || d[1] != 'I') {
            Fail(" unknown byte order!");
            return;
        }
    }
    if (size < 4) {
        Fail(" seeking to image idf!");
        return;
    }
    if (size < 8) {
        Fail(" reading image idf!");
        return;
    }
    const uint64_t ifd = Long(d + 4);
    if (ifd > size) {
        Fail(" seeking to number of entries of image!");
        return;
    }
    // The count and the two bytes after it are read together, as they always were.
    if (size - ifd < 4) {
        Fail(" reading number of entries in image!");
        return;
    }
    const uint32_t entries = Short(d + ifd);
    // A tag met twice makes the directory ambiguous; refusing it also keeps a directory of
    // 65535 copies of one large strip table from being read 65535 times.
    std::bitset<65536> seen;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t pos = ifd + 2 + 12 * uint64_t(i);
        if (pos > size) {
            Fail(" seeking to image ifd!");
            return;
        }
        if (size - pos < 12) {
            Fail(" reading ifd!");
            return;
        }
        const unsigned char* e = d + pos;
        const uint32_t tag = Short(e);
        const uint32_t type = Short(e + 2);
        const uint32_t count = Long(e + 4);
        const size_t field = size_t(pos + 8);
        if (seen.test(tag)) {
            m_malformed = true;
            Fail(wxString::Format(" tag %u appears twice in the image directory!", tag));
            return;
        }
        seen.set(tag);
        // Values that could not fit in the whole file are no cut-off download but a false
        // count; it would otherwise size the strip tables.
        if (uint64_t(count) * AnyTypeSize(type) > size) {
            m_malformed = true;
            Fail(wxString::Format(" tag %u has more values than the file has bytes!", tag));
            return;
        }
        uint32_t value = 0;
        switch (tag) {
        case 256:
        case 257:
        case 258:
        case 259:
        case 262:
        case 266:
        case 292:
        case 293:
            // A scalar stored as SHORT occupies only the first two bytes of the field;
            // the other two are padding that writers need not clear.
            if (count == 0 || !ReadValue(field, type, count, 0, value))
                break;
            if (tag == 256)
                m_width = value;
            else if (tag == 257)
                m_height = value;
            else if (tag == 258)
                m_bitsPerSample = value;
            else if (tag == 259)
                m_compression = value;
            else if (tag == 262)
                m_photometric = value;
            else if (tag == 266)
                m_fillOrder = value;
            else if (tag == 292)
                m_t4Options = value;
            else
                m_t6Options = value;
            break;
        case 282:
            m_xResolution = ReadNumber(field, type, count);
            break;
        case 283:
            m_yResolution = ReadNumber(field, type, count);
            break;
        case 296:
            if (count != 0 && ReadValue(field, type, count, 0, value))
                m_resolutionUnit = value;
            break;
        case 273:
        case 279:
            if (!ReadArray(field, type, count, tag == 273 ? m_stripOffsets : m_stripByteCounts)) {
                Fail(" reading strip table!");
                return;
            }
            break;
        default:
            break;
        }
    }
}

// Reads the stream to its end. Memory streams (HTTP answers) announce their length, so
// the block is usually allocated once and filled by a single read.
bool tiffReader::ReadAll(wxInputStream& in) {
    size_t capacity = 65536;
    const wxFileOffset length = in.GetLength(), at = in.TellI();
    if (length != wxInvalidOffset && at != wxInvalidOffset && length >= at)
        capacity = size_t(length - at) + 1; // the extra byte lets the end be seen at once
    m_data.reset(new (std::nothrow) unsigned char[capacity]);
    if (!m_data)
        return false;
    for (;;) {
        if (m_size == capacity) {
            const size_t bigger = capacity * 2;
            std::unique_ptr<unsigned char[]> grown(new (std::nothrow) unsigned char[bigger]);
            if (!grown)
                return false;
            memcpy(grown.get(), m_data.get(), m_size);
            m_data = std::move(grown);
            capacity = bigger;
        }
        in.Read(m_data.get() + m_size, capacity - m_size);
        const size_t got = in.LastRead();
        m_size += got;
        if (got == 0 || in.Eof())
            break;
        if (in.GetLastError() == wxSTREAM_READ_ERROR)
            return false;
    }
    return in.GetLastError() != wxSTREAM_READ_ERROR;
}

uint32_t tiffReader::Short(const unsigned char* b) const {
    if (m_bigEndian)
        return (uint32_t(b[0]) << 8) | uint32_t(b[1]);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8);
}

uint32_t tiffReader::Long(const unsigned char* b) const {
    if (m_bigEndian)
        return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) |
               uint32_t(b[3]);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

double tiffReader::ReadNumber(size_t field, uint32_t type, uint32_t count) const {
    if (count == 0)
        return 0;
    if (type == 5) {
        // A RATIONAL is two LONGs, always stored out of line.
        const uint64_t at = Long(Data() + field);
        if (at + 8 > Size())
            return 0;
        const uint32_t numerator = Long(Data() + at), denominator = Long(Data() + at + 4);
        return denominator == 0 ? 0 : double(numerator) / double(denominator);
    }
    uint32_t value = 0;
    if (type == 3 || type == 4) // some writers store a whole resolution as an integer
        if (ReadValue(field, type, count, 0, value))
            return double(value);
    return 0;
}

bool tiffReader::DotsPerInch(double& x, double& y) const {
    if (m_xResolution <= 0 || m_yResolution <= 0)
        return false;
    if (m_resolutionUnit == 2) {
        x = m_xResolution;
        y = m_yResolution;
        return true;
    }
    if (m_resolutionUnit == 3) {
        x = m_xResolution * 2.54;
        y = m_yResolution * 2.54;
        return true;
    }
    return false;
}

bool tiffReader::Fail(const wxString& text) {
    m_ok = false;
    m_error = text;
    return false;
}

bool tiffReader::ReadValue(size_t field, uint32_t type, uint32_t count, uint32_t index,
                           uint32_t& value) const {
    const size_t unit = TypeSize(type);
    if (unit == 0 || index >= count)
        return false;
    const unsigned char* d = Data();
    const size_t size = Size();
    uint64_t at;
    if (uint64_t(count) * unit <= 4)
        at = field + uint64_t(index) * unit;
    else
        at = uint64_t(Long(d + field)) + uint64_t(index) * unit;
    if (at + unit > size)
        return false;
    if (unit == 1)
        value = d[at];
    else if (unit == 2)
        value = Short(d + at);
    else
        value = Long(d + at);
    return true;
}

bool tiffReader::ReadArray(size_t field, uint32_t type, uint32_t count,
                           std::vector<uint32_t>& out) const {
    const size_t unit = TypeSize(type);
    if (unit == 0)
        return false;
    // The values must lie in the data, which also bounds the count before anything is
    // allocated for them.
    if (uint64_t(count) * unit > 4) {
        const uint64_t start = Long(Data() + field);
        if (start + uint64_t(count) * unit > Size())
            return false;
    }
    out.reserve(out.size() + count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t v = 0;
        if (!ReadValue(field, type, count, i, v))
            return false;
        out.push_back(v);
    }
    return true;
}

bool tiffReader::StripsInData() {
    if (!m_ok)
        return false;
    const size_t size = Size();
    const size_t n = std::min(m_stripOffsets.size(), m_stripByteCounts.size());
    for (size_t i = 0; i < n; ++i) {
        if (m_stripByteCounts[i] == 0 || uint64_t(m_stripOffsets[i]) + m_stripByteCounts[i] > size)
            return Fail(" strip outside image data!");
    }
    return true;
}

uint64_t tiffReader::StripBytes() const {
    uint64_t total = 0;
    for (uint32_t c : m_stripByteCounts)
        total += c;
    return total;
}

bool tiffReader::StartsWithEol() const {
    if (m_stripOffsets.empty() || m_stripByteCounts.empty())
        return false;
    const uint64_t start = m_stripOffsets[0];
    const uint64_t end = std::min<uint64_t>(start + m_stripByteCounts[0], Size());
    const unsigned char* d = Data();
    // An EOL is eleven zero bits then a one; fill bits before it are zeros as well, so
    // the first one bit must come after at least eleven zeros.
    uint32_t zeros = 0;
    for (uint64_t p = start; p < end; ++p) {
        unsigned char byte = m_fillOrder == 2 ? kReverse.v[d[p]] : d[p];
        for (int b = 7; b >= 0; --b) {
            if (byte & (1 << b))
                return zeros >= 11;
            ++zeros;
        }
    }
    return false;
}

void tiffReader::WriteStrips(wxOutputStream& out) {
    if (!m_ok)
        return;
    if (m_stripOffsets.size() != m_stripByteCounts.size()) {
        m_ok = false;
        return;
    }
    const unsigned char* d = Data();
    const size_t size = Size();
    for (size_t i = 0; i < m_stripOffsets.size(); ++i) {
        const uint64_t offset = m_stripOffsets[i];
        const uint64_t count = m_stripByteCounts[i];
        if (offset > size || size - offset < count) {
            m_ok = false;
            return;
        }
        if (m_fillOrder != 2) {
            out.Write(d + offset, size_t(count));
        } else {
            unsigned char chunk[16384];
            for (uint64_t done = 0; done < count && out.IsOk();) {
                const size_t n = size_t(std::min<uint64_t>(sizeof chunk, count - done));
                for (size_t k = 0; k < n; ++k)
                    chunk[k] = kReverse.v[d[offset + done + k]];
                out.Write(chunk, n);
                done += n;
            }
        }
        if (!out.IsOk()) {
            m_ok = false;
            return;
        }
    }
}

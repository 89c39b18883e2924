// Reads one single-page TIFF file (either byte order) held in memory: the first image's
// size, compression, resolution and strips. The strip bytes are copied out unchanged (bit
// order aside) for the PDF writer, which never decodes them.
#pragma once

#include <wx/stream.h>
#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class tiffReader {
public:
    // Reads `in` from its position to its end into memory and parses the first IFD.
    explicit tiffReader(wxInputStream& in);
    tiffReader(const tiffReader&) = delete;
    tiffReader& operator=(const tiffReader&) = delete;

    wxString GetError() const { return m_error; }

    // Checks that every strip lies inside the data and holds at least one byte. On failure
    // clears m_ok and sets the text " strip outside image data!".
    bool StripsInData();

    // Writes the strips, in order, to `out`; with fill order 2 each byte's bits are
    // reversed so that the output is most-significant-bit first. A strip outside the
    // data or a failed write clears m_ok.
    void WriteStrips(wxOutputStream& out);

    // Bytes WriteStrips writes when every strip is inside the data.
    uint64_t StripBytes() const;

    // Both resolutions in dots per inch; false when the file gives none in inches or
    // centimetres (no tag, a zero value, or ResolutionUnit none).
    bool DotsPerInch(double& x, double& y) const;

    // True when the first strip begins, after any fill zeros, with a T.4 end-of-line code.
    bool StartsWithEol() const;

    uint32_t m_width;
    uint32_t m_height;
    uint32_t m_bitsPerSample; // 1 when the tag is absent (the TIFF default)
    uint32_t m_compression;
    uint32_t m_photometric;
    uint32_t m_fillOrder; // 1 = most significant bit first (default), 2 = least first
    uint32_t m_t4Options; // tag 292: bit 0 2-D coding, bit 1 uncompressed, bit 2 fill bits
    uint32_t m_t6Options; // tag 293: bit 1 uncompressed
    bool m_bigEndian;     // "MM" byte order
    // Pixels per m_resolutionUnit along each axis (tags 282, 283); 0 when absent or unusable.
    double m_xResolution;
    double m_yResolution;
    uint32_t m_resolutionUnit; // tag 296: 1 none, 2 inch (the default), 3 centimetre
    bool m_ok;
    // Set with m_ok cleared when the directory itself is impossible (a tag twice, values
    // that could not fit in the whole file): fetching the same bytes again cannot help.
    bool m_malformed;
    wxString m_error;
    std::vector<uint32_t> m_stripOffsets;
    std::vector<uint32_t> m_stripByteCounts;

private:
    const unsigned char* Data() const { return m_data.get(); }
    size_t Size() const { return m_size; }
    bool ReadAll(wxInputStream& in);
    // Value `index` of an entry of the given type and count whose value field is at `field`;
    // false when the values lie out of line beyond the data or the type is not an integer.
    bool ReadValue(size_t field, uint32_t type, uint32_t count, uint32_t index,
                   uint32_t& value) const;
    bool ReadArray(size_t field, uint32_t type, uint32_t count, std::vector<uint32_t>& out) const;
    // The first value of a RATIONAL (or integer) entry as a number; 0 when unusable.
    double ReadNumber(size_t field, uint32_t type, uint32_t count) const;
    uint32_t Short(const unsigned char* b) const;
    uint32_t Long(const unsigned char* b) const;
    bool Fail(const wxString& text);

    // The whole file as read, in one block that is neither cleared first nor copied again.
    std::unique_ptr<unsigned char[]> m_data;
    size_t m_size;
};

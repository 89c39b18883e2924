#include "tiffReader.h"
#include "fixtures.h"

#include <gtest/gtest.h>
#include <wx/mstream.h>
#include <wx/wfstream.h>

#include <string>

namespace {

struct Parsed {
    bool ok;
    wxString error;
    uint32_t width, height, bits, compression, photometric, fillOrder, t4;
    size_t strips, counts;
    std::string written;
    bool okAfterWrite;
};

Parsed parse(const std::string& bytes) {
    wxMemoryInputStream in(bytes.data(), bytes.size());
    tiffReader r(in);
    Parsed p{r.m_ok,
             r.GetError(),
             r.m_width,
             r.m_height,
             r.m_bitsPerSample,
             r.m_compression,
             r.m_photometric,
             r.m_fillOrder,
             r.m_t4Options,
             r.m_stripOffsets.size(),
             r.m_stripByteCounts.size(),
             {},
             false};
    wxMemoryOutputStream out;
    r.WriteStrips(out);
    p.written.resize(size_t(out.GetSize()));
    out.CopyTo(&p.written[0], p.written.size());
    p.okAfterWrite = r.m_ok;
    return p;
}

std::string le16(uint32_t v) {
    return {char(v & 0xFF), char(v >> 8)};
}
std::string le32(uint32_t v) {
    return le16(v & 0xFFFF) + le16(v >> 16);
}
std::string entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    return le16(tag) + le16(type) + le32(count) + le32(value);
}

// An input stream that fails with a read error after handing out a few bytes.
class BrokenStream : public wxInputStream {
protected:
    size_t OnSysRead(void* buffer, size_t size) override {
        if (m_done) {
            m_lasterror = wxSTREAM_READ_ERROR;
            return 0;
        }
        m_done = true;
        memset(buffer, 'I', std::min<size_t>(size, 4));
        return std::min<size_t>(size, 4);
    }

private:
    bool m_done = false;
};

} // namespace

TEST(TiffReader, ReadsGroup4PageAndCopiesItsStripExactly) {
    qvfix::FixtureOptions o;
    const std::string tiff = qvfix::makeTiff(o);
    ASSERT_FALSE(tiff.empty());
    const Parsed p = parse(tiff);
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.width, 306u);
    EXPECT_EQ(p.height, 200u);
    EXPECT_EQ(p.bits, 1u);
    EXPECT_EQ(p.compression, 4u);
    EXPECT_EQ(p.photometric, 0u);
    ASSERT_EQ(p.strips, 1u);
    ASSERT_EQ(p.counts, 1u);
    EXPECT_TRUE(p.okAfterWrite);

    wxMemoryInputStream in(tiff.data(), tiff.size());
    tiffReader r(in);
    ASSERT_EQ(p.written.size(), r.m_stripByteCounts[0]);
    EXPECT_EQ(p.written, tiff.substr(r.m_stripOffsets[0], r.m_stripByteCounts[0]));
    EXPECT_TRUE(r.StripsInData());
}

TEST(TiffReader, DecodesShortValuesWithoutTheirPaddingBytes) {
    qvfix::FixtureOptions o;
    o.coding = qvfix::Coding::Group3_2D;
    std::string tiff = qvfix::makeTiff(o);
    ASSERT_GE(qvfix::fillShortPadding(tiff, 0xA5), 4);
    const Parsed p = parse(tiff);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.width, 306u); // libtiff stores these as SHORT when they fit
    EXPECT_EQ(p.height, 200u);
    EXPECT_EQ(p.bits, 1u);
    EXPECT_EQ(p.compression, 3u);
    EXPECT_EQ(p.photometric, 0u);
    EXPECT_EQ(p.t4 & 1u, 1u);
}

TEST(TiffReader, MissingTagsTakeTheirTiffDefaults) {
    std::string tiff = qvfix::makeTiff();
    ASSERT_TRUE(qvfix::renameTag(tiff, 258, 65000)); // BitsPerSample
    ASSERT_TRUE(qvfix::renameTag(tiff, 259, 65001)); // Compression
    ASSERT_TRUE(qvfix::renameTag(tiff, 266, 65002)); // FillOrder
    const Parsed p = parse(tiff);
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.bits, 1u);
    EXPECT_EQ(p.compression, 0u); // a good reader; the writer rejects it
    EXPECT_EQ(p.fillOrder, 1u);
}

TEST(TiffReader, ReversesBitsOfFillOrder2WhileCopying) {
    qvfix::FixtureOptions o;
    const std::string msb = qvfix::makeTiff(o);
    o.fillOrder = 2;
    const std::string lsb = qvfix::makeTiff(o);
    const Parsed a = parse(msb), b = parse(lsb);
    ASSERT_TRUE(a.ok && b.ok);
    EXPECT_EQ(b.fillOrder, 2u);
    EXPECT_EQ(a.written, b.written); // the same coding, stored in the other bit order
    EXPECT_FALSE(a.written.empty());
}

TEST(TiffReader, ReadsEveryStripOfAMultiStripImage) {
    qvfix::FixtureOptions o;
    o.rowsPerStrip = 25; // 8 strips, offsets stored out of line
    const Parsed p = parse(qvfix::makeTiff(o));
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.strips, 8u);
    EXPECT_EQ(p.counts, 8u);
}

TEST(TiffReader, ShortStripTablesInlineGiveOneValueEach) {
    // A hand-made IFD: two strips whose SHORT offsets and counts both fit in the entry.
    std::string t = "II*" + std::string(1, '\0') + le32(8);
    t += le16(6);
    t += entry(256, 3, 1, 16) + entry(257, 3, 1, 2) + entry(259, 3, 1, 4) + entry(262, 3, 1, 0) +
         entry(273, 3, 2, (200u << 16) | 100u) + entry(279, 3, 2, (3u << 16) | 2u);
    t += le32(0);
    t.resize(210, 'x');
    const Parsed p = parse(t);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.strips, 2u);
    EXPECT_EQ(p.written, "xxxxx");
}

TEST(TiffReader, StripPastTheEndIsRefusedBeforeCopying) {
    std::string tiff = qvfix::makeTiff();
    wxMemoryInputStream in0(tiff.data(), tiff.size());
    tiffReader good(in0);
    ASSERT_TRUE(qvfix::setTagValue(tiff, 279, uint32_t(tiff.size())));
    wxMemoryInputStream in(tiff.data(), tiff.size());
    tiffReader r(in);
    ASSERT_TRUE(r.m_ok);
    EXPECT_FALSE(r.StripsInData());
    EXPECT_EQ(r.GetError(), " strip outside image data!");
    wxMemoryOutputStream out;
    r.WriteStrips(out);
    EXPECT_EQ(out.GetSize(), 0);
}

TEST(TiffReader, DataAfterTheFileIsIgnored) {
    const std::string tiff = qvfix::makeTiff();
    const Parsed a = parse(tiff);
    const Parsed b = parse(tiff + "\r\n--MIME_boundary--\r\n");
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(a.written, b.written);
}

TEST(TiffReader, IfdEndingExactlyAtTheEndOfTheDataIsAccepted) {
    std::string t = "II*" + std::string(1, '\x07') + le32(8);
    t += le16(2) + entry(256, 4, 1, 10) + entry(257, 4, 1, 20);
    const Parsed p = parse(t);
    EXPECT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.width, 10u);
    EXPECT_EQ(p.height, 20u);
}

TEST(TiffReader, EachMalformedHeaderGetsItsText) {
    struct Case {
        std::string data;
        const char* text;
    };
    const std::string ii = "II*" + std::string(1, '\0');
    const Case cases[] = {
        {"", " reading image!"},
        {"II", " reading image!"},
        {"%PDF-1.4", "Not a tiff image? 68"},
        {"<html>", "Not a tiff image? 116"},
        {"MM" + std::string(1, '\0') + "*", "Not a tiff image? 0"},
        {"MM*" + std::string(1, '\0'), " BigEndian Image unsupported!"},
        {"II*", " seeking to image idf!"},
        {ii + "\x08", " reading image idf!"},
        {ii + le32(100), " seeking to number of entries of image!"},
        {ii + le32(8) + "\x01", " reading number of entries in image!"},
        {ii + le32(8) + le16(2) + entry(256, 3, 1, 5) + "\x01\x01", " reading ifd!"},
        {ii + le32(8) + le16(1) + entry(273, 4, 1000, 0x1000), " reading strip table!"},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.data);
        EXPECT_FALSE(p.ok) << c.text;
        EXPECT_EQ(p.error, c.text);
        EXPECT_TRUE(p.written.empty());
    }
    // A real big-endian file begins "MM", 0, 42.
    qvfix::FixtureOptions o;
    o.bigEndian = true;
    EXPECT_EQ(parse(qvfix::makeTiff(o)).error, "Not a tiff image? 0");
}

TEST(TiffReader, FailingInputStreamsAreReported) {
    wxFileInputStream missing("/nonexistent/page.tif");
    tiffReader a(missing);
    EXPECT_FALSE(a.m_ok);
    EXPECT_EQ(a.GetError(), " bad input stream!");

    BrokenStream broken;
    tiffReader b(broken);
    EXPECT_FALSE(b.m_ok);
    EXPECT_EQ(b.GetError(), " reading tiff data into memory!");
}

TEST(TiffReader, MismatchedStripTablesWriteNothing) {
    std::string tiff = qvfix::makeTiff();
    ASSERT_TRUE(qvfix::renameTag(tiff, 279, 65000));
    const Parsed p = parse(tiff);
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.strips, 1u);
    EXPECT_EQ(p.counts, 0u);
    EXPECT_TRUE(p.written.empty());
    EXPECT_FALSE(p.okAfterWrite);
}

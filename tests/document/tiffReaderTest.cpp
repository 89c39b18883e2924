#include "tiffReader.h"
#include "fixtures.h"

#include <gtest/gtest.h>
#include <wx/mstream.h>
#include <wx/wfstream.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Parsed {
    bool ok;
    bool malformed;
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
             r.m_malformed,
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
        {"MM" + std::string(1, '\0'), "Not a tiff image? 0"},
        {"MM" + std::string(1, '\0') + "*", " reading image idf!"},
        {"MM*" + std::string(1, '\0'), "Not a tiff image? 10752"}, // 42 in the wrong order
        {"XX*" + std::string(1, '\0'), " unknown byte order!"},
        {"II*", " seeking to image idf!"},
        {ii + "\x08", " reading image idf!"},
        {ii + le32(100), " seeking to number of entries of image!"},
        {ii + le32(8) + "\x01", " reading number of entries in image!"},
        {ii + le32(8) + le16(2) + entry(256, 3, 1, 5) + "\x01\x01", " reading ifd!"},
        {ii + le32(8) + le16(1) + entry(273, 4, 2, 0x1000), " reading strip table!"},
        {ii + le32(8) + le16(1) + entry(273, 4, 1000, 0x1000),
         " tag 273 has more values than the file has bytes!"},
        {ii + le32(8) + le16(2) + entry(256, 4, 1, 5) + entry(256, 4, 1, 6),
         " tag 256 appears twice in the image directory!"},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.data);
        EXPECT_FALSE(p.ok) << c.text;
        EXPECT_EQ(p.error, c.text);
        EXPECT_TRUE(p.written.empty());
        // Only an impossible directory is final; the rest may be a cut-off answer.
        EXPECT_EQ(p.malformed, std::string(c.text).rfind(" tag ", 0) == 0) << c.text;
    }
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

namespace {

// A hand-made directory in either byte order: width, height, then the entries given.
struct Ifd {
    bool big;
    std::string out;
    std::string u16(uint32_t v) const {
        return big ? std::string{char(v >> 8), char(v & 0xFF)} : le16(v);
    }
    std::string u32(uint32_t v) const { return big ? u16(v >> 16) + u16(v & 0xFFFF) : le32(v); }
    std::string entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) const {
        // A SHORT value sits in the first two bytes of the field in both orders.
        const std::string field = type == 3 && count == 1 ? u16(value) + u16(0) : u32(value);
        return u16(tag) + u16(type) + u32(count) + field;
    }
};

} // namespace

TEST(TiffReader, BigEndianFilesReadAsTheirLittleEndianTwins) {
    std::vector<qvfix::FixtureOptions> variants(5);
    variants[1].coding = qvfix::Coding::Group3_2D;
    variants[1].group3FillBits = true;
    variants[2].fillOrder = 2;
    variants[3].rowsPerStrip = 25;
    variants[4].photometric = 1;
    for (size_t i = 0; i < variants.size(); ++i) {
        qvfix::FixtureOptions o = variants[i];
        const std::string little = qvfix::makeTiff(o);
        o.bigEndian = true;
        const std::string big = qvfix::makeTiff(o);
        ASSERT_EQ(big.substr(0, 4), std::string("MM\0*", 4));
        const Parsed a = parse(little), b = parse(big);
        ASSERT_TRUE(b.ok) << i << b.error;
        EXPECT_EQ(std::tie(a.width, a.height, a.bits, a.compression, a.photometric, a.fillOrder,
                           a.t4, a.strips, a.counts),
                  std::tie(b.width, b.height, b.bits, b.compression, b.photometric, b.fillOrder,
                           b.t4, b.strips, b.counts))
            << i;
        EXPECT_FALSE(b.written.empty()) << i;
        EXPECT_EQ(a.written, b.written) << i;
    }
}

TEST(TiffReader, ReadsTheOpsPagesWithTheirResolution) {
    for (const char* name :
         {"ops/EP2400812A1-fullimage-p1.tiff", "ops/EP2400812A1-drawing-p1.tiff"}) {
        const std::string tiff = qvfix::readWholeFile(qvfix::fixturePath(name));
        ASSERT_GT(tiff.size(), 10000u) << name;
        wxMemoryInputStream in(tiff.data(), tiff.size());
        tiffReader r(in);
        ASSERT_TRUE(r.m_ok) << name << r.GetError();
        EXPECT_TRUE(r.m_bigEndian);
        EXPECT_EQ(r.m_width, 2592u);
        EXPECT_EQ(r.m_height, 3508u);
        EXPECT_EQ(r.m_compression, 4u);
        EXPECT_EQ(r.m_bitsPerSample, 1u); // no tag
        EXPECT_EQ(r.m_fillOrder, 1u);     // no tag
        EXPECT_EQ(r.m_photometric, 0u);
        EXPECT_EQ(r.m_resolutionUnit, 3u);
        EXPECT_NEAR(r.m_xResolution, 123.429, 0.001);
        EXPECT_NEAR(r.m_yResolution, 118.114, 0.001);
        double x = 0, y = 0;
        ASSERT_TRUE(r.DotsPerInch(x, y));
        EXPECT_NEAR(x, 313.5, 0.1);
        EXPECT_NEAR(y, 300.0, 0.1);
        ASSERT_EQ(r.m_stripOffsets.size(), 1u);
        EXPECT_TRUE(r.StripsInData());
        EXPECT_EQ(r.StripBytes(), qvfix::rawStrip(tiff).size());
    }
}

TEST(TiffReader, ResolutionInEitherByteOrderAndEveryUnit) {
    struct Case {
        const char* what;
        std::vector<std::array<uint32_t, 4>> entries; // tag, type, count, value
        std::vector<uint32_t> rationals;              // stored at offset 100, 108...
        double x, y;                                  // expected m_x/yResolution
        uint32_t unit;
        bool dpi;
        double xDpi, yDpi;
    };
    const Case cases[] = {
        {"inch",
         {{282, 5, 1, 100}, {283, 5, 1, 108}, {296, 3, 1, 2}},
         {300, 1, 600, 2},
         300,
         300,
         2,
         true,
         300,
         300},
        {"centimetre",
         {{282, 5, 1, 100}, {283, 5, 1, 108}, {296, 3, 1, 3}},
         {1181, 10, 1000, 8},
         118.1,
         125,
         3,
         true,
         299.974,
         317.5},
        {"no unit tag means inch",
         {{282, 5, 1, 100}, {283, 5, 1, 108}},
         {204, 1, 98, 1},
         204,
         98,
         2,
         true,
         204,
         98},
        {"unit none",
         {{282, 5, 1, 100}, {283, 5, 1, 108}, {296, 3, 1, 1}},
         {2, 1, 1, 1},
         2,
         1,
         1,
         false,
         0,
         0},
        {"zero denominator",
         {{282, 5, 1, 100}, {283, 5, 1, 108}},
         {300, 0, 300, 1},
         0,
         300,
         2,
         false,
         0,
         0},
        {"rational past the end",
         {{282, 5, 1, 116}, {283, 5, 1, 100}},
         {300, 1},
         0,
         300,
         2,
         false,
         0,
         0},
        {"whole numbers as SHORT",
         {{282, 3, 1, 200}, {283, 3, 1, 100}},
         {},
         200,
         100,
         2,
         true,
         200,
         100},
        {"no resolution", {}, {}, 0, 0, 2, false, 0, 0},
    };
    for (bool big : {false, true}) {
        for (const Case& c : cases) {
            Ifd ifd{big, {}};
            std::string t = big ? std::string("MM\0*", 4) : std::string("II*\0", 4);
            t += ifd.u32(8);
            t += ifd.u16(uint32_t(2 + c.entries.size()));
            t += ifd.entry(256, 4, 1, 16) + ifd.entry(257, 4, 1, 8);
            for (const auto& e : c.entries)
                t += ifd.entry(uint16_t(e[0]), uint16_t(e[1]), e[2], e[3]);
            t += ifd.u32(0);
            t.resize(100, '\0');
            for (uint32_t v : c.rationals)
                t += ifd.u32(v);
            wxMemoryInputStream in(t.data(), t.size());
            tiffReader r(in);
            const std::string what = std::string(c.what) + (big ? " MM" : " II");
            ASSERT_TRUE(r.m_ok) << what << r.GetError();
            EXPECT_EQ(r.m_bigEndian, big) << what;
            EXPECT_EQ(r.m_width, 16u) << what;
            EXPECT_NEAR(r.m_xResolution, c.x, 1e-9) << what;
            EXPECT_NEAR(r.m_yResolution, c.y, 1e-9) << what;
            EXPECT_EQ(r.m_resolutionUnit, c.unit) << what;
            double x = 0, y = 0;
            EXPECT_EQ(r.DotsPerInch(x, y), c.dpi) << what;
            if (c.dpi) {
                EXPECT_NEAR(x, c.xDpi, 0.001) << what;
                EXPECT_NEAR(y, c.yDpi, 0.001) << what;
            }
        }
    }
}

// The file that froze a window: 65535 StripOffsets entries sharing one table of 250000
// offsets. It is refused at its second entry, as final, with the table read once at most.
TEST(TiffReader, RepeatedStripTableIsRefusedAtOnce) {
    const std::string tiff = qvfix::repeatedStripTableTiff();
    ASSERT_GT(tiff.size(), 1700000u);
    wxMemoryInputStream in(tiff.data(), tiff.size());
    tiffReader r(in);
    EXPECT_FALSE(r.m_ok);
    EXPECT_TRUE(r.m_malformed);
    EXPECT_EQ(r.GetError(), " tag 273 appears twice in the image directory!");
    EXPECT_LE(r.m_stripOffsets.size(), 250000u);
    wxMemoryOutputStream out;
    r.WriteStrips(out);
    EXPECT_EQ(out.GetSize(), 0);
}

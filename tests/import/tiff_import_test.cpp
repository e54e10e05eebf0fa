// tiff.spi: fax-compressed bilevel scans, grey, colour, palette, transparent and 16-bit pages,
// orientation, the first of several pages, and files it must refuse.
#include <tiffio.h>

#include <functional>

#include "spi_support.h"

// Cases name only the fields they need.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {
using namespace spitest;

struct Tiff {
    uint16_t bits = 8, samples = 3, photometric = PHOTOMETRIC_RGB;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    bool alpha = false;  // a fourth, unassociated alpha sample
    std::function<std::vector<uint8_t>(const Picture&, int y)> row;  // one stored row
};

// Rows of the reference picture in the usual forms.
std::vector<uint8_t> rgb_row(const Picture& p, int y) {
    return {p.rgb.begin() + 3 * p.width * y, p.rgb.begin() + 3 * p.width * (y + 1)};
}
std::vector<uint8_t> grey_row(const Picture& p, int y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < p.width; ++x) row.push_back(p.at(x, y)[0]);
    return row;
}
std::vector<uint8_t> grey16_row(const Picture& p, int y) {
    std::vector<uint8_t> row;
    for (uint8_t v : grey_row(p, y)) {
        const uint16_t wide = uint16_t(v << 8 | (v ^ 0x5A));  // a low byte that must not count
        row.insert(row.end(), {uint8_t(wide), uint8_t(wide >> 8)});  // the host's (little) order
    }
    return row;
}
std::vector<uint8_t> bits_row(const Picture& p, int y, bool one_is_black) {
    std::vector<uint8_t> row((p.width + 7) / 8, 0);
    for (int x = 0; x < p.width; ++x)
        if ((p.at(x, y)[0] == 0) == one_is_black) row[x / 8] |= uint8_t(0x80 >> x % 8);
    return row;
}
// Paper transparent, the F opaque, the green corner half opaque.
std::vector<uint8_t> rgba_row(const Picture& p, int y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < p.width; ++x) {
        const uint8_t* c = p.at(x, y);
        const bool paper = c[0] == 255 && c[1] == 255 && c[2] == 255;
        row.insert(row.end(), {c[0], c[1], c[2], uint8_t(paper ? 0 : c[1] == 255 ? 128 : 255)});
    }
    return row;
}

void write_page(TIFF* tif, const Tiff& t, const Picture& p) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, t.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(t.samples + (t.alpha ? 1 : 0)));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, t.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, t.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, t.orientation);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(3));
    if (t.alpha) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (t.photometric == PHOTOMETRIC_PALETTE) {
        // white, red, green, blue; the rest black
        std::vector<uint16_t> r(256, 0), g(256, 0), b(256, 0);
        r[0] = g[0] = b[0] = r[1] = g[2] = b[3] = 0xFFFF;
        TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    // Bottom-left pages store their bottom row first.
    const bool flipped = t.orientation == ORIENTATION_BOTLEFT;
    for (int y = 0; y < p.height; ++y) {
        std::vector<uint8_t> row = t.row(p, flipped ? p.height - 1 - y : y);
        TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
    }
    TIFFWriteDirectory(tif);
}

// Writes the pages into a file and returns its bytes.
std::vector<uint8_t> tiff_file(const qvtest::TempDir& dir,
                               const std::vector<std::pair<Tiff, Picture>>& pages) {
    const std::string path = dir / "made.tif";
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    for (const auto& [t, p] : pages) write_page(tif, t, p);
    TIFFClose(tif);
    return qvtest::read_file(path);
}

const Tiff kRgb = {.row = rgb_row};
const Tiff kG4 = {.bits = 1,
                  .samples = 1,
                  .photometric = PHOTOMETRIC_MINISWHITE,
                  .compression = COMPRESSION_CCITTFAX4,
                  .row = [](const Picture& p, int y) { return bits_row(p, y, true); }};

TEST(TiffImport, IdentityAndHeaders) {
    check_identity("tiff");
}

TEST(TiffImport, EveryFormDecodesTheReference) {
    const Picture colour = reference(false), grey = reference(true);
    Picture bilevel = grey;
    for (uint8_t& v : bilevel.rgb) v = v ? 255 : 0;
    Picture composed = colour;  // half-opaque green over white
    composed.rgb[15] = composed.rgb[17] = 127;
    auto index_row = [](const Picture& p, int y) {
        std::vector<uint8_t> row;
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* c = p.at(x, y);
            row.push_back(c[1] == 255 ? (c[0] == 255 ? 0 : 2) : c[0] == 255 ? 1 : 3);
        }
        return row;
    };
    struct Case {
        const char* name;
        Tiff tiff;
        const Picture& source;
        const Picture& expected;
        int delivered_bits;
    } cases[] = {
        {"CCITT G4, 0 is white", kG4, grey, bilevel, 1},
        {"CCITT G3, 0 is black",
         {.bits = 1,
          .samples = 1,
          .photometric = PHOTOMETRIC_MINISBLACK,
          .compression = COMPRESSION_CCITTFAX3,
          .row = [](const Picture& p, int y) { return bits_row(p, y, false); }},
         grey,
         bilevel,
         1},
        {"grey",
         {.samples = 1, .photometric = PHOTOMETRIC_MINISBLACK, .row = grey_row},
         grey,
         grey,
         8},
        {"grey 16-bit",
         {.bits = 16, .samples = 1, .photometric = PHOTOMETRIC_MINISBLACK, .row = grey16_row},
         grey,
         grey,
         8},
        {"colour", kRgb, colour, colour, 24},
        {"colour LZW", {.compression = COMPRESSION_LZW, .row = rgb_row}, colour, colour, 24},
        {"colour deflate bottom-up",
         {.compression = COMPRESSION_ADOBE_DEFLATE,
          .orientation = ORIENTATION_BOTLEFT,
          .row = rgb_row},
         colour,
         colour,
         24},
        {"colour with alpha", {.alpha = true, .row = rgba_row}, colour, composed, 24},
        {"palette",
         {.samples = 1, .photometric = PHOTOMETRIC_PALETTE, .row = index_row},
         colour,
         colour,
         24},
    };
    qvtest::TempDir dir;
    Plugin plugin("tiff.spi");
    for (const Case& c : cases) {
        Picture got;
        ASSERT_EQ(
            decode_bytes(plugin, dir, tiff_file(dir, {{c.tiff, c.source}}), got, "picture.pgm"),
            SUSIE_OK)
            << c.name;
        EXPECT_EQ(difference(got, c.expected), 0) << c.name;
        EXPECT_EQ(got.bits, c.delivered_bits) << c.name;
    }
    // Of two pages the first is read.
    Picture got;
    ASSERT_EQ(decode_bytes(plugin, dir, tiff_file(dir, {{kRgb, colour}, {kG4, grey}}), got),
              SUSIE_OK);
    EXPECT_EQ(difference(got, colour), 0);
}

// A hand-made single-strip grey page whose header claims what it likes.
std::vector<uint8_t> claimed(uint32_t width, uint32_t height, uint32_t strip_bytes,
                             uint16_t compression, size_t data_bytes) {
    std::vector<uint8_t> file = {'I', 'I', 42, 0};
    put32(file, 8);
    const uint32_t entries[][3] = {
        {256, 4, width},       {257, 4, height}, {258, 3, 8},
        {259, 3, compression}, {262, 3, 1},      {273, 4, 8 + 2 + 9 * 12 + 4},
        {277, 3, 1},           {278, 4, height}, {279, 4, strip_bytes}};
    put16(file, 9);
    for (const auto& e : entries) {
        put16(file, e[0]), put16(file, e[1]), put32(file, 1);
        if (e[1] == 3)
            put16(file, e[2]), put16(file, 0);
        else
            put32(file, e[2]);
    }
    put32(file, 0);
    file.resize(file.size() + data_bytes, 0x11);
    return file;
}

TEST(TiffImport, RefusesWhatItCannotReadWhole) {
    qvtest::TempDir dir;
    const Picture grey = reference(true, 16);
    const std::vector<uint8_t> g4 = tiff_file(dir, {{kG4, grey}});
    // The strips of a page written by libtiff begin right behind the 8-byte header.
    std::vector<uint8_t> corrupt = g4;
    // Flipped bits in the fax codes: libtiff's decoder patches the rows and only warns.
    for (int i = 100; i < 104; ++i) corrupt[i] ^= 0x55;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"truncated", {g4.begin(), g4.begin() + g4.size() / 2}},
        {"corrupt G4 data", corrupt},
        {"strip past the end", claimed(8, 8, 64, COMPRESSION_NONE, 10)},
        {"4097 wide", claimed(4097, 1, 4097, COMPRESSION_NONE, 4097)},
        {"4097 high", claimed(1, 4097, 4097, COMPRESSION_NONE, 4097)},
        {"4000 by 4000 in 100 bytes", claimed(4000, 4000, 100, COMPRESSION_NONE, 100)},
        {"4000 by 4000 deflated in 100 bytes",
         claimed(4000, 4000, 100, COMPRESSION_ADOBE_DEFLATE, 100)},
        {"header only", {g4.begin(), g4.begin() + 8}},
    };
    Plugin plugin("tiff.spi");
    Picture got;
    ASSERT_EQ(decode_bytes(plugin, dir, claimed(8, 8, 64, COMPRESSION_NONE, 64), got), SUSIE_OK);
    EXPECT_EQ(got.rgb[0], 0x11);
    for (const Case& c : cases)
        EXPECT_NE(decode_bytes(plugin, dir, c.bytes, got), SUSIE_OK) << c.name;
}

TEST(TiffImport, SurvivesDamagedFiles) {
    qvtest::TempDir dir;
    survive_damage("tiff.spi", tiff_file(dir, {{kG4, reference(true, 8)}}));
    survive_damage(
        "tiff.spi",
        tiff_file(dir, {{{.compression = COMPRESSION_LZW, .alpha = true, .row = rgba_row},
                         reference(false, 4)}}));
}

}  // namespace

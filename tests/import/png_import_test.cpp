// png.spi: grey, colour, palette, transparent and 16-bit pictures, and files it must refuse.
#include <png.h>
#include <zlib.h>

#include "spi_support.h"

// Cases name only the fields they need.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {
using namespace spitest;

struct Png {
    int colour_type;  // PNG_COLOR_TYPE_*
    int depth = 8;
    std::vector<uint8_t> pixels;  // rows of samples as libpng takes them, big-endian for 16 bits
    std::vector<png_color> palette;
    std::vector<uint8_t> transparency;  // tRNS for palette pictures
    bool interlaced = false;
};

void append(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

std::vector<uint8_t> png_file(const Png& p, int width, int height) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, append, nullptr);
    png_set_IHDR(png, info, width, height, p.depth, p.colour_type,
                 p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!p.palette.empty()) png_set_PLTE(png, info, p.palette.data(), int(p.palette.size()));
    if (!p.transparency.empty())
        png_set_tRNS(png, info, p.transparency.data(), int(p.transparency.size()), nullptr);
    png_write_info(png, info);
    const size_t stride = p.pixels.size() / height;
    std::vector<png_bytep> rows;
    for (int y = 0; y < height; ++y) rows.push_back(const_cast<png_bytep>(&p.pixels[stride * y]));
    png_write_image(png, rows.data());  // all passes when interlaced
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// The reference picture as samples: grey or RGB, with alpha or as 16 bits when asked.
std::vector<uint8_t> samples(const Picture& p, bool grey, bool alpha, bool wide) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < p.rgb.size(); i += 3) {
        std::vector<uint8_t> px(p.rgb.begin() + i, p.rgb.begin() + i + (grey ? 1 : 3));
        if (alpha) {
            // White paper transparent (stored black), the rest opaque.
            const bool paper = p.rgb[i] == 255 && p.rgb[i + 1] == 255 && p.rgb[i + 2] == 255;
            if (paper) std::fill(px.begin(), px.end(), 0);
            px.push_back(paper ? 0 : 255);
        }
        for (uint8_t v : px) {
            out.push_back(v);
            if (wide) out.push_back(uint8_t(v ^ 0x5A));  // a low byte the reduction must drop
        }
    }
    return out;
}

TEST(PngImport, IdentityAndHeaders) {
    check_identity("png");
}

TEST(PngImport, EveryFormDecodesTheReference) {
    const Picture colour = reference(false), grey = reference(true);
    std::vector<uint8_t> indices;
    for (size_t i = 0; i < colour.rgb.size(); i += 3)
        indices.push_back(colour.rgb[i] == 255 ? (colour.rgb[i + 1] == 255 ? 0 : 1)
                                               : (colour.rgb[i + 1] == 255 ? 2 : 3));
    const std::vector<png_color> table = {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    // Half-transparent green corner over white: (0, 255, 0) at alpha 128 gives 127, 255, 127.
    Picture composed = colour;
    composed.rgb[15] = composed.rgb[17] = 127;
    std::vector<uint8_t> bilevel_rows;  // 1-bit grey: the F black, the rest white
    for (int y = 0; y < 8; ++y) {
        uint8_t bits = 0;
        for (int x = 0; x < 6; ++x) bits |= uint8_t((grey.at(x, y)[0] ? 1 : 0) << (7 - x));
        bilevel_rows.push_back(bits);
    }
    Picture bilevel = grey;
    for (uint8_t& v : bilevel.rgb) v = v ? 255 : 0;
    struct Case {
        const char* name;
        Png png;
        const Picture& expected;
        int delivered_bits;
    } cases[] = {
        {"grey", {PNG_COLOR_TYPE_GRAY, 8, samples(grey, true, false, false)}, grey, 8},
        {"grey 16-bit", {PNG_COLOR_TYPE_GRAY, 16, samples(grey, true, false, true)}, grey, 8},
        {"grey 1-bit", {PNG_COLOR_TYPE_GRAY, 1, bilevel_rows}, bilevel, 8},
        {"grey with alpha",
         {PNG_COLOR_TYPE_GRAY_ALPHA, 8, samples(grey, true, true, false)},
         grey,
         8},
        {"colour", {PNG_COLOR_TYPE_RGB, 8, samples(colour, false, false, false)}, colour, 24},
        {"colour 16-bit",
         {PNG_COLOR_TYPE_RGB, 16, samples(colour, false, false, true)},
         colour,
         24},
        {"colour with alpha",
         {PNG_COLOR_TYPE_RGBA, 8, samples(colour, false, true, false)},
         colour,
         24},
        {"colour 16-bit with alpha",
         {PNG_COLOR_TYPE_RGBA, 16, samples(colour, false, true, true)},
         colour,
         24},
        {"palette", {PNG_COLOR_TYPE_PALETTE, 8, indices, table}, colour, 24},
        {"palette interlaced", {PNG_COLOR_TYPE_PALETTE, 8, indices, table, {}, true}, colour, 24},
        {"palette with tRNS",
         {PNG_COLOR_TYPE_PALETTE, 8, indices, table, {0, 255, 128}},
         composed,
         24},
    };
    qvtest::TempDir dir;
    Plugin plugin("png.spi");
    for (const Case& c : cases) {
        Picture got;
        ASSERT_EQ(decode_bytes(plugin, dir, png_file(c.png, 6, 8), got, "picture.bmp"), SUSIE_OK)
            << c.name;
        EXPECT_EQ(difference(got, c.expected), 0) << c.name;
        EXPECT_EQ(got.bits, c.delivered_bits) << c.name;
    }
}

// Rewrites the IHDR chunk's size fields and its checksum.
std::vector<uint8_t> claim(std::vector<uint8_t> file, uint32_t width, uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        file[16 + i] = uint8_t(width >> (24 - 8 * i));
        file[20 + i] = uint8_t(height >> (24 - 8 * i));
    }
    const uint32_t crc = uint32_t(crc32(0, &file[12], 17));
    for (int i = 0; i < 4; ++i) file[29 + i] = uint8_t(crc >> (24 - 8 * i));
    return file;
}

TEST(PngImport, RefusesWhatItCannotReadWhole) {
    const Picture colour = reference(false, 16);
    const std::vector<uint8_t> good =
        png_file({PNG_COLOR_TYPE_RGB, 8, samples(colour, false, false, false)}, 96, 128);
    std::vector<uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
    std::vector<uint8_t> corrupt = good;
    corrupt[good.size() / 2] ^= 0xFF;  // inside the image data: its checksum fails
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"truncated", truncated},
        {"corrupt data", corrupt},
        {"4097 wide", claim(good, 4097, 1)},
        {"4097 high", claim(good, 1, 4097)},
        {"4000 by 4000 in a few hundred bytes", claim(good, 4000, 4000)},
        {"no height", claim(good, 10, 0)},
    };
    qvtest::TempDir dir;
    Plugin plugin("png.spi");
    Picture got;
    ASSERT_EQ(decode_bytes(plugin, dir, good, got), SUSIE_OK);
    for (const Case& c : cases)
        EXPECT_NE(decode_bytes(plugin, dir, c.bytes, got), SUSIE_OK) << c.name;
}

TEST(PngImport, SurvivesDamagedFiles) {
    const Picture colour = reference(false, 4);
    survive_damage("png.spi",
                   png_file({PNG_COLOR_TYPE_RGBA, 16, samples(colour, false, true, true)},
                            colour.width, colour.height));
}

}  // namespace

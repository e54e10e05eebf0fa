// bmp.spi: every bitmap form it reads, and the files it must refuse.
#include <array>
#include <functional>

#include "spi_support.h"

// The cases name only the fields that differ from a plain 24-bit picture.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {
using namespace spitest;

// Palette of the reference picture: white, red, green, blue.
const std::vector<uint32_t> kTable = {0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF};

uint32_t index_of(const uint8_t* c) {
    for (uint32_t i = 0; i < kTable.size(); ++i)
        if (uint32_t(c[0] << 16 | c[1] << 8 | c[2]) == kTable[i]) return i;
    return 0;
}

struct Bmp {
    uint32_t header_size = 40;
    int bits = 24;
    uint32_t compression = PLATFORM_BI_RGB;
    bool top_down = false;
    std::vector<uint32_t> masks;  // after a 40-byte header, or inside a larger one
    std::vector<uint32_t> table;
    std::function<uint32_t(const uint8_t*)> value;  // a pixel's stored value from its colour
    std::vector<uint8_t> data;                      // ready pixel data instead of `value`
    int width = 6, height = 8;
};

std::vector<uint8_t> rows(const Picture& p, const Bmp& b) {
    const size_t stride = (size_t(p.width) * b.bits + 31) / 32 * 4;
    std::vector<uint8_t> out(stride * p.height, 0);
    for (int y = 0; y < p.height; ++y) {
        uint8_t* row = &out[stride * size_t(b.top_down ? y : p.height - 1 - y)];
        for (int x = 0; x < p.width; ++x) {
            const uint32_t v = b.value(p.at(x, y));
            switch (b.bits) {
                case 1:
                    row[x / 8] |= uint8_t(v << (7 - x % 8));
                    break;
                case 4:
                    row[x / 2] |= uint8_t(v << (x % 2 ? 0 : 4));
                    break;
                case 8:
                    row[x] = uint8_t(v);
                    break;
                default:
                    for (int i = 0; i < b.bits / 8; ++i)
                        row[b.bits / 8 * x + i] = uint8_t(v >> 8 * i);
            }
        }
    }
    return out;
}

std::vector<uint8_t> bmp_file(const Bmp& b, const Picture& p) {
    const std::vector<uint8_t> pixels = b.value ? rows(p, b) : b.data;
    std::vector<uint8_t> info;
    if (b.header_size == 12) {
        put32(info, 12), put16(info, b.width), put16(info, b.height), put16(info, 1),
            put16(info, b.bits);
    } else {
        put32(info, b.header_size), put32(info, b.width),
            put32(info, b.top_down ? -b.height : b.height);
        put16(info, 1), put16(info, b.bits), put32(info, b.compression);
        put32(info, uint32_t(pixels.size())), put32(info, 2835), put32(info, 2835);
        put32(info, uint32_t(b.table.size())), put32(info, 0);
        for (uint32_t m : b.masks) put32(info, m);
        info.resize(std::max<size_t>(info.size(), b.header_size), 0);
    }
    for (uint32_t c : b.table) {
        info.insert(info.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
        if (b.header_size != 12) info.push_back(0);
    }
    std::vector<uint8_t> file = {'B', 'M'};
    put32(file, uint32_t(14 + info.size() + pixels.size())), put32(file, 0);
    put32(file, uint32_t(14 + info.size()));
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

// RLE data of the reference picture, bottom line first: the bottom line in absolute mode, the
// top line's five white pixels skipped with a delta, every other line as runs.
std::vector<uint8_t> rle(const Picture& p, bool four) {
    std::vector<uint8_t> out;
    auto pair = [&](uint32_t i) { return uint8_t(four ? i << 4 | i : i); };
    for (int line = 0; line < p.height; ++line) {
        const int y = p.height - 1 - line;
        if (line == 0) {
            out.insert(out.end(), {0, uint8_t(p.width)});
            std::vector<uint8_t> bytes;
            for (int x = 0; x < p.width; ++x) {
                const uint32_t i = index_of(p.at(x, y));
                if (!four)
                    bytes.push_back(uint8_t(i));
                else if (x % 2 == 0)
                    bytes.push_back(uint8_t(i << 4));
                else
                    bytes.back() |= uint8_t(i);
            }
            if (bytes.size() % 2) bytes.push_back(0);
            out.insert(out.end(), bytes.begin(), bytes.end());
        } else if (y == 0) {
            out.insert(out.end(), {0, 2, 5, 0, 1, pair(index_of(p.at(5, 0)))});
        } else {
            for (int x = 0; x < p.width;) {
                int n = 1;
                while (x + n < p.width && index_of(p.at(x + n, y)) == index_of(p.at(x, y))) ++n;
                out.insert(out.end(), {uint8_t(n), pair(index_of(p.at(x, y)))});
                x += n;
            }
        }
        out.insert(out.end(), {0, uint8_t(y == 0 ? 1 : 0)});
    }
    return out;
}

uint32_t rgb555(const uint8_t* c) {
    return (c[0] >> 3) << 10 | (c[1] >> 3) << 5 | c[2] >> 3;
}
uint32_t rgb565(const uint8_t* c) {
    return (c[0] >> 3) << 11 | (c[1] >> 2) << 5 | c[2] >> 3;
}
uint32_t bgr(const uint8_t* c) {
    return uint32_t(c[0]) << 16 | c[1] << 8 | c[2];
}

TEST(BmpImport, IdentityAndHeaders) {
    check_identity("bmp");
}

TEST(BmpImport, EveryFormDecodesTheReference) {
    const Picture colour = reference(false), grey = reference(true);
    Picture bilevel = reference(true);
    for (uint8_t& v : bilevel.rgb) v = v == 0 ? 0 : 255;
    // The translucent form: an opaque F, transparent black paper, a half-opaque green corner.
    Picture composed = colour;
    const uint8_t half_green[3] = {127, 255, 127};
    std::memcpy(&composed.rgb[3 * 5], half_green, 3);
    auto argb = [](const uint8_t* c) {
        const uint32_t rgb = bgr(c);
        if (rgb == 0xFFFFFF) return 0u;
        return (rgb == 0x00FF00 ? 0x80000000u : 0xFF000000u) | rgb;
    };
    struct Case {
        const char* name;
        Bmp bmp;
        const Picture& expected;
        int delivered_bits;
    } cases[] = {
        {"1-bit, white first",
         {.bits = 1,
          .table = {0xFFFFFF, 0},
          .value = [](const uint8_t* c) { return bgr(c) == 0xFF0000 ? 1u : 0u; }},
         bilevel,
         1},
        {"4-bit table", {.bits = 4, .table = kTable, .value = index_of}, colour, 24},
        {"8-bit table", {.bits = 8, .table = kTable, .value = index_of}, colour, 24},
        {"8-bit grey",
         {.bits = 8,
          .table = {0x000000, 0x404040, 0x808080, 0xFFFFFF},
          .value =
              [](const uint8_t* c) {
                  return std::array{3u, 0u, 2u, 1u}[index_of(c)];
              }},
         grey,
         8},
        {"16-bit 5-5-5", {.bits = 16, .value = rgb555}, colour, 24},
        {"16-bit 5-6-5 fields",
         {.bits = 16,
          .compression = PLATFORM_BI_BITFIELDS,
          .masks = {0xF800, 0x07E0, 0x001F},
          .value = rgb565},
         colour,
         24},
        {"24-bit", {.bits = 24, .value = bgr}, colour, 24},
        {"24-bit top-down", {.bits = 24, .top_down = true, .value = bgr}, colour, 24},
        {"32-bit", {.bits = 32, .value = bgr}, colour, 24},
        {"32-bit V5 alpha",
         {.header_size = 124,
          .bits = 32,
          .compression = PLATFORM_BI_BITFIELDS,
          .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
          .value = argb},
         composed,
         24},
        {"32-bit V4 unused alpha",
         {.header_size = 108,
          .bits = 32,
          .compression = PLATFORM_BI_BITFIELDS,
          .masks = {0xFF, 0xFF00, 0xFF0000, 0xFF000000},
          .value = [](const uint8_t* c) { return uint32_t(c[2]) << 16 | c[1] << 8 | c[0]; }},
         colour,
         24},
        {"OS/2 core 24-bit", {.header_size = 12, .bits = 24, .value = bgr}, colour, 24},
        {"OS/2 core 8-bit table",
         {.header_size = 12, .bits = 8, .table = kTable, .value = index_of},
         colour,
         24},
        {"RLE8",
         {.bits = 8, .compression = PLATFORM_BI_RLE8, .table = kTable, .data = rle(colour, false)},
         colour,
         24},
        {"RLE4",
         {.bits = 4, .compression = PLATFORM_BI_RLE4, .table = kTable, .data = rle(colour, true)},
         colour,
         24},
    };
    qvtest::TempDir dir;
    Plugin plugin("bmp.spi");
    for (const Case& c : cases) {
        Picture got;
        // A misleading name: the plug-in goes by the bytes.
        ASSERT_EQ(decode_bytes(plugin, dir, bmp_file(c.bmp, colour), got, "picture.png"), SUSIE_OK)
            << c.name;
        EXPECT_EQ(difference(got, c.expected), 0) << c.name;
        EXPECT_EQ(got.bits, c.delivered_bits) << c.name;
    }
}

TEST(BmpImport, RefusesWhatItCannotReadWhole) {
    const Picture colour = reference(false);
    const Bmp plain = {.bits = 24, .value = bgr};
    std::vector<uint8_t> truncated = bmp_file(plain, colour);
    truncated.resize(truncated.size() - 10);
    std::vector<uint8_t> odd_bits = bmp_file(plain, colour);
    odd_bits[28] = 7;
    std::vector<uint8_t> rle_unended = bmp_file(
        {.bits = 8, .compression = PLATFORM_BI_RLE8, .table = kTable, .data = rle(colour, false)},
        colour);
    rle_unended.resize(rle_unended.size() - 2);  // no end-of-bitmap mark
    std::vector<uint8_t> rle_overrun = bmp_file(
        {.bits = 8, .compression = PLATFORM_BI_RLE8, .table = kTable, .data = {0, 200, 1, 2}},
        colour);
    std::vector<uint8_t> pixels_outside = bmp_file(plain, colour);
    pixels_outside[10] = 200;  // the pixels start past the end
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"truncated rows", truncated},
        {"bit count 7", odd_bits},
        {"RLE without its end", rle_unended},
        {"RLE absolute run past the data", rle_overrun},
        {"pixels past the end", pixels_outside},
        {"4097 wide",
         bmp_file(
             {.bits = 24, .data = std::vector<uint8_t>(4100 * 3, 0), .width = 4097, .height = 1},
             colour)},
        {"4097 high", bmp_file({.bits = 8,
                                .table = kTable,
                                .data = std::vector<uint8_t>(4097 * 4, 0),
                                .width = 1,
                                .height = 4097},
                               colour)},
        {"4000 by 4000 in 100 bytes",
         bmp_file({.bits = 24, .data = std::vector<uint8_t>(46, 0), .width = 4000, .height = 4000},
                  colour)},
        {"no width", bmp_file({.bits = 24, .data = {0, 0, 0, 0}, .width = 0, .height = 1}, colour)},
    };
    qvtest::TempDir dir;
    Plugin plugin("bmp.spi");
    for (const Case& c : cases) {
        Picture got;
        EXPECT_NE(decode_bytes(plugin, dir, c.bytes, got), SUSIE_OK) << c.name;
    }
    Picture got;
    EXPECT_NE(plugin.decode(dir / "missing.bmp", got), SUSIE_OK);
    PlatformHandle info = nullptr, bits = nullptr;
    qvtest::write_file(dir / "f.bmp", bmp_file(plain, colour));
    EXPECT_NE(plugin.picture((dir / "f.bmp").c_str(), 0, 1, &info, &bits, nullptr, 0),
              SUSIE_OK);  // memory, not a file
    EXPECT_NE(plugin.picture((dir / "f.bmp").c_str(), 10, 0, &info, &bits, nullptr, 0), SUSIE_OK);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(bits, nullptr);
}

TEST(BmpImport, SurvivesDamagedFiles) {
    const Picture colour = reference(false, 4);
    survive_damage("bmp.spi", bmp_file({.bits = 8,
                                        .compression = PLATFORM_BI_RLE8,
                                        .table = kTable,
                                        .data = rle(colour, false),
                                        .width = colour.width,
                                        .height = colour.height},
                                       colour));
    survive_damage("bmp.spi", bmp_file({.header_size = 124,
                                        .bits = 16,
                                        .compression = PLATFORM_BI_BITFIELDS,
                                        .masks = {0xF800, 0x07E0, 0x001F},
                                        .value = rgb565,
                                        .width = colour.width,
                                        .height = colour.height},
                                       colour));
}

}  // namespace

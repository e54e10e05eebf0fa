// pnm.spi: plain and raw bitmaps, grey maps and pixel maps, and files it must refuse.
#include "spi_support.h"

namespace {
using namespace spitest;
using namespace std::string_literals;

std::vector<uint8_t> bytes_of(const std::string& s) {
    return {s.begin(), s.end()};
}

// The reference picture as an any-map of the given kind with samples scaled to maxval.
std::vector<uint8_t> pnm_file(int kind, const Picture& p, uint32_t maxval = 255,
                              const std::string& header_extra = "") {
    std::string text = "P" + std::to_string(kind) + "\n# made by the tests\n" + header_extra +
                       std::to_string(p.width) + " " + std::to_string(p.height) + "\n";
    if (kind != 1 && kind != 4) text += std::to_string(maxval) + "\n";
    std::vector<uint8_t> out = bytes_of(text);
    const int channels = kind == 3 || kind == 6 ? 3 : 1;
    for (int y = 0; y < p.height; ++y) {
        uint8_t packed = 0;
        for (int x = 0; x < p.width; ++x) {
            const bool black = p.at(x, y)[0] == 0;
            if (kind == 1) {
                out.push_back(black ? '1' : '0');  // no separators: allowed for bits
            } else if (kind == 4) {
                packed |= uint8_t(black << (7 - x % 8));
                if (x % 8 == 7 || x == p.width - 1) out.push_back(packed), packed = 0;
            } else {
                for (int c = 0; c < channels; ++c) {
                    const uint32_t v = (p.at(x, y)[c] * maxval + 127) / 255;
                    if (kind <= 3) {
                        const std::string n = std::to_string(v) + (c % 2 ? "\n" : " ");
                        out.insert(out.end(), n.begin(), n.end());
                    } else if (maxval > 255) {
                        out.insert(out.end(), {uint8_t(v >> 8), uint8_t(v)});
                    } else {
                        out.push_back(uint8_t(v));
                    }
                }
            }
        }
        if (kind == 1) out.push_back('\n');
    }
    return out;
}

TEST(PnmImport, IdentityAndHeaders) {
    check_identity("pnm");
}

TEST(PnmImport, EveryFormDecodesTheReference) {
    const Picture colour = reference(false), grey = reference(true);
    Picture bilevel = grey;
    for (uint8_t& v : bilevel.rgb) v = v ? 255 : 0;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const Picture& expected;
        int delivered_bits;
    } cases[] = {
        {"P1", pnm_file(1, grey), bilevel, 1},
        {"P4", pnm_file(4, grey), bilevel, 1},
        {"P2", pnm_file(2, grey), grey, 8},
        {"P5", pnm_file(5, grey), grey, 8},
        {"P5 16-bit", pnm_file(5, grey, 65535), grey, 8},
        {"P2 maxval 1000", pnm_file(2, grey, 1000), grey, 8},
        {"P3", pnm_file(3, colour), colour, 24},
        {"P6", pnm_file(6, colour), colour, 24},
        {"P6 16-bit", pnm_file(6, colour, 65535), colour, 24},
        {"P6 grey content", pnm_file(6, grey), grey, 8},
        {"P5 comment inside the size", pnm_file(5, grey, 255, "# another\n"), grey, 8},
    };
    qvtest::TempDir dir;
    Plugin plugin("pnm.spi");
    for (const Case& c : cases) {
        Picture got;
        ASSERT_EQ(decode_bytes(plugin, dir, c.bytes, got, "picture.jpg"), SUSIE_OK) << c.name;
        EXPECT_EQ(difference(got, c.expected), 0) << c.name;
        EXPECT_EQ(got.bits, c.delivered_bits) << c.name;
    }
    // 16-bit samples keep their high byte's meaning: 0x8000 of 65535 is 128.
    Picture got;
    ASSERT_EQ(decode_bytes(plugin, dir, bytes_of("P5 1 1 65535\n\x80\x00"s), got), SUSIE_OK);
    EXPECT_EQ(got.rgb[0], 128);
}

TEST(PnmImport, RefusesWhatItCannotReadWhole) {
    const Picture colour = reference(false);
    std::vector<uint8_t> truncated = pnm_file(6, colour);
    truncated.resize(truncated.size() - 1);
    std::vector<uint8_t> plain_truncated = pnm_file(3, colour);
    plain_truncated.resize(plain_truncated.size() - 20);
    const std::string big = "P5 4000 4000 255\n" + std::string(80, '\0');
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"raw truncated", truncated},
        {"plain truncated", plain_truncated},
        {"plain sample above maxval", bytes_of("P2 2 1 15 3 16\n")},
        {"plain letter", bytes_of("P2 2 1 15 3 x\n")},
        {"plain bit 2", bytes_of("P1 2 1 0 2\n")},
        {"raw sample above maxval", bytes_of("P5 2 1 100\n\x10\x70")},
        {"maxval 0", bytes_of("P5 1 1 0\n\0"s)},
        {"maxval 65536", bytes_of("P5 1 1 65536\n\0\0"s)},
        {"4097 wide", bytes_of("P4 4097 1\n" + std::string(513, '\0'))},
        {"4097 high", bytes_of("P5 1 4097 255\n" + std::string(4097, '\0'))},
        {"4000 by 4000 in 100 bytes", bytes_of(big)},
        {"no width", bytes_of("P5 0 1 255\n\0"s)},
        {"huge width", bytes_of("P5 99999999999999 1 255\n\0"s)},
        {"no white space before the raster", bytes_of("P5 1 1 255#\0"s)},
    };
    qvtest::TempDir dir;
    Plugin plugin("pnm.spi");
    for (const Case& c : cases) {
        Picture got;
        EXPECT_NE(decode_bytes(plugin, dir, c.bytes, got), SUSIE_OK) << c.name;
    }
}

TEST(PnmImport, SurvivesDamagedFiles) {
    survive_damage("pnm.spi", pnm_file(3, reference(false, 2)));
    survive_damage("pnm.spi", pnm_file(6, reference(false, 2), 65535));
}

}  // namespace

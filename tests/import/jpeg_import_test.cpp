// jpeg.spi: grey, colour, progressive and CMYK pictures, and files it must refuse.
#include <cstdio>  // before jpeglib.h, which uses FILE
#include <jpeglib.h>

#include "spi_support.h"

namespace {
using namespace spitest;

enum class Kind { grey, colour, progressive, cmyk };

// The reference picture, 8 pixels a cell so that every block is flat and the only loss is
// rounding. CMYK is written Adobe-style, inverted, as its writers do.
std::vector<uint8_t> jpeg_file(Kind kind, const Picture& p) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(p.width);
    cinfo.image_height = JDIMENSION(p.height);
    cinfo.input_components = kind == Kind::grey ? 1 : kind == Kind::cmyk ? 4 : 3;
    cinfo.in_color_space = kind == Kind::grey   ? JCS_GRAYSCALE
                           : kind == Kind::cmyk ? JCS_CMYK
                                                : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    for (int c = 0; c < cinfo.num_components; ++c)
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    if (kind == Kind::progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row;
    for (int y = 0; y < p.height; ++y) {
        row.clear();
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* c = p.at(x, y);
            if (kind == Kind::grey)
                row.push_back(c[0]);
            else
                row.insert(row.end(), c, c + 3);
            if (kind == Kind::cmyk) row.push_back(255);  // inverted: no black ink
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

// Rewrites the frame header's height and width.
std::vector<uint8_t> claim(std::vector<uint8_t> file, uint16_t width, uint16_t height) {
    for (size_t i = 2; i + 9 < file.size(); ++i)
        if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2)) {
            file[i + 5] = uint8_t(height >> 8), file[i + 6] = uint8_t(height);
            file[i + 7] = uint8_t(width >> 8), file[i + 8] = uint8_t(width);
            break;
        }
    return file;
}

TEST(JpegImport, IdentityAndHeaders) {
    check_identity("jpeg");
}

TEST(JpegImport, EveryFormDecodesTheReference) {
    const Picture colour = reference(false, 8), grey = reference(true, 8);
    struct Case {
        const char* name;
        Kind kind;
        const Picture& expected;
        int delivered_bits;
    } cases[] = {
        {"grey", Kind::grey, grey, 8},
        {"colour", Kind::colour, colour, 24},
        {"progressive", Kind::progressive, colour, 24},
        {"CMYK", Kind::cmyk, colour, 24},
    };
    qvtest::TempDir dir;
    Plugin plugin("jpeg.spi");
    for (const Case& c : cases) {
        Picture got;
        ASSERT_EQ(decode_bytes(plugin, dir, jpeg_file(c.kind, c.kind == Kind::grey ? grey : colour),
                               got, "picture.tif"),
                  SUSIE_OK)
            << c.name;
        EXPECT_LE(difference(got, c.expected), 4) << c.name;
        EXPECT_EQ(got.bits, c.delivered_bits) << c.name;
    }
}

TEST(JpegImport, RefusesWhatItCannotReadWhole) {
    const Picture colour = reference(false, 8);
    for (Kind kind : {Kind::colour, Kind::progressive}) {
        const std::vector<uint8_t> good = jpeg_file(kind, colour);
        std::vector<uint8_t> truncated(good.begin(), good.end() - 20);  // inside the last scan
        std::vector<uint8_t> corrupt = good;
        // A marker where scan data should go: the scan ends before its blocks.
        corrupt[good.size() - 40] = 0xFF, corrupt[good.size() - 39] = 0xD9;
        std::vector<uint8_t> no_frame = good;
        no_frame.resize(20);
        struct Case {
            const char* name;
            std::vector<uint8_t> bytes;
        } cases[] = {
            {"truncated", truncated},
            {"corrupt scan", corrupt},
            {"headers only", no_frame},
            {"4097 wide", claim(good, 4097, 1)},
            {"4097 high", claim(good, 1, 4097)},
            {"4000 by 4000 in a few hundred bytes", claim(good, 4000, 4000)},
        };
        qvtest::TempDir dir;
        Plugin plugin("jpeg.spi");
        Picture got;
        ASSERT_EQ(decode_bytes(plugin, dir, good, got), SUSIE_OK);
        for (const Case& c : cases)
            EXPECT_NE(decode_bytes(plugin, dir, c.bytes, got), SUSIE_OK)
                << c.name << (kind == Kind::progressive ? ", progressive" : "");
    }
}

TEST(JpegImport, SurvivesDamagedFiles) {
    const Picture colour = reference(false, 8);
    survive_damage("jpeg.spi", jpeg_file(Kind::progressive, colour));
    survive_damage("jpeg.spi", jpeg_file(Kind::cmyk, colour));
}

}  // namespace

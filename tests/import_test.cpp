// Image import: the order of trials and acceptance tests over "*.spi" plug-ins, and the
// conversion of every bitmap form a plug-in may deliver to grey.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "import_internal.h"
#include "platform.h"
#include "quorvel.h"
#include "qvdib.h"
#include "test_support.h"

namespace {
struct GrayDeleter {
    void operator()(GrayImage* image) const { gray_free(image); }
};
using Image = std::unique_ptr<GrayImage, GrayDeleter>;

std::vector<uint8_t> grey(const GrayImage* image) {
    return {image->pixels, image->pixels + size_t(image->width) * image->height};
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    qvdib::put32(out, v);
}

// An information block: header of header_size bytes (fields beyond 40 zero), then extra.
std::vector<uint8_t> info_block(int32_t width, int32_t height, uint16_t depth, uint32_t compression,
                                const std::vector<uint32_t>& extra = {}, uint32_t colours_used = 0,
                                uint32_t header_size = 40, uint16_t planes = 1) {
    std::vector<uint8_t> info;
    put32(info, header_size);
    put32(info, uint32_t(width));
    put32(info, uint32_t(height));
    info.push_back(uint8_t(planes)), info.push_back(uint8_t(planes >> 8));
    info.push_back(uint8_t(depth)), info.push_back(uint8_t(depth >> 8));
    put32(info, compression);
    for (int i = 0; i < 3; ++i) put32(info, 0);
    put32(info, colours_used);
    put32(info, 0);
    info.resize(header_size, 0);
    for (uint32_t v : extra) put32(info, v);
    return info;
}

// Pixel bits of a width x 2 picture from raw values given top row first; rows padded to 4.
std::vector<uint8_t> bits_block(uint32_t width, uint16_t depth, const std::vector<uint32_t>& raw,
                                bool top_down) {
    const uint32_t height = uint32_t(raw.size()) / width;
    const size_t stride = (size_t(width) * depth + 31) / 32 * 4;
    std::vector<uint8_t> bits(stride * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = &bits[(top_down ? y : height - 1 - y) * stride];
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t v = raw[y * width + x];
            if (depth < 8) {
                row[x * depth / 8] |= uint8_t(v << (8 - depth - x * depth % 8));
            } else {
                for (uint32_t b = 0; b < depth / 8u; ++b)
                    row[x * depth / 8 + b] = uint8_t(v >> 8 * b);
            }
        }
    }
    return bits;
}

// The six colours of the 3 x 2 test picture, top row first: red, (255, 255, 254), white,
// black, (10, 20, 31), green. Neither a flipped nor a mirrored picture reads the same.
const std::vector<uint8_t> kGrey = {85, 254, 255, 0, 20, 85};
const std::vector<uint32_t> kRgb = {0xFF0000, 0xFFFFFE, 0xFFFFFF, 0x000000, 0x0A141F, 0x00FF00};

std::vector<uint32_t> palette_of(const std::vector<uint32_t>& rgb, size_t entries) {
    std::vector<uint32_t> table(rgb);  // RGBQUAD read as a little-endian word: 0x00RRGGBB
    table.resize(entries, 0x123456);
    return table;
}

struct FormCase {
    const char* name;
    std::vector<uint8_t> info;
    std::vector<uint8_t> bits;
    std::vector<uint8_t> expected;
};

std::vector<FormCase> form_cases() {
    std::vector<uint32_t> idx = {0, 1, 2, 3, 4, 5};
    std::vector<uint32_t> swapped;  // red in the low byte, blue in the third
    for (uint32_t c : kRgb) swapped.push_back((c >> 16) | (c & 0xFF00) | (c & 0xFF) << 16);
    std::vector<uint32_t> junk32;  // a fourth byte that must be ignored
    for (uint32_t c : kRgb) junk32.push_back(c | 0xAB000000u);
    // Five-bit components (31, 0, 0), (31, 31, 30), white, black, (1, 2, 3), (0, 31, 0):
    // widened as v x 255 / 31, rounded, they give these greys.
    const std::vector<uint32_t> rgb555 = {31u << 10, 31u << 10 | 31u << 5 | 30, 0x7FFF,
                                          0,         1u << 10 | 2u << 5 | 3,    31u << 5};
    const std::vector<uint8_t> grey555 = {85, 252, 255, 0, 16, 85};
    const std::vector<uint32_t> rgb565 = {31u << 11, 31u << 11 | 63u << 5 | 30, 0xFFFF,
                                          0,         1u << 11 | 2u << 5 | 3,    63u << 5};
    const std::vector<uint8_t> grey565 = {85, 252, 255, 0, 13, 85};
    std::vector<uint32_t> mono = {0, 1, 1, 1, 0, 0};
    std::vector<uint8_t> mono_grey = {85, 255, 255, 255, 85, 85};
    return {
        {"24 bottom-up", info_block(3, 2, 24, PLATFORM_BI_RGB), bits_block(3, 24, kRgb, false),
         kGrey},
        {"24 top-down", info_block(3, -2, 24, PLATFORM_BI_RGB), bits_block(3, 24, kRgb, true),
         kGrey},
        {"24 bit fields", info_block(3, 2, 24, PLATFORM_BI_BITFIELDS, {0xFF, 0xFF00, 0xFF0000}),
         bits_block(3, 24, swapped, false), kGrey},
        {"32 plain", info_block(3, 2, 32, PLATFORM_BI_RGB), bits_block(3, 32, junk32, false),
         kGrey},
        {"32 bit fields", info_block(3, -2, 32, PLATFORM_BI_BITFIELDS, {0xFF, 0xFF00, 0xFF0000}),
         bits_block(3, 32, swapped, true), kGrey},
        {"32 bit fields in a 124-byte header",
         info_block(3, 2, 32, PLATFORM_BI_BITFIELDS, {}, 0, 124),
         bits_block(3, 32, kRgb, false),
         {}},  // filled in below
        {"16 5-5-5", info_block(3, 2, 16, PLATFORM_BI_RGB), bits_block(3, 16, rgb555, false),
         grey555},
        {"16 bit fields 5-6-5", info_block(3, 2, 16, PLATFORM_BI_BITFIELDS, {0xF800, 0x07E0, 0x1F}),
         bits_block(3, 16, rgb565, false), grey565},
        {"8 with 6 colours", info_block(3, 2, 8, PLATFORM_BI_RGB, palette_of(kRgb, 6), 6),
         bits_block(3, 8, idx, false), kGrey},
        {"8 top-down, full table", info_block(3, -2, 8, PLATFORM_BI_RGB, palette_of(kRgb, 256)),
         bits_block(3, 8, idx, true), kGrey},
        {"4 with 16 colours", info_block(3, 2, 4, PLATFORM_BI_RGB, palette_of(kRgb, 16)),
         bits_block(3, 4, idx, false), kGrey},
        {"1 with 2 colours", info_block(3, 2, 1, PLATFORM_BI_RGB, {0xFF0000, 0xFFFFFF}),
         bits_block(3, 1, mono, false), mono_grey},
        {"8, index past the table reads black",
         info_block(3, 2, 8, PLATFORM_BI_RGB, palette_of(kRgb, 4), 4),
         bits_block(3, 8, idx, false),
         {85, 254, 255, 0, 0, 0}},
    };
}

TEST(DibToGray, EveryForm) {
    std::vector<FormCase> cases = form_cases();
    // The 124-byte header holds its own masks at offset 40.
    for (FormCase& c : cases) {
        if (c.expected.empty()) {
            c.info[40] = 0, c.info[41] = 0, c.info[42] = 0xFF, c.info[43] = 0;  // red
            c.info[44] = 0, c.info[45] = 0xFF, c.info[46] = 0, c.info[47] = 0;  // green
            c.info[48] = 0xFF, c.info[49] = 0, c.info[50] = 0, c.info[51] = 0;  // blue
            c.expected = kGrey;
        }
    }
    for (const FormCase& c : cases) {
        Image image(dib_to_gray(c.info.data(), c.info.size(), c.bits.data(), c.bits.size()));
        ASSERT_TRUE(image) << c.name;
        EXPECT_EQ(image->width, 3) << c.name;
        EXPECT_EQ(image->height, 2) << c.name;
        EXPECT_EQ(grey(image.get()), c.expected) << c.name;
    }
}

TEST(DibToGray, RefusesOtherFormsAndShortBlocks) {
    const auto bits24 = bits_block(3, 24, kRgb, false);
    const auto info24 = info_block(3, 2, 24, PLATFORM_BI_RGB);
    struct Refused {
        const char* name;
        std::vector<uint8_t> info;
        std::vector<uint8_t> bits;
    } cases[] = {
        {"run-length 8", info_block(3, 2, 8, PLATFORM_BI_RLE8, palette_of(kRgb, 256)),
         bits_block(3, 8, {0, 1, 2, 3, 4, 5}, false)},
        {"2 bits", info_block(3, 2, 2, PLATFORM_BI_RGB, palette_of(kRgb, 4)), bits24},
        {"64 bits", info_block(3, 2, 64, PLATFORM_BI_RGB), std::vector<uint8_t>(64, 0)},
        {"0 bits", info_block(3, 2, 0, PLATFORM_BI_RGB), bits24},
        {"bit fields on 8 bits", info_block(3, 2, 8, PLATFORM_BI_BITFIELDS, palette_of(kRgb, 256)),
         bits24},
        {"JPEG inside", info_block(3, 2, 24, 4), bits24},
        {"2 planes", info_block(3, 2, 24, PLATFORM_BI_RGB, {}, 0, 40, 2), bits24},
        {"bits one byte short", info24, std::vector<uint8_t>(bits24.begin(), bits24.end() - 1)},
        {"colour table cut short", info_block(3, 2, 8, PLATFORM_BI_RGB, palette_of(kRgb, 255)),
         bits_block(3, 8, {0, 1, 2, 3, 4, 5}, false)},
        {"masks missing", info_block(3, 2, 32, PLATFORM_BI_BITFIELDS, {0xFF, 0xFF00}),
         bits_block(3, 32, kRgb, false)},
        {"header of 12 bytes", std::vector<uint8_t>(info24.begin(), info24.begin() + 12), bits24},
        {"header claims more than its block", info_block(3, 2, 24, PLATFORM_BI_RGB, {}, 0, 40),
         bits24},
        {"width 0", info_block(0, 2, 24, PLATFORM_BI_RGB), bits24},
        {"height 0", info_block(3, 0, 24, PLATFORM_BI_RGB), bits24},
        {"width 4097", info_block(4097, 1, 8, PLATFORM_BI_RGB), std::vector<uint8_t>(4100, 0)},
        {"height -4097", info_block(1, -4097, 8, PLATFORM_BI_RGB), std::vector<uint8_t>(20000, 0)},
        {"height of the most negative", info_block(1, INT32_MIN, 24, PLATFORM_BI_RGB), bits24},
        {"negative width", info_block(-3, 2, 24, PLATFORM_BI_RGB), bits24},
    };
    cases[11].info[0] = 41;  // biSize one past the block
    for (const Refused& c : cases)
        EXPECT_EQ(dib_to_gray(c.info.data(), c.info.size(), c.bits.data(), c.bits.size()), nullptr)
            << c.name;
    EXPECT_EQ(dib_to_gray(nullptr, 40, bits24.data(), bits24.size()), nullptr);
    EXPECT_EQ(dib_to_gray(info24.data(), info24.size(), nullptr, 0), nullptr);
}

TEST(DibToGray, LargestSide) {
    const auto info = info_block(4096, -1, 1, PLATFORM_BI_RGB, {0, 0xFFFFFF});
    std::vector<uint8_t> bits(512, 0x55);
    Image image(dib_to_gray(info.data(), info.size(), bits.data(), bits.size()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 4096);
    EXPECT_EQ(image->pixels[0], 0);
    EXPECT_EQ(image->pixels[4095], 255);
}

// A folder holding the "program" and the plug-ins a test chooses, and a log of their calls.
class ImportTest : public ::testing::Test {
   protected:
    qvtest::TempDir dir;
    std::string log = dir / "calls.log";
    std::string picture = dir / "pic.qvdib";

    void SetUp() override {
        setenv("QV_TEST_LOG", log.c_str(), 1);
        qvtest::write_file(picture, qvdib::file(info_block(3, 2, 24, PLATFORM_BI_RGB),
                                                bits_block(3, 24, kRgb, false)));
    }
    void TearDown() override { unsetenv("QV_TEST_LOG"); }

    void use(const std::vector<std::string>& plugins) {
        std::filesystem::create_directories(dir.path() / "prog");
        qvtest::stage(dir.path() / "prog", plugins);
        qvtest::run_from(dir.path() / "prog");
    }
    std::vector<std::string> calls() {
        std::vector<std::string> lines;
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

TEST_F(ImportTest, FirstPluginThatDeliversWinsAndTheSecondIsNotLoaded) {
    use({"ti_pic.spi", "ti_pic2.spi"});
    Image image(image_import(picture.c_str()));
    ASSERT_TRUE(image);
    EXPECT_EQ(grey(image.get()), kGrey);
    unsigned nonzero = 0;
    for (uint8_t b : qvtest::read_file(picture)) nonzero += b != 0;
    const std::string header = " 51564449 " + std::to_string(nonzero);
    EXPECT_EQ(calls(),
              (std::vector<std::string>{
                  "ti_pic load", "ti_pic info 0 1024", "ti_pic supported " + picture + header,
                  "ti_pic picture " + picture + " 0 0 none 0", "ti_pic unload"}));
}

TEST_F(ImportTest, WrongVersionIsNotAskedAnythingElse) {
    use({"ti_badlen.spi", "ti_badver.spi", "ti_partial.spi", "ti_pic.spi"});
    Image image(image_import(picture.c_str()));
    ASSERT_TRUE(image);
    std::vector<std::string> got = calls();
    ASSERT_GE(got.size(), 8u);
    EXPECT_EQ(
        std::vector<std::string>(got.begin(), got.begin() + 8),
        (std::vector<std::string>{"ti_badlen load", "ti_badlen info 0 1024", "ti_badlen unload",
                                  "ti_badver load", "ti_badver info 0 1024", "ti_badver unload",
                                  "ti_partial load", "ti_partial unload"}));
    EXPECT_EQ(got[8], "ti_pic load");
}

TEST_F(ImportTest, FailedAndOversizedPicturesPassToTheNextPlugin) {
    use({"ti_huge.spi", "ti_nopic.spi", "ti_pic.spi"});
    Image image(image_import(picture.c_str()));
    ASSERT_TRUE(image);
    EXPECT_EQ(grey(image.get()), kGrey);
    std::vector<std::string> got;  // plug-in and call, for pictures and unloading
    for (const std::string& line : calls()) {
        const size_t space = line.find(' ');
        const std::string call = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
        if (call == "picture" || call == "unload") got.push_back(line.substr(0, space + 1) + call);
    }
    EXPECT_EQ(got,
              (std::vector<std::string>{"ti_huge picture", "ti_huge unload", "ti_nopic picture",
                                        "ti_nopic unload", "ti_pic picture", "ti_pic unload"}));
}

TEST_F(ImportTest, OversizedPictureAloneGivesNone) {
    // The picture's handles are freed all the same: the leak checker of the asan build sees it.
    use({"ti_huge.spi"});
    EXPECT_EQ(image_import(picture.c_str()), nullptr);
    EXPECT_EQ(calls().size(), 5u);
}

TEST_F(ImportTest, InconsistentBlocksPassToTheNextPlugin) {
    auto bits = bits_block(3, 24, kRgb, false);
    bits.pop_back();
    qvtest::write_file(picture, qvdib::file(info_block(3, 2, 24, PLATFORM_BI_RGB), bits));
    use({"ti_pic.spi", "ti_pic2.spi"});
    EXPECT_EQ(image_import(picture.c_str()), nullptr);
    std::vector<std::string> got = calls();
    EXPECT_EQ(got.back(), "ti_pic2 unload");
    EXPECT_EQ(got.size(), 10u);
}

TEST_F(ImportTest, ShortAndEmptyFilesAreOfferedZeroFilled) {
    use({"ti_nopic.spi"});
    const std::string shorter = dir / "abc", empty = dir / "empty";
    qvtest::write_file(shorter, {'a', 'b', 'c'});
    qvtest::write_file(empty, {});
    EXPECT_EQ(image_import(shorter.c_str()), nullptr);
    EXPECT_EQ(image_import(empty.c_str()), nullptr);
    std::vector<std::string> supported;
    for (const std::string& line : calls())
        if (line.find(" supported ") != std::string::npos) supported.push_back(line);
    EXPECT_EQ(supported, (std::vector<std::string>{"ti_nopic supported " + shorter + " 61626300 3",
                                                   "ti_nopic supported " + empty + " 00000000 0"}));
}

TEST_F(ImportTest, RelativePathIsPassedUnchanged) {
    use({"ti_pic.spi"});
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    Image image(image_import("pic.qvdib"));
    std::filesystem::current_path(before);
    ASSERT_TRUE(image);
    std::vector<std::string> got = calls();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[2].substr(0, 28), "ti_pic supported pic.qvdib 5");
    EXPECT_EQ(got[3], "ti_pic picture pic.qvdib 0 0 none 0");
}

TEST_F(ImportTest, NothingLoadedWithoutFileProgramOrPlugins) {
    use({"ti_pic.spi"});
    EXPECT_EQ(image_import((dir / "missing").c_str()), nullptr);
    EXPECT_EQ(image_import(nullptr), nullptr);
    qvtest::set_program_path("");
    EXPECT_EQ(image_import(picture.c_str()), nullptr);
    qvtest::run_from(dir.path());  // a folder without plug-ins
    EXPECT_EQ(image_import(picture.c_str()), nullptr);
    EXPECT_TRUE(calls().empty());
}

}  // namespace

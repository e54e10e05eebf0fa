// The bitmap plug-in, loaded as the host loads it: descriptions, bitmaps byte for byte, limits.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform.h"
#include "quorvel.h"
#include "test_support.h"

namespace {
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class Qvbmp : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = platform_load((qvtest::bin_dir() + "/qvbmp.qvp").c_str());
        ASSERT_NE(library_, nullptr);
        info_ = reinterpret_cast<QvInfoFn>(platform_symbol(library_, "qvinfo"));
        plot_ = reinterpret_cast<QvPlotFn>(platform_symbol(library_, "qvplot"));
        ASSERT_TRUE(info_ && plot_);
    }
    void TearDown() override { platform_unload(library_); }

    // Plots the chain to <temp>/pic and returns the bitmap's bytes; empty when nothing came.
    Bytes plot(const Dot* chain, int32_t minx, int32_t miny, int32_t maxx, int32_t maxy) {
        char path[QV_PATH_MAX];
        std::strcpy(path, (dir_ / "pic").c_str());
        int32_t result = plot_(chain, minx, miny, maxx, maxy, path);
        const std::string written = dir_ / "pic.bmp";
        EXPECT_EQ(result, fs::exists(written) ? 1 : 0);
        EXPECT_EQ(std::string(path), result ? written : dir_ / "pic");
        Bytes bytes = result ? qvtest::read_file(written) : Bytes{};
        fs::remove(written);
        return bytes;
    }
    static uint32_t u32(const Bytes& b, size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
    }
    static Bytes row(const Bytes& bmp, uint32_t r) {
        uint32_t stride = 4 * ((u32(bmp, 18) + 31) / 32);
        return Bytes(bmp.begin() + 62 + r * stride, bmp.begin() + 62 + (r + 1) * stride);
    }

    void* library_ = nullptr;
    QvInfoFn info_ = nullptr;
    QvPlotFn plot_ = nullptr;
    qvtest::TempDir dir_;
};

TEST_F(Qvbmp, DescriptionByTheStrncpyRule) {
    char buffer[QV_PATH_MAX];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(info_(buffer, 5), 1);
    EXPECT_EQ(std::string(buffer, 6), "Windo#");
    EXPECT_EQ(info_(buffer, 0), 1);
    EXPECT_EQ(buffer[0], 'W');
    EXPECT_EQ(info_(buffer, 1023), 1);
    EXPECT_STREQ(buffer, "Windows Bitmap");
    EXPECT_EQ(std::string(buffer + 14, buffer + 1023), std::string(1009, '\0'));
    EXPECT_EQ(buffer[1023], '#');
}

TEST_F(Qvbmp, SingleStartDotByteForByte) {
    const Dot start = {0, 0, 9, nullptr};
    Bytes bmp = plot(&start, -9, -9, 9, 9);
    ASSERT_EQ(bmp.size(), 138u);
    const Bytes header = {'B', 'M', 138, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,  // file header
                          40, 0, 0, 0, 19, 0, 0, 0, 19, 0, 0, 0, 1, 0, 1, 0,  // info header
                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                          255, 255, 255, 0, 0, 0, 0, 0};  // white, black
    EXPECT_EQ(Bytes(bmp.begin(), bmp.begin() + 62), header);
    EXPECT_EQ(row(bmp, 0), (Bytes{0x00, 0x40, 0x00, 0x00}));   // only the centre column
    EXPECT_EQ(row(bmp, 1), (Bytes{0x07, 0xFC, 0x00, 0x00}));   // dy = -8
    EXPECT_EQ(row(bmp, 9), (Bytes{0xFF, 0xFF, 0xE0, 0x00}));   // 19 black pixels
    EXPECT_EQ(row(bmp, 18), (Bytes{0x00, 0x40, 0x00, 0x00}));
}

TEST_F(Qvbmp, StrideAndOrientation) {
    // Two points 31 and 32 units apart: widths 32 and 33, bits past the width stay 0.
    const Dot left = {0, 0, 0, nullptr};
    const Dot right32 = {31, 0, 0, const_cast<Dot*>(&left)};
    const Dot right33 = {32, 0, 0, const_cast<Dot*>(&left)};
    EXPECT_EQ(row(plot(&right32, 0, 0, 31, 0), 0), (Bytes{0x80, 0, 0, 0x01}));
    EXPECT_EQ(row(plot(&right33, 0, 0, 32, 0), 0), (Bytes{0x80, 0, 0, 0, 0x80, 0, 0, 0}));

    // An "L" with its foot to the right: the dot with the greatest y is the top line shown
    // (the last file row), the smallest x the left edge.
    const Dot foot = {2, 0, 0, nullptr};
    const Dot corner = {0, 0, 0, const_cast<Dot*>(&foot)};
    const Dot top = {0, 3, 0, const_cast<Dot*>(&corner)};
    Bytes bmp = plot(&top, 0, 0, 2, 3);
    EXPECT_EQ(row(bmp, 0)[0], 0xA0);  // bottom line shown: corner and foot
    EXPECT_EQ(row(bmp, 1)[0], 0x00);
    EXPECT_EQ(row(bmp, 3)[0], 0x80);  // top line shown: the dot at y = 3
    EXPECT_EQ(u32(bmp, 2), bmp.size());
}

TEST_F(Qvbmp, Limits) {
    const Dot point = {0, 0, 0, nullptr};
    EXPECT_EQ(plot(&point, 0, 0, 4095, 0).size(), 62u + 4 * 128);  // 4096 units: written
    EXPECT_TRUE(plot(&point, 0, 0, 4096, 0).empty());               // 4097: refused
    EXPECT_TRUE(plot(&point, 0, 0, 0, 4096).empty());
    EXPECT_TRUE(plot(&point, 0, 0, -1, 0).empty());  // a span of 0 units
    // Only the low 16 bits of a bound slot count: 0xABCDFFF7 is -9.
    const Dot start = {0, 0, 9, nullptr};
    Bytes clean = plot(&start, -9, -9, 9, 9);
    EXPECT_EQ(plot(&start, int32_t(0xABCDFFF7), int32_t(0x1234FFF7), 0x7FFF0009, 9), clean);
    // Overlapping dots join.
    const Dot twin = {0, 0, 9, const_cast<Dot*>(&start)};
    EXPECT_EQ(plot(&twin, -9, -9, 9, 9), clean);
}

TEST_F(Qvbmp, RefusesWithoutTouchingThePath) {
    const Dot start = {0, 0, 9, nullptr};
    char path[QV_PATH_MAX] = "never";
    EXPECT_EQ(plot_(nullptr, -9, -9, 9, 9, path), 0);
    EXPECT_EQ(plot_(&start, -9, -9, 9, 9, nullptr), 0);
    EXPECT_FALSE(fs::exists("never.bmp"));
    // A path whose copy and ".bmp" would not fit 1024 bytes.
    std::string longPath = dir_ / std::string(1019 - (dir_.path().string().size() + 1), 'p');
    ASSERT_EQ(longPath.size(), 1019u);
    std::strcpy(path, longPath.c_str());
    EXPECT_EQ(plot_(&start, -9, -9, 9, 9, path), 0);
    EXPECT_EQ(std::string(path), longPath);
    EXPECT_TRUE(fs::is_empty(dir_.path()));
    std::strcpy(path, (dir_ / "missing/pic").c_str());
    EXPECT_EQ(plot_(&start, -9, -9, 9, 9, path), 0);
    EXPECT_EQ(std::string(path), dir_ / "missing/pic");
}
}  // namespace

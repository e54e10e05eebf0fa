// Grey rasters: limits, smoothing, thresholds and discs.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "quorvel.h"

namespace {
struct GrayDeleter {
    void operator()(GrayImage* image) const { gray_free(image); }
};
using Image = std::unique_ptr<GrayImage, GrayDeleter>;

Image make(uint16_t w, uint16_t h, std::vector<uint8_t> pixels) {
    Image image(gray_create(w, h));
    std::copy(pixels.begin(), pixels.end(), image->pixels);
    return image;
}

std::vector<uint8_t> pixels(const GrayImage* image) {
    return {image->pixels, image->pixels + size_t(image->width) * image->height};
}

TEST(GrayCreate, SidesFromOneTo4096) {
    struct Case {
        uint16_t w, h;
        bool made;
    } cases[] = {{4096, 4096, true}, {1, 1, true},  {4097, 1, false},
                 {1, 4097, false},   {0, 5, false}, {5, 0, false}};
    for (const Case& c : cases) {
        Image image(gray_create(c.w, c.h));
        EXPECT_EQ(image != nullptr, c.made) << c.w << "x" << c.h;
    }
    Image image(gray_create(7, 3));
    ASSERT_TRUE(image);
    EXPECT_EQ(pixels(image.get()), std::vector<uint8_t>(21, 0));
    gray_free(nullptr);
}

TEST(GraySmooth, TruncatedMeanOfFourOneSmaller) {
    Image two = make(2, 2, {255, 255, 255, 254});
    Image one(gray_smooth(two.get()));
    ASSERT_TRUE(one);
    EXPECT_EQ(one->width, 1);
    EXPECT_EQ(one->height, 1);
    EXPECT_EQ(one->pixels[0], 254);  // 1019 / 4, no rounding up

    Image corner = make(3, 3, {255, 0, 0, 0, 0, 0, 0, 0, 0});
    Image smoothed(gray_smooth(corner.get()));
    ASSERT_TRUE(smoothed);
    EXPECT_EQ(pixels(smoothed.get()), (std::vector<uint8_t>{63, 0, 0, 0}));
    EXPECT_EQ(corner->pixels[0], 255);  // the source is left alone

    Image row(gray_create(5, 1)), column(gray_create(1, 5));
    EXPECT_EQ(gray_smooth(row.get()), nullptr);
    EXPECT_EQ(gray_smooth(column.get()), nullptr);
    EXPECT_EQ(gray_smooth(nullptr), nullptr);
}

TEST(GrayThreshold, ModesChooseThresholdAndSense) {
    struct Case {
        int32_t mode;
        std::vector<uint8_t> in;
        std::vector<uint8_t> out;  // mark 1
    } cases[] = {
        {-2, {0, 100, 200, 200}, {1, 0, 0, 0}},  // mean 125, darkest 0: T 62
        {-2, {90, 90, 90, 90}, {0, 0, 0, 0}},    // uniform: nothing strictly below
        {-1, {0, 100, 200, 200}, {1, 1, 0, 0}},  // below the mean 125
        {0, {127, 128, 0, 255}, {0, 1, 0, 1}},   // above 127
        {1, {0, 100, 200, 200}, {0, 0, 1, 1}},   // above the mean
        {2, {0, 100, 200, 210}, {0, 0, 1, 1}},   // mean 127, brightest 210: T 168
        {5, {127, 128, 0, 255}, {0, 1, 0, 1}},   // like mode 0
        {-3, {126, 127, 128, 0}, {1, 0, 0, 1}},  // below 127
    };
    for (const Case& c : cases) {
        Image image = make(2, 2, c.in);
        uint32_t marked = gray_threshold(c.mode, 1, image.get());
        EXPECT_EQ(pixels(image.get()), c.out) << "mode " << c.mode;
        EXPECT_EQ(marked, uint32_t(std::count(c.out.begin(), c.out.end(), 1)));
    }
}

TEST(GrayThreshold, MarkZeroOrNoImageChangesNothing) {
    Image image = make(2, 2, {0, 100, 200, 200});
    EXPECT_EQ(gray_threshold(-2, 0, image.get()), 0u);
    EXPECT_EQ(pixels(image.get()), (std::vector<uint8_t>{0, 100, 200, 200}));
    EXPECT_EQ(gray_threshold(-2, 1, nullptr), 0u);
    EXPECT_EQ(gray_threshold(-2, 7, image.get()), 1u);
    EXPECT_EQ(image->pixels[0], 7);
}

TEST(GrayDisc, BoundaryIncludedNoClipping) {
    Image image(gray_create(19, 19));
    EXPECT_EQ(gray_disc(9, 9, 9, 1, GRAY_SET, image.get()), 253u);
    EXPECT_EQ(gray_disc(9, 9, 0, 2, GRAY_SET, image.get()), 1u);
    EXPECT_EQ(image->pixels[9 * 19 + 9], 3);
    EXPECT_EQ(gray_disc(9, 9, 0, 1, GRAY_CLEAR, image.get()), 1u);
    EXPECT_EQ(image->pixels[9 * 19 + 9], 2);
    EXPECT_EQ(gray_disc(9, 9, 0, 3, GRAY_TOGGLE, image.get()), 1u);
    EXPECT_EQ(image->pixels[9 * 19 + 9], 1);
    // A disc that would cross an edge is left out whole.
    auto before = pixels(image.get());
    EXPECT_EQ(gray_disc(8, 9, 9, 1, GRAY_SET, image.get()), 0u);
    EXPECT_EQ(gray_disc(10, 9, 9, 1, GRAY_SET, image.get()), 0u);
    EXPECT_EQ(gray_disc(9, 10, 9, 1, GRAY_SET, image.get()), 0u);
    EXPECT_EQ(gray_disc(9, 9, 9, 0, GRAY_SET, image.get()), 0u);
    EXPECT_EQ(pixels(image.get()), before);
    EXPECT_EQ(gray_disc(9, 9, 9, 1, GRAY_SET, nullptr), 0u);
}

TEST(GrayWriteBmp, RefusesWhatItCannotWrite) {
    Image image(gray_create(3, 3));
    EXPECT_EQ(gray_write_bmp(nullptr, 1, image.get()), 0u);
    EXPECT_EQ(gray_write_bmp("/nonexistent-folder/x.bmp", 1, image.get()), 0u);
    EXPECT_EQ(gray_write_bmp("/tmp/never.bmp", 1, nullptr), 0u);
}
}  // namespace

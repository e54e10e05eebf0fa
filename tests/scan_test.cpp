// Pictures as a scanner delivers them: the bitmap of a payload enlarged to 3 pixels a unit,
// rotated, blurred, with grey noise and saved as JPEG, read back through the image-import
// plug-ins. Each case states whether the decoder's rules recover the payload; the table in
// README.md ("Reading scanned pictures") is this test's output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "decode_internal.h"
#include "picture_io.h"
#include "quorvel.h"
#include "test_support.h"

namespace {
namespace fs = std::filesystem;
using qvpic::Image;

using qvtest::File;

struct Variant {
    const char* name;
    int scale;        // pixels a unit
    double degrees;   // rotation
    int blur;         // passes of the 1-2-1 blur
    double noise;     // standard deviation of the grey noise, 0 for none
    int jpeg;         // JPEG quality, 0 for PNG
    int dust;         // dark specks: 0 none, 1 on the margin, 2 among the dots
    bool shadow;      // the left edge darkened as under a lifted scanner lid
    bool decodes13;   // the 13-byte payload comes back whole
    bool decodes110;  // so does a 110-byte payload (100 bytes of data)
};

// Measured once and kept: a change in the decoder that changes a row shows here.
const Variant kVariants[] = {
    {"3 px/unit", 3, 0, 0, 0, 0, 0, false, true, true},
    {"3 px/unit, slightly blurred", 3, 0, 1, 0, 0, 0, false, true, true},
    {"3 px/unit, smoothed (4 blur passes)", 3, 0, 4, 0, 0, 0, false, true, true},
    {"3 px/unit, rotated 5 degrees", 3, 5, 0, 0, 0, 0, false, true, true},
    {"3 px/unit, rotated 30 degrees", 3, 30, 0, 0, 0, 0, false, true, true},
    {"3 px/unit, rotated 90 degrees", 3, 90, 0, 0, 0, 0, false, true, true},
    {"3 px/unit, grey noise sigma 25", 3, 0, 0, 25, 0, 0, false, true, true},
    {"3 px/unit, grey noise sigma 50", 3, 0, 0, 50, 0, 0, false, true, true},
    {"3 px/unit, grey noise sigma 80", 3, 0, 0, 80, 0, 0, false, false, false},
    {"3 px/unit, JPEG quality 75", 3, 0, 0, 0, 75, 0, false, true, true},
    {"3 px/unit, JPEG quality 10", 3, 0, 0, 0, 10, 0, false, true, true},
    {"3 px/unit, rotated 5, blurred, noise 10, JPEG 75", 3, 5, 1, 10, 75, 0, false, true, true},
    {"3 px/unit, rotated 30, blurred, noise 25, JPEG 75", 3, 30, 1, 25, 75, 0, false, true, true},
    {"3 px/unit, dust specks on the margin", 3, 0, 0, 0, 0, 1, false, true, true},
    {"3 px/unit, dust specks among the dots", 3, 0, 0, 0, 0, 2, false, false, false},
    {"3 px/unit, shadow along one edge", 3, 0, 0, 0, 0, 0, true, true, true},
    {"2 px/unit, rotated 45, blurred twice, noise 40, JPEG 50", 2, 45, 2, 40, 50, 0, false, false,
     false},
    {"1 px/unit, rotated 30 degrees", 1, 30, 0, 0, 0, 0, false, true, true},
    {"1 px/unit, smoothed (8 blur passes)", 1, 0, 8, 0, 0, 0, false, true, true},
    {"1 px/unit, JPEG quality 20", 1, 0, 0, 0, 20, 0, false, true, true},
    {"1 px/unit, grey noise sigma 25", 1, 0, 0, 25, 0, 0, false, true, true},
    {"1 px/unit, grey noise sigma 50", 1, 0, 0, 50, 0, 0, false, false, false},
};

// What one picture gave: whether the payload came back, and the blobs found against the dots
// of the chain (a difference means specks or dots lost or joined).
struct Outcome {
    bool reads;
    uint32_t blobs;
    size_t bytes;
};

// The read path with the literal start search and walk: every step follows the whole ring.
std::vector<uint8_t> literal_decode(const std::string& path) {
    File stream(std::tmpfile());
    Image image(image_import(path.c_str()));
    Image smoothed(image ? gray_smooth(image.get()) : nullptr);
    if (smoothed && gray_threshold(-2, 1, smoothed.get()))
        dot_decode_ring(blob_label(1, smoothed.get()), stream.get(), true);
    return qvtest::read_stream(stream.get());
}

uint32_t count_blobs(const std::string& path) {
    Image image(image_import(path.c_str()));
    if (!image) return 0;
    Image smoothed(gray_smooth(image.get()));
    if (!smoothed || !gray_threshold(-2, 1, smoothed.get())) return 0;
    Blob* ring = blob_label(1, smoothed.get());
    uint32_t blobs = 0;
    for (Blob* b = ring; b; b = b->next == ring ? nullptr : b->next) ++blobs;
    blob_free_ring(ring);
    return blobs;
}

// A white margin of `units` pixels around the bitmap, as on a printed page.
Image with_margin(const GrayImage* page, int units) {
    Image out(gray_create(uint16_t(page->width + 2 * units), uint16_t(page->height + 2 * units)));
    std::fill_n(out->pixels, size_t(out->width) * out->height, 255);
    for (int y = 0; y < page->height; ++y)
        std::copy_n(page->pixels + size_t(y) * page->width, page->width,
                    &qvpic::at(out.get(), units, y + units));
    return out;
}

class ScannedPictures : public ::testing::Test {
   protected:
    qvtest::TempDir dir;
    fs::path prog = dir.path() / "prog";

    void SetUp() override {
        fs::create_directories(prog);
        qvtest::stage(prog, {"qvbmp.qvp", "bmp.spi", "png.spi", "jpeg.spi"});
        qvtest::run_from(prog);
    }

    // The payload's bitmap, one unit a pixel, as grey.
    Image draw(const std::vector<uint8_t>& payload, const std::string& name) {
        const std::string path = qvtest::draw_bitmap(payload, dir / name);
        EXPECT_EQ(path, (dir / name) + ".bmp");
        return Image(image_import(path.c_str()));
    }

    Outcome reads(const GrayImage* page, const Variant& v, const std::vector<uint8_t>& payload) {
        constexpr int kMargin = 30;
        Image picture = qvpic::scale(with_margin(page, kMargin).get(), v.scale);
        if (v.dust) {
            // Twelve specks of 5 by 5 pixels: in the margin's outer part, or anywhere among
            // the dots.
            std::mt19937 random(12);
            const int m = v.dust == 1 ? kMargin * v.scale / 2 : kMargin * v.scale;
            for (int i = 0; i < 12; ++i) {
                int x = int(random() % uint32_t(picture->width - 2 * m)) + m;
                int y = int(random() % uint32_t(v.dust == 1 ? m - 6 : picture->height - 2 * m));
                if (v.dust == 1)
                    y += 1;
                else
                    y += m;
                for (int dy = 0; dy < 5; ++dy)
                    for (int dx = 0; dx < 5; ++dx) qvpic::at(picture.get(), x + dx, y + dy) = 0;
            }
        }
        if (v.degrees != 0) picture = qvpic::rotate(picture.get(), v.degrees);
        if (v.blur) picture = qvpic::blur(picture.get(), v.blur);
        if (v.shadow) {
            // The left fifth fades from 35% of its brightness at the edge to full.
            const int band = picture->width / 5;
            for (int y = 0; y < picture->height; ++y)
                for (int x = 0; x < band; ++x) {
                    uint8_t& p = qvpic::at(picture.get(), x, y);
                    p = uint8_t(p * (0.35 + 0.65 * x / band));
                }
        }
        if (v.noise > 0) picture = qvpic::noise(picture.get(), v.noise, 75);
        const std::string path = dir / (v.jpeg ? "scan.jpg" : "scan.png");
        EXPECT_TRUE(v.jpeg ? qvpic::write_jpeg(path, picture.get(), v.jpeg)
                           : qvpic::write_png(path, picture.get()));
        std::vector<uint8_t> read = qvtest::decode_picture(path);
        // Specks and broken dots send the walk astray; the fast search must go the same way.
        EXPECT_EQ(read, literal_decode(path)) << v.name;
        const bool ok = read.size() >= payload.size() &&
                        std::equal(payload.begin(), payload.end(), read.begin());
        return {ok, count_blobs(path), read.size()};
    }
};

TEST_F(ScannedPictures, WhatTheDecoderReads) {
    const std::vector<uint8_t> small = {0x0A, 0x1E, 0x09, 0x00, 0x61, 0x2E, 0x74,
                                        0x78, 0x74, 0x00, 0x61, 0x62, 0x63};
    // A 110-byte payload: 100 bytes of random contents (fixed seed), packed under a relative name.
    std::vector<uint8_t> data(100);
    std::mt19937 random(100);
    for (uint8_t& b : data) b = uint8_t(random());
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    qvtest::write_file("d.bin", data);
    File packed(std::tmpfile());
    ASSERT_EQ(payload_pack("d.bin", packed.get()), 100u);
    fs::current_path(before);
    const std::vector<uint8_t> large = qvtest::read_stream(packed.get());

    Image page13 = draw(small, "a.txt"), page100 = draw(large, "d.bin");
    ASSERT_TRUE(page13 && page100);
    std::printf("| picture | 13-byte payload (106 dots) | 110-byte payload (882 dots) |\n");
    std::printf("|---|---|---|\n");
    for (const Variant& v : kVariants) {
        const Outcome a = reads(page13.get(), v, small), b = reads(page100.get(), v, large);
        std::printf("| %s | %s, %u blobs | %s, %u blobs |\n", v.name, a.reads ? "reads" : "fails",
                    a.blobs, b.reads ? "reads" : "fails", b.blobs);
        EXPECT_EQ(a.reads, v.decodes13) << v.name << ", 13 bytes";
        EXPECT_EQ(b.reads, v.decodes110) << v.name << ", 110 bytes";
    }
}

}  // namespace

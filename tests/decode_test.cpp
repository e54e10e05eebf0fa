// Dot decoder: the start-blob search, the running averages, whole bytes only, the walk's ties
// and the grid walk against the literal one, and pictures that must give 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "decode_internal.h"
#include "quorvel.h"
#include "qvdib.h"
#include "test_support.h"

namespace {
struct GrayDeleter {
    void operator()(GrayImage* image) const { gray_free(image); }
};
using Image = std::unique_ptr<GrayImage, GrayDeleter>;
using qvtest::File;

// A blob of exactly count pixels: rows of width pixels from (x, y), the last row partial.
void block(GrayImage* image, int x, int y, int count, int width = 10) {
    for (int i = 0; i < count; ++i)
        image->pixels[(y + i / width) * image->width + x + i % width] = 1;
}

// A mask with a round start blob (253 pixels) and then blobs of the given counts in a row,
// 30 pixels apart, so that each is the nearest to the one before it.
Image chain_mask(const std::vector<int>& counts) {
    Image image(gray_create(uint16_t(60 + 30 * counts.size()), 40));
    gray_disc(15, 15, 9, 1, GRAY_SET, image.get());
    for (size_t i = 0; i < counts.size(); ++i) block(image.get(), 35 + 30 * int(i), 10, counts[i]);
    return image;
}

std::vector<uint8_t> decode_mask(const GrayImage* mask, uint32_t* result, bool literal = false) {
    File stream(std::tmpfile());
    *result = dot_decode_ring(blob_label(1, mask), stream.get(), literal);
    return qvtest::read_stream(stream.get());
}

TEST(DotDecodeRing, RunningAveragesFromTheMarker) {
    // Marker 80: 113 reads 1 (one-average 96, middle 88), 50 reads 0 (zero-average 65, middle
    // 80), 80 equals the middle and reads 0, then 85 1, 81 0, 84 1, 82 1, 80 0: 0b01101001.
    uint32_t result = 0;
    Image mask = chain_mask({80, 113, 50, 80, 85, 81, 84, 82, 80});
    EXPECT_EQ(decode_mask(mask.get(), &result), std::vector<uint8_t>{105});
    EXPECT_EQ(result, 1u);
}

TEST(DotDecodeRing, WholeBytesOnlyLeastSignificantFirst) {
    const int one = 60, zero = 20, marker = 40;
    struct Case {
        std::vector<int> bits;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {{1, 0, 0, 0, 0, 0, 1}, {}},       // seven dots: nothing written
        {{1, 0, 0, 0, 0, 0, 1, 0}, {65}},  // bits 0 and 6
        {{1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}, {65, 0xFE}},  // last bit dropped
        {{}, {}},                                                           // start and marker only
    };
    for (const Case& c : cases) {
        std::vector<int> counts{marker};
        for (int bit : c.bits) counts.push_back(bit ? one : zero);
        Image mask = chain_mask(counts);
        for (bool literal : {false, true}) {
            uint32_t result = 99;
            EXPECT_EQ(decode_mask(mask.get(), &result, literal), c.bytes) << c.bits.size();
            EXPECT_EQ(result, c.bytes.size());
        }
    }
}

TEST(DotFindMarker, StartBlobMustScoreAtLeast224) {
    // A 10 x 12 block scores 223 and is dropped although largest; a 9 x 12 block scores 224
    // and is the start blob, so its neighbour is the marker.
    Image image(gray_create(200, 40));
    block(image.get(), 5, 5, 120, 10);  // 223, nearest to it: the 30-pixel blob
    block(image.get(), 22, 5, 30, 10);
    block(image.get(), 100, 5, 108, 9);  // 224
    block(image.get(), 120, 5, 50, 10);  // its neighbour
    block(image.get(), 170, 5, 40, 10);
    Blob* marker = dot_find_marker(blob_center(blob_label(1, image.get())), false);
    ASSERT_TRUE(marker);
    EXPECT_EQ(marker->count, 50u);
    int blobs = 0;
    for (Blob* b = marker;; b = b->next) {
        ++blobs;
        EXPECT_NE(b->count, 120u);  // the dropped blob has left the ring
        if (b->next == marker) break;
    }
    EXPECT_EQ(blobs, 3);
    blob_free_ring(marker);

    // Only blocks below 224: the ring empties, nothing is left allocated.
    Image flat(gray_create(100, 40));
    block(flat.get(), 5, 5, 120, 10);
    block(flat.get(), 40, 5, 120, 10);
    block(flat.get(), 70, 5, 20, 20);  // a line scores low as well
    EXPECT_EQ(dot_find_marker(blob_center(blob_label(1, flat.get())), false), nullptr);
    uint32_t result = 99;
    EXPECT_TRUE(decode_mask(flat.get(), &result).empty());
    EXPECT_EQ(result, 0u);

    // A start blob without a neighbour.
    Image lone(gray_create(40, 40));
    gray_disc(15, 15, 9, 1, GRAY_SET, lone.get());
    EXPECT_EQ(dot_find_marker(blob_center(blob_label(1, lone.get())), false), nullptr);
    EXPECT_EQ(dot_find_marker(nullptr, false), nullptr);
}

// The blobs of a ring in ring order from the one given: point and count.
std::vector<std::array<int64_t, 3>> ring_seen(const Blob* ring) {
    std::vector<std::array<int64_t, 3>> seen;
    for (const Blob* b = ring; b; b = b->next == ring ? nullptr : b->next)
        seen.push_back({b->x, b->y, b->count});
    return seen;
}

TEST(DotFindStart, OrderByCountTakesTheLiteralCandidates) {
    // Noise (fixed seed) makes many ragged blobs larger than the first round one, so the
    // search refuses dozens of candidates, among them many of equal counts.
    std::mt19937 random(224);
    size_t most_refused = 0;
    for (int round = 0; round < 60; ++round) {
        const int w = 20 + int(random() % 150), h = 20 + int(random() % 150);
        const int density = 15 + int(random() % 40);
        Image image(gray_create(uint16_t(w), uint16_t(h)));
        for (int i = 0; i < w * h; ++i) image->pixels[i] = int(random() % 100) < density;
        const int skip = int(random() % 50);
        std::vector<std::array<int64_t, 3>> after[2];
        size_t blobs = 0;
        for (bool literal : {false, true}) {
            Blob* ring = blob_center(blob_label(1, image.get()));
            for (int k = 0; k < skip; ++k) ring = ring->next;
            blobs = ring_seen(ring).size();
            Blob* start = dot_find_start(ring, literal);
            after[literal] = ring_seen(start);
            blob_free_ring(start);
        }
        EXPECT_EQ(after[0], after[1]) << "round " << round;
        most_refused = std::max(most_refused, blobs - after[1].size());
    }
    EXPECT_GT(most_refused, 100u);  // the order by count was used, not only the first tries
}

// Records the blobs a walk reaches, each known by its count, which the tests make unique.
void record(void* context, const Blob* blob) {
    static_cast<std::vector<uint32_t>*>(context)->push_back(blob->count);
}

// A ring of blobs at the given points in ring order, each count its index; first is index 0.
Blob* ring_of(const std::vector<std::pair<int, int>>& points) {
    Blob* first = nullptr;
    for (size_t i = 0; i < points.size(); ++i) {
        Blob* b = blob_new(int16_t(points[i].first), int16_t(points[i].second), first);
        b->count = uint32_t(i);
        if (!first) first = b;
    }
    return first;
}

std::vector<uint32_t> walk(const std::vector<std::pair<int, int>>& points, bool literal) {
    std::vector<uint32_t> seen;
    dot_walk(ring_of(points), literal, record, &seen);
    return seen;
}

TEST(DotWalk, TieGoesToTheFirstInRingOrder) {
    for (bool literal : {false, true}) {
        EXPECT_EQ(walk({{0, 0}, {5, 0}, {-5, 0}}, literal), (std::vector<uint32_t>{1, 2}));
        EXPECT_EQ(walk({{0, 0}, {-5, 0}, {5, 0}}, literal), (std::vector<uint32_t>{1, 2}));
        // After removals: from 2 the ties 1 and 3 (0 is gone) go to 3, which follows 2.
        EXPECT_EQ(walk({{0, 0}, {10, 3}, {10, 0}, {10, -3}, {10, 6}}, literal),
                  (std::vector<uint32_t>{2, 3, 1, 4}));
        EXPECT_TRUE(walk({{7, 7}}, literal).empty());
    }
}

TEST(DotWalk, GridWalkTakesTheLiteralSteps) {
    // Fixed seeds. Small lattices are full of equal distances and of blobs on one point;
    // clusters with far strays make the grid give up and compare everything; a spread beyond
    // 16 bits must follow blob_nearest's wrapped differences.
    std::mt19937 random(1211);
    auto points = [&](int n, int lo, int hi, int step) {
        std::vector<std::pair<int, int>> p;
        std::uniform_int_distribution<int> at(lo / step, hi / step);
        for (int i = 0; i < n; ++i) p.push_back({at(random) * step, at(random) * step});
        return p;
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<std::pair<int, int>> p;
        switch (round % 5) {
            case 0:
                p = points(1 + int(random() % 400), 0, 30, 3);
                break;
            case 1:
                p = points(1 + int(random() % 2000), 0, 4000, 1);
                break;
            case 2:
                p = points(1 + int(random() % 600), -200, 200, 5);
                break;
            case 3: {
                p = points(500, 1000, 1100, 1);
                auto far = points(1 + int(random() % 40), 0, 30000, 7);
                p.insert(p.end() - int(random() % 500), far.begin(), far.end());
                break;
            }
            default:
                p = points(1 + int(random() % 300), -32000, 32000, 1);
                break;
        }
        ASSERT_EQ(walk(p, false), walk(p, true)) << "round " << round;
    }
}

TEST(DotWalk, GridWalkOnLabelledDiscs) {
    // Pictures of random discs, labelled and centred as the decoder does, walked from each
    // of a few blobs.
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        Image image(gray_create(400, 300));
        for (int i = 0; i < 250; ++i)
            gray_disc(uint16_t(10 + random() % 380), uint16_t(10 + random() % 280),
                      uint16_t(1 + random() % 6), 1, GRAY_SET, image.get());
        std::vector<std::vector<uint32_t>> walks;
        for (bool literal : {false, true}) {
            Blob* ring = blob_center(blob_label(1, image.get()));
            for (int skip = round; skip > 0; --skip) ring = ring->next;
            int id = 0;  // counts become identities; the walk does not read them
            for (Blob* b = ring;; b = b->next) {
                b->count = uint32_t(id++);
                if (b->next == ring) break;
            }
            std::vector<uint32_t> seen;
            dot_walk(ring, literal, record, &seen);
            walks.push_back(seen);
        }
        EXPECT_EQ(walks[0], walks[1]) << "round " << round;
    }
}

// Pictures read through the test plug-in that takes bitmaps as they stand.
class DotDecodeTest : public ::testing::Test {
   protected:
    qvtest::TempDir dir;
    void SetUp() override {
        qvtest::stage(dir.path(), {"ti_pic.spi"});
        qvtest::run_from(dir.path());
    }
    std::string picture(const GrayImage* image) {
        std::string path = dir / "picture.qvdib";
        qvtest::write_file(path, qvdib::grey_file(image->width, image->height, image->pixels));
        return path;
    }
    uint32_t decode(const std::string& path, std::vector<uint8_t>* bytes = nullptr) {
        uint32_t result = 0;
        std::vector<uint8_t> read = qvtest::decode_picture(path, &result);
        if (bytes) *bytes = read;
        return result;
    }
};

// Black discs on white: a start dot, a marker and one dot per bit along a row.
Image disc_picture(const std::vector<int>& bits) {
    Image image(gray_create(uint16_t(60 + 26 * bits.size()), 32));
    std::fill_n(image->pixels, size_t(image->width) * image->height, 255);
    gray_disc(14, 15, 9, 255, GRAY_CLEAR, image.get());
    gray_disc(38, 15, 5, 255, GRAY_CLEAR, image.get());
    for (size_t i = 0; i < bits.size(); ++i)
        gray_disc(uint16_t(62 + 26 * i), 15, bits[i] ? 6 : 4, 255, GRAY_CLEAR, image.get());
    return image;
}

TEST_F(DotDecodeTest, ReadsDiscsThroughAPlugin) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(decode(picture(disc_picture({1, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0}).get()), &bytes), 1u);
    EXPECT_EQ(bytes, std::vector<uint8_t>{65});
    EXPECT_EQ(decode(picture(disc_picture({1, 0, 0, 0, 0, 0, 1}).get()), &bytes), 0u);
    EXPECT_TRUE(bytes.empty());
}

TEST_F(DotDecodeTest, BadPicturesGiveZero) {
    const std::string text = dir / "notes.txt", empty = dir / "empty.qvdib";
    qvtest::write_file(text, {'n', 'o', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'});
    qvtest::write_file(empty, {});
    EXPECT_EQ(decode(text), 0u);
    EXPECT_EQ(decode(empty), 0u);

    std::vector<uint8_t> whole =
        qvtest::read_file(picture(disc_picture({1, 0, 1, 0, 1, 0, 1, 0}).get()));
    std::string cut = dir / "cut.qvdib";
    qvtest::write_file(cut, std::vector<uint8_t>(whole.begin(), whole.end() - 100));
    EXPECT_EQ(decode(cut), 0u);

    Image one(gray_create(1, 1)), row(gray_create(40, 1));
    EXPECT_EQ(decode(picture(one.get())), 0u);
    EXPECT_EQ(decode(picture(row.get())), 0u);

    Image white(gray_create(50, 50));
    std::fill_n(white->pixels, 2500, 255);
    EXPECT_EQ(decode(picture(white.get())), 0u);  // no dark pixel

    gray_disc(25, 25, 9, 255, GRAY_CLEAR, white.get());
    EXPECT_EQ(decode(picture(white.get())), 0u);  // a single blob

    File stream(std::tmpfile());
    EXPECT_EQ(dot_decode(nullptr, stream.get()), 0u);
    EXPECT_EQ(dot_decode(picture(disc_picture({1, 0, 1, 0, 1, 0, 1, 0}).get()).c_str(), nullptr),
              0u);
    EXPECT_EQ(dot_decode((dir / "missing").c_str(), stream.get()), 0u);
}

}  // namespace

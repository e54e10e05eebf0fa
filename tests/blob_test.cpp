// Blobs: labelling, ring order and ties, centring, roundness and removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "quorvel.h"

namespace {
struct GrayDeleter {
    void operator()(GrayImage* image) const { gray_free(image); }
};
using Image = std::unique_ptr<GrayImage, GrayDeleter>;
struct RingDeleter {
    void operator()(Blob* ring) const { blob_free_ring(ring); }
};
using Ring = std::unique_ptr<Blob, RingDeleter>;

using Points = std::vector<std::pair<int, int>>;

Image mask_image(int w, int h, const Points& marked, uint8_t value = 1) {
    Image image(gray_create(uint16_t(w), uint16_t(h)));
    for (auto [x, y] : marked) image->pixels[y * w + x] = value;
    return image;
}

// The blobs of a ring in ring order from the one given: reference point and count.
struct Seen {
    int x, y;
    uint32_t count;
    bool operator==(const Seen&) const = default;
};
std::vector<Seen> ring_order(const Blob* ring) {
    std::vector<Seen> seen;
    if (!ring) return seen;
    const Blob* b = ring;
    do {
        seen.push_back({b->x, b->y, b->count});
        EXPECT_EQ(b->next->prev, b);
        b = b->next;
    } while (b != ring);
    return seen;
}

// Pixel positions of a blob, checking the list's invariants on the way.
std::set<std::pair<int, int>> positions(const Blob* blob) {
    std::set<std::pair<int, int>> at;
    uint32_t length = 0;
    for (const BlobPixel* p = blob->pixels; p; p = p->next, ++length) {
        EXPECT_EQ(p->owner, blob);
        at.insert({blob->x + p->dx, blob->y + p->dy});
    }
    EXPECT_EQ(length, blob->count);
    return at;
}

uint32_t centred_score(int w, int h, const Points& marked) {
    Image image = mask_image(w, h, marked);
    Ring ring(blob_center(blob_label(1, image.get())));
    EXPECT_TRUE(ring);
    EXPECT_EQ(ring->next, ring.get()) << "one blob expected";
    return blob_roundness(ring.get());
}

TEST(BlobLabel, NothingMarkedGivesNone) {
    Image blank(gray_create(4, 4));
    EXPECT_EQ(blob_label(1, blank.get()), nullptr);
    Image marked = mask_image(2, 2, {{0, 0}}, 2);
    EXPECT_EQ(blob_label(1, marked.get()), nullptr);  // value & mask is 0
    EXPECT_EQ(blob_label(0, marked.get()), nullptr);
    EXPECT_EQ(blob_label(1, nullptr), nullptr);
}

TEST(BlobLabel, CornersDoNotJoin) {
    Image image = mask_image(3, 3, {{0, 0}, {2, 0}, {0, 2}, {2, 2}});
    Ring ring(blob_label(1, image.get()));
    std::vector<Seen> seen = ring_order(ring.get());
    ASSERT_EQ(seen.size(), 4u);
    for (const Seen& s : seen) EXPECT_EQ(s.count, 1u);
}

TEST(BlobLabel, RingOrderAndTies) {
    // Each new blob goes in just before the current one, and the last one made is returned.
    Image two = mask_image(3, 1, {{0, 0}, {2, 0}});
    Ring pair(blob_label(1, two.get()));
    EXPECT_EQ(ring_order(pair.get()), (std::vector<Seen>{{2, 0, 1}, {0, 0, 1}}));
    EXPECT_EQ(blob_largest(pair.get()), pair.get());  // equal counts: the first met

    Image three = mask_image(5, 1, {{0, 0}, {2, 0}, {4, 0}});
    Ring ring(blob_label(1, three.get()));
    EXPECT_EQ(ring_order(ring.get()), (std::vector<Seen>{{4, 0, 1}, {2, 0, 1}, {0, 0, 1}}));
    Blob* middle = ring->next;
    EXPECT_EQ(ring_order(middle), (std::vector<Seen>{{2, 0, 1}, {0, 0, 1}, {4, 0, 1}}));
    Blob* nearest = blob_nearest(middle);
    ASSERT_TRUE(nearest);
    EXPECT_EQ(nearest->x, 0);  // (0, 0) and (4, 0) are equally far: the first met after
}

TEST(BlobLabel, SurvivorOfMergesKeepsItsPoint) {
    // Top row: marked, unmarked, marked; bottom row all marked. The last merge goes into the
    // upper right blob, so its point (2, 0) survives; centring moves it by -5/5 and 3/5 -> 0.
    Image image = mask_image(3, 2, {{0, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}});
    Ring ring(blob_label(1, image.get()));
    ASSERT_TRUE(ring);
    EXPECT_EQ(ring_order(ring.get()), (std::vector<Seen>{{2, 0, 5}}));
    EXPECT_EQ(positions(ring.get()),
              (std::set<std::pair<int, int>>{{0, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}}));
    EXPECT_EQ(blob_center(ring.get()), ring.get());
    EXPECT_EQ(ring->x, 1);
    EXPECT_EQ(ring->y, 0);
    EXPECT_EQ(positions(ring.get()).size(), 5u);  // the pixels stay where they are

    // A vertical pair: mean row offset 1/2 truncates, the point stays on the upper pixel.
    Image pair = mask_image(1, 2, {{0, 0}, {0, 1}});
    Ring vertical(blob_center(blob_label(1, pair.get())));
    EXPECT_EQ(ring_order(vertical.get()), (std::vector<Seen>{{0, 0, 2}}));

    // A negative mean truncates toward zero: offsets 0, -3, -2, -1, 0 from (3, 0) average
    // -6/5, and the point moves by -1.
    Image hook = mask_image(4, 2, {{3, 0}, {0, 1}, {1, 1}, {2, 1}, {3, 1}});
    Ring bent(blob_label(1, hook.get()));
    EXPECT_EQ(ring_order(bent.get()), (std::vector<Seen>{{3, 0, 5}}));
    blob_center(bent.get());
    EXPECT_EQ(ring_order(bent.get()), (std::vector<Seen>{{2, 0, 5}}));
}

TEST(BlobLabel, GroupsMatchFloodFillOnNoise) {
    // Random masks (fixed seed) against a plain 4-neighbour flood fill.
    std::mt19937 random(20261211);
    for (int round = 0; round < 20; ++round) {
        const int w = 1 + int(random() % 60), h = 1 + int(random() % 60);
        const int density = 20 + int(random() % 60);
        Image image(gray_create(uint16_t(w), uint16_t(h)));
        for (int i = 0; i < w * h; ++i) image->pixels[i] = int(random() % 100) < density ? 3 : 0;
        std::vector<int> label(w * h, -1);
        std::set<std::set<std::pair<int, int>>> expected;
        for (int start = 0; start < w * h; ++start) {
            if (!image->pixels[start] || label[start] >= 0) continue;
            std::set<std::pair<int, int>> group;
            std::vector<int> stack{start};
            label[start] = start;
            while (!stack.empty()) {
                int i = stack.back();
                stack.pop_back();
                int x = i % w, y = i / w;
                group.insert({x, y});
                const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
                for (auto [nx, ny] : next) {
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                    int j = ny * w + nx;
                    if (image->pixels[j] && label[j] < 0) label[j] = start, stack.push_back(j);
                }
            }
            expected.insert(group);
        }
        Ring ring(blob_label(2, image.get()));
        std::set<std::set<std::pair<int, int>>> got;
        if (ring) {
            const Blob* b = ring.get();
            do {
                got.insert(positions(b));
                b = b->next;
            } while (b != ring.get());
        }
        EXPECT_EQ(got, expected) << "round " << round;
    }
}

// The labelling pass in its plainest form: a one-pixel blob per marked pixel, merged into its
// left and then its upper neighbour's blob, every pixel moved at every merge.
Blob* literal_label(const GrayImage* image) {
    const int w = image->width, h = image->height;
    std::vector<BlobPixel*> cell(size_t(w) * h, nullptr);
    Blob* current = nullptr;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!image->pixels[y * w + x]) continue;
            current = blob_new(int16_t(x), int16_t(y), current);
            BlobPixel*& here = cell[y * w + x];
            here = current->pixels;
            if (x > 0 && cell[y * w + x - 1])
                current = blob_merge(here->owner, cell[y * w + x - 1]->owner);
            if (y > 0 && cell[(y - 1) * w + x])
                current = blob_merge(here->owner, cell[(y - 1) * w + x]->owner);
        }
    return current;
}

TEST(BlobLabel, SameRingAsMovingEveryPixelAtEveryMerge) {
    // Random masks of every density (fixed seed), and combs whose teeth join a bar below, where
    // a growing blob merges into one small blob after another.
    std::mt19937 random(1024);
    std::vector<Image> images;
    for (int round = 0; round < 40; ++round) {
        const int w = 1 + int(random() % 90), h = 1 + int(random() % 90);
        const int density = int(random() % 101);
        Image image(gray_create(uint16_t(w), uint16_t(h)));
        for (int i = 0; i < w * h; ++i) image->pixels[i] = int(random() % 100) < density;
        images.push_back(std::move(image));
    }
    Points comb;
    for (int x = 0; x < 40; ++x) comb.push_back({x, 9});
    for (int x = 0; x < 40; x += 2)
        for (int y = int(x % 7); y < 9; ++y) comb.push_back({x, y});
    images.push_back(mask_image(40, 10, comb));
    for (const Image& image : images) {
        Ring fast(blob_label(1, image.get())), slow(literal_label(image.get()));
        ASSERT_EQ(fast == nullptr, slow == nullptr);
        EXPECT_EQ(ring_order(fast.get()), ring_order(slow.get()));
        for (const Blob *a = fast.get(), *b = slow.get(); a; a = a->next, b = b->next) {
            EXPECT_EQ(positions(a), positions(b));
            if (a->next == fast.get()) break;
        }
    }
}

TEST(BlobNewMerge, MovesPixelsIntoTheDestination) {
    Blob* a = blob_new(10, 20, nullptr);
    ASSERT_TRUE(a);
    EXPECT_EQ(ring_order(a), (std::vector<Seen>{{10, 20, 1}}));
    Blob* b = blob_new(12, 21, a);  // just before a
    Blob* c = blob_new(30, 40, a);  // just before a, after b
    EXPECT_EQ(ring_order(a), (std::vector<Seen>{{10, 20, 1}, {12, 21, 1}, {30, 40, 1}}));
    EXPECT_EQ(blob_merge(b, b), b);
    EXPECT_EQ(blob_merge(nullptr, b), b);
    EXPECT_EQ(blob_merge(b, nullptr), nullptr);

    EXPECT_EQ(blob_merge(b, a), a);  // b's pixel now at offset (2, 1) from a, in front
    EXPECT_EQ(ring_order(a), (std::vector<Seen>{{10, 20, 2}, {30, 40, 1}}));
    EXPECT_EQ(a->pixels->dx, 2);
    EXPECT_EQ(a->pixels->dy, 1);
    EXPECT_EQ(a->pixels->next->dx, 0);
    EXPECT_EQ(blob_merge(a, c), c);  // the source's pixels arrive in reverse order
    EXPECT_EQ(ring_order(c), (std::vector<Seen>{{30, 40, 3}}));
    EXPECT_EQ(c->pixels->dx, -20);
    EXPECT_EQ(c->pixels->dy, -20);
    EXPECT_EQ(c->pixels->next->dx, -18);
    EXPECT_EQ(c->pixels->next->dy, -19);
    EXPECT_EQ(positions(c), (std::set<std::pair<int, int>>{{10, 20}, {12, 21}, {30, 40}}));
    EXPECT_EQ(blob_remove(c), nullptr);
}

TEST(BlobRoundness, ScoresOfSmallShapes) {
    EXPECT_EQ(centred_score(1, 1, {{0, 0}}), 255u);
    EXPECT_EQ(centred_score(2, 1, {{0, 0}, {1, 0}}), 127u);
    EXPECT_EQ(centred_score(2, 2, {{0, 0}, {1, 0}, {0, 1}, {1, 1}}), 191u);
    Points square, line;
    for (int i = 0; i < 9; ++i) square.push_back({i % 3, i / 3});
    for (int i = 0; i < 5; ++i) line.push_back({i, 0});
    EXPECT_EQ(centred_score(3, 3, square), 255u);
    EXPECT_EQ(centred_score(5, 1, line), 153u);
    // Rectangles on either side of the start dot's limit of 224.
    Points a, b;
    for (int i = 0; i < 120; ++i) a.push_back({i % 10, i / 10});
    for (int i = 0; i < 108; ++i) b.push_back({i % 9, i / 9});
    EXPECT_EQ(centred_score(10, 12, a), 223u);
    EXPECT_EQ(centred_score(9, 12, b), 224u);
    EXPECT_EQ(blob_roundness(nullptr), 0u);
}

TEST(BlobQueries, LargestTakesTheFirstOfEqualCounts) {
    // Runs of 2, 3, 1 and 3 pixels; from the returned blob the ring holds 3, 1, 3, 2.
    Image image = mask_image(
        12, 1, {{0, 0}, {1, 0}, {3, 0}, {4, 0}, {5, 0}, {7, 0}, {9, 0}, {10, 0}, {11, 0}});
    Ring ring(blob_label(1, image.get()));
    std::vector<Seen> seen = ring_order(ring.get());
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].count, 3u);  // the last run, (9..11, 0), made last
    Blob* largest = blob_largest(ring->next);
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->x, 3);  // from the blob at 7, the run at 3 is met before the one at 9
    EXPECT_EQ(blob_largest(ring.get()), ring.get());
    EXPECT_EQ(blob_largest(nullptr), nullptr);
}

TEST(BlobQueries, NearestUsesSixteenBitDifferences) {
    // 30000 - (-30000) wraps to -5536 in 16 bits, nearer than the blob at the origin.
    Blob* far = blob_new(30000, 0, nullptr);
    Blob* origin = blob_new(0, 0, far);
    Blob* other = blob_new(-30000, 0, far);
    EXPECT_EQ(blob_nearest(far), other);
    EXPECT_EQ(blob_nearest(origin), other);  // a tie at 30000: other comes first after origin
    blob_free_ring(origin);
}

TEST(BlobQueries, LoneBlobAndNone) {
    Blob* alone = blob_new(3, 4, nullptr);
    EXPECT_EQ(blob_nearest(alone), nullptr);
    EXPECT_EQ(blob_remove(alone), nullptr);
    EXPECT_EQ(blob_nearest(nullptr), nullptr);
    EXPECT_EQ(blob_remove(nullptr), nullptr);
    EXPECT_EQ(blob_center(nullptr), nullptr);
    blob_free_ring(nullptr);

    Blob* a = blob_new(0, 0, nullptr);
    Blob* b = blob_new(1, 0, a);
    EXPECT_EQ(blob_remove(a), b);  // the former next
    EXPECT_EQ(ring_order(b), (std::vector<Seen>{{1, 0, 1}}));
    blob_free_ring(b);
}

}  // namespace

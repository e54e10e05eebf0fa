// Dot layout: known chains, the corner of the SHA-256 stream, and the indexed search against
// the literal scan.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "literal_layout.h"
#include "quorvel.h"
#include "sha256.h"
#include "test_support.h"

namespace {
using qvtest::PlacedDot;

const std::vector<uint8_t> kExamplePayload = {0x0A, 0x1E, 0x09, 0x00, 0x61, 0x2E, 0x74,
                                              0x78, 0x74, 0x00, 0x61, 0x62, 0x63};

// Lays out bytes with the engine: start dot, marker, 8 dots a byte; stops at the first
// placement that fails. Returns the dots oldest first.
std::vector<PlacedDot> engine_layout(const std::vector<uint8_t>& bytes, bool* cornered) {
    Dot* chain = dot_place(9, 9, nullptr);
    Dot* next = dot_place(5, 9, chain);
    for (size_t i = 0; next && i < bytes.size(); ++i)
        for (int mask = 1; next && mask <= 128; mask <<= 1) {
            chain = next;
            next = dot_place((bytes[i] & mask) ? 6 : 4, 9, chain);
        }
    if (next) chain = next;
    *cornered = next == nullptr;
    std::vector<PlacedDot> dots;
    for (const Dot* d = chain; d; d = d->link) dots.insert(dots.begin(), {d->x, d->y, d->size, 0});
    dot_free_chain(chain);
    return dots;
}

// The direction index is the encoder's own; the literal oracle reports it, so compare dots
// by position and size only.
std::vector<PlacedDot> positions(std::vector<PlacedDot> dots) {
    for (PlacedDot& d : dots) d.direction = 0;
    return dots;
}

FILE* stream_of(const std::vector<uint8_t>& bytes) {
    FILE* f = std::tmpfile();
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

// The recording plug-in beside the "program": its log lists every call.
struct Recorder : qvtest::PluginFolder {
    Recorder() : PluginFolder({"tp_rec.qvp"}) {}
};

TEST(DotPlace, FirstTenDotsOfEveryChain) {
    // Every payload begins with the marker byte 0x0A: bits 0,1,0,1,0,0,0,0.
    const PlacedDot expected[] = {
        {0, 0, 9, 0},     {-23, 0, 5, 128}, {-21, 17, 4, 58},  {-6, 28, 6, 26},  {12, 26, 4, 250},
        {25, 13, 6, 223}, {28, -5, 4, 199}, {19, -18, 4, 167}, {5, -26, 4, 148}, {-11, -24, 4, 121},
    };
    bool cornered;
    std::vector<PlacedDot> literal = qvtest::literal_layout({0x0A}, &cornered);
    ASSERT_FALSE(cornered);
    EXPECT_EQ(literal, std::vector<PlacedDot>(std::begin(expected), std::end(expected)));
    std::vector<PlacedDot> engine = engine_layout({0x0A}, &cornered);
    EXPECT_EQ(engine, positions(literal));
    // Each offset is the truncated step along its direction index.
    for (size_t i = 1; i < std::size(expected); ++i) {
        const PlacedDot &p = expected[i - 1], &q = expected[i];
        const double d = p.size + q.size + 9, theta = q.direction * 0.02454369260617026;
        EXPECT_EQ(q.x - p.x, int(std::trunc(d * std::cos(theta)))) << "dot " << i;
        EXPECT_EQ(q.y - p.y, int(std::trunc(d * std::sin(theta)))) << "dot " << i;
    }
}

TEST(DotPlace, ExamplePayloadChain) {
    bool cornered;
    std::vector<PlacedDot> dots = engine_layout(kExamplePayload, &cornered);
    ASSERT_FALSE(cornered);
    ASSERT_EQ(dots.size(), 106u);
    EXPECT_EQ(dots.back(), (PlacedDot{-132, 35, 4, 0}));
    // The 18th dot lies exactly at the clearance 26 from the 4th: equal is not a collision.
    EXPECT_EQ(dots[17], (PlacedDot{4, 52, 4, 0}));
    EXPECT_EQ(dots[16], (PlacedDot{-12, 54, 4, 0}));
    EXPECT_EQ(dots[3], (PlacedDot{-6, 28, 6, 0}));

    Dot* chain = nullptr;
    for (const PlacedDot& d : dots) chain = dot_new(d.x, d.y, d.size, chain);
    int16_t minx, miny, maxx, maxy;
    EXPECT_EQ(dot_bounds(&minx, &miny, &maxx, &maxy, chain), 106u);
    EXPECT_EQ(std::vector<int>({minx, miny, maxx, maxy}), std::vector<int>({-144, -113, 116, 120}));
    EXPECT_EQ(dot_bounds(nullptr, &miny, &maxx, &maxy, chain), 0u);
    EXPECT_EQ(dot_bounds(&minx, &miny, &maxx, nullptr, chain), 0u);
    dot_free_chain(chain);
}

TEST(DotPlace, IndexedSearchMatchesLiteralScan) {
    std::vector<std::vector<uint8_t>> streams = {
        kExamplePayload, {0xFF, 0x00, 0xFF, 0x00}, qvtest::counter_digest_stream(4220)};
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        std::mt19937 rng(seed);
        std::vector<uint8_t> bytes(800 * seed);
        for (uint8_t& b : bytes) b = uint8_t(rng());
        streams.push_back(bytes);
    }
    for (const auto& bytes : streams) {
        bool literalCornered, engineCornered;
        auto literal = qvtest::literal_layout(bytes, &literalCornered);
        auto engine = engine_layout(bytes, &engineCornered);
        EXPECT_EQ(engineCornered, literalCornered) << bytes.size() << " bytes";
        EXPECT_TRUE(engine == positions(literal)) << bytes.size() << " bytes";
    }
}

TEST(DotPlace, Sha256StreamCornersAtDot33760) {
    bool cornered;
    auto dots = engine_layout(qvtest::counter_digest_stream(4220), &cornered);
    EXPECT_TRUE(cornered);
    EXPECT_EQ(dots.size(), 33760u);  // bit 6 of the 4220th byte finds no free direction
}

TEST(DotPlace, RangeAndStartDot) {
    Dot* start = dot_new(32760, 0, 9, nullptr);
    EXPECT_EQ(dot_place(9, 9, start), nullptr);  // 32760 + 27 leaves the 16-bit range
    dot_free_chain(start);
    Dot* fresh = dot_place(7, 1, nullptr);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ((PlacedDot{fresh->x, fresh->y, fresh->size, 0}), (PlacedDot{0, 0, 7, 0}));
    EXPECT_EQ(fresh->link, nullptr);
    dot_free_chain(fresh);
    dot_free_chain(nullptr);
}

TEST(DotEncode, SizesFollowTheBits) {
    Recorder recorder;
    FILE* in = stream_of({0xFF, 0x00});
    char path[QV_PATH_MAX] = "bits";
    EXPECT_EQ(dot_encode(in, path, nullptr), 2u);
    std::fclose(in);
    bool cornered;
    auto dots = engine_layout({0xFF, 0x00}, &cornered);
    ASSERT_EQ(dots.size(), 18u);
    for (size_t i = 2; i < 10; ++i) EXPECT_EQ(dots[i].size, 6u);
    for (size_t i = 10; i < 18; ++i) EXPECT_EQ(dots[i].size, 4u);
    EXPECT_STREQ(path, "bits.rec");
}

TEST(DotEncode, CornerFailsWithoutPlugInAndNextStartsAfresh) {
    Recorder recorder;
    char path[QV_PATH_MAX] = "out";
    FILE* tooLong = stream_of(qvtest::counter_digest_stream(4220));
    EXPECT_EQ(dot_encode(tooLong, path, nullptr), 0u);
    std::fclose(tooLong);
    EXPECT_EQ(recorder.calls(), "");
    EXPECT_STREQ(path, "out");

    // The next chain starts from the start dot with direction 0 again.
    FILE* example = stream_of(kExamplePayload);
    EXPECT_EQ(dot_encode(example, path, ""), 13u);
    std::fclose(example);
    EXPECT_EQ(recorder.calls(), "tp_rec plot -144 -113 116 120 106 out\n");

    FILE* fits = stream_of(qvtest::counter_digest_stream(4219));
    std::strcpy(path, "big");
    EXPECT_EQ(dot_encode(fits, path, nullptr), 4219u);
    std::fclose(fits);
    EXPECT_NE(recorder.calls().find(" 33754 big\n"), std::string::npos) << recorder.calls();
}

TEST(DotEncode, NothingToEncode) {
    Recorder recorder;
    char path[QV_PATH_MAX] = "x";
    FILE* empty = std::tmpfile();
    EXPECT_EQ(dot_encode(empty, path, nullptr), 0u);
    EXPECT_EQ(dot_encode(nullptr, path, nullptr), 0u);
    EXPECT_EQ(dot_encode(empty, nullptr, nullptr), 0u);
    std::fclose(empty);
    EXPECT_EQ(recorder.calls(), "");
    // No plug-in renders it: 0, and the chain is still released (asan).
    FILE* in = stream_of(kExamplePayload);
    EXPECT_EQ(dot_encode(in, path, "No such plug-in"), 0u);
    std::fclose(in);
    EXPECT_STREQ(path, "x");
}
}  // namespace

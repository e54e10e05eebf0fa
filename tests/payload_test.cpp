// Payload container: the packed bytes, the size limit and every way unpacking refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "quorvel.h"
#include "test_support.h"

namespace {
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const Bytes kExample = {0x0A, 0x1E, 0x09, 0x00, 0x61, 0x2E, 0x74,
                        0x78, 0x74, 0x00, 0x61, 0x62, 0x63};

// Runs each test inside its own temporary folder, so relative names land there.
class Payload : public ::testing::Test {
   protected:
    void SetUp() override {
        old_ = fs::current_path();
        fs::current_path(dir_.path());
    }
    void TearDown() override { fs::current_path(old_); }

    static FILE* stream_of(const Bytes& bytes) {
        FILE* f = std::tmpfile();
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::rewind(f);
        return f;
    }
    // Unpacks bytes into a 1024-byte buffer holding prefix; returns the result.
    static uint16_t unpack(const Bytes& bytes, char* dir, size_t capacity = QV_PATH_MAX) {
        FILE* in = stream_of(bytes);
        uint16_t n = payload_unpack(in, dir, capacity);
        std::fclose(in);
        return n;
    }

    qvtest::TempDir dir_;
    fs::path old_;
};

TEST_F(Payload, SumIsAdditionModulo256) {
    const uint8_t bytes[] = {200, 100, 1};
    EXPECT_EQ(payload_sum(bytes, 3, 0), 45);
    EXPECT_EQ(payload_sum(bytes, 3, 211), 0);
    EXPECT_EQ(payload_sum(nullptr, 3, 7), 7);
    EXPECT_EQ(payload_sum(bytes, 0, 7), 7);
}

TEST_F(Payload, PacksTheExampleByteForByte) {
    qvtest::write_file("a.txt", {'a', 'b', 'c'});
    FILE* out = std::tmpfile();
    EXPECT_EQ(payload_pack("a.txt", out), 3);
    EXPECT_EQ(qvtest::read_stream(out), kExample);
    std::fclose(out);
}

TEST_F(Payload, BodyLimitIs65535) {
    // Name "a.txt" and its terminator take 6 bytes of the body.
    qvtest::write_file("a.txt", Bytes(65535 - 6, 'x'));
    FILE* out = std::tmpfile();
    EXPECT_EQ(payload_pack("a.txt", out), 65529);
    Bytes packed = qvtest::read_stream(out);
    EXPECT_EQ(packed.size(), 4u + 65535u);
    EXPECT_EQ(packed[2], 0xFF);
    EXPECT_EQ(packed[3], 0xFF);
    std::fclose(out);

    qvtest::write_file("a.txt", Bytes(65535 - 5, 'x'));
    out = std::tmpfile();
    EXPECT_EQ(payload_pack("a.txt", out), 0);
    EXPECT_EQ(qvtest::read_stream(out).size(), 0u);
    std::fclose(out);
}

TEST_F(Payload, PackRefusesWithoutWriting) {
    qvtest::write_file("empty", {});
    fs::create_directory("folder");
    FILE* out = std::tmpfile();
    for (const char* path : {"empty", "missing", "folder"})
        EXPECT_EQ(payload_pack(path, out), 0) << path;
    EXPECT_EQ(payload_pack(nullptr, out), 0);
    EXPECT_EQ(payload_pack("empty", nullptr), 0);
    EXPECT_EQ(qvtest::read_stream(out).size(), 0u);
    std::fclose(out);

    // A stream that cannot be written to: 0.
    qvtest::write_file("a.txt", {'a'});
    FILE* readOnly = std::fopen("a.txt", "rb");
    EXPECT_EQ(payload_pack("a.txt", readOnly), 0);
    std::fclose(readOnly);
}

TEST_F(Payload, UnpacksUnderTheStoredName) {
    char dir[QV_PATH_MAX] = "";
    // Bytes decoded from stray dots after the body are never read.
    Bytes bytes = kExample;
    bytes.insert(bytes.end(), {0x55, 0xAA, 0x00});
    EXPECT_EQ(unpack(bytes, dir), 3);
    EXPECT_STREQ(dir, "a.txt");
    EXPECT_EQ(qvtest::read_file("a.txt"), (Bytes{'a', 'b', 'c'}));

    fs::create_directory("out");
    fs::create_directory("out/sub");
    std::strcpy(dir, "out/");
    EXPECT_EQ(unpack(qvtest::make_payload("sub/b.bin", {0, 1, 2, 0}), dir), 4);
    EXPECT_STREQ(dir, "out/sub/b.bin");
    EXPECT_EQ(qvtest::read_file("out/sub/b.bin"), (Bytes{0, 1, 2, 0}));
}

TEST_F(Payload, UnpackRefusesBeforeCreatingAnything) {
    Bytes noTerminator = {0x0A, 0, 3, 0, 'a', 'b', 'c'};
    noTerminator[1] = uint8_t(3 + 'a' + 'b' + 'c');
    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty stream", {}},
        {"header cut short", {0x0A, 0x1E, 0x09}},
        {"wrong marker", {0x0B, 0x1E, 0x09, 0x00, 'a', 0, 'x'}},
        {"length beyond the stream", {0x0A, 0x1E, 0x09, 0x00, 'a', '.', 't', 'x', 't', 0}},
        {"length 0", {0x0A, 0x00, 0x00, 0x00}},
        {"no terminator in the body", noTerminator},
        {"absolute name kept inside", qvtest::make_payload("/", {'x'})},
        {"climbs out", qvtest::make_payload("../escape.txt", {'x'})},
        {"climbs out below", qvtest::make_payload("a/../../escape.txt", {'x'})},
        {"climbs out with backslashes", qvtest::make_payload("..\\escape.txt", {'x'})},
        {"empty name", qvtest::make_payload("", {'x'})},
    };
    for (const Case& c : cases) {
        char dir[QV_PATH_MAX] = "";
        EXPECT_EQ(unpack(c.bytes, dir), 0) << c.what;
        EXPECT_STREQ(dir, "") << c.what;
    }
    EXPECT_TRUE(fs::is_empty(dir_.path()));
    EXPECT_FALSE(fs::exists(dir_.path().parent_path() / "escape.txt"));
    char dir[QV_PATH_MAX] = "";
    EXPECT_EQ(payload_unpack(nullptr, dir, sizeof dir), 0);
    FILE* in = stream_of(kExample);
    EXPECT_EQ(payload_unpack(in, nullptr, 0), 0);
    std::fclose(in);
}

TEST_F(Payload, AbsoluteNameIsWrittenInsideTheFolder) {
    fs::create_directory("out");
    char dir[QV_PATH_MAX] = "out/";
    EXPECT_EQ(unpack(qvtest::make_payload("//etc/quorvel-test.txt", {'x'}), dir),
              0);  // no out/etc folder
    EXPECT_STREQ(dir, "out/etc/quorvel-test.txt");
    fs::create_directory("out/etc");
    std::strcpy(dir, "out/");
    EXPECT_EQ(unpack(qvtest::make_payload("/etc/quorvel-test.txt", {'x'}), dir), 1);
    EXPECT_EQ(qvtest::read_file("out/etc/quorvel-test.txt"), Bytes{'x'});
}

TEST_F(Payload, NameMustFitTheCallersBuffer) {
    const std::string name(1000, 'n');
    char dir[QV_PATH_MAX];
    std::memset(dir, '#', sizeof dir);
    std::strcpy(dir, "0123456789012345678901234/");  // 26 + 1000 + 1 > 1024
    EXPECT_EQ(unpack(qvtest::make_payload(name, {'x'}), dir), 0);
    EXPECT_STREQ(dir, "0123456789012345678901234/");
    EXPECT_EQ(dir[27], '#');
    char small[8] = "";
    EXPECT_EQ(unpack(qvtest::make_payload("12345678", {'x'}), small, sizeof small), 0);
    EXPECT_EQ(unpack(qvtest::make_payload("1234567", {'x'}), small, sizeof small), 1);
    EXPECT_STREQ(small, "1234567");
}

TEST_F(Payload, WhatFailuresLeaveBehind) {
    // A wrong checksum: the whole file is written and stays, and the result is 0.
    Bytes bad = kExample;
    bad[1] ^= 0xFF;
    char dir[QV_PATH_MAX] = "";
    EXPECT_EQ(unpack(bad, dir), 0);
    EXPECT_EQ(qvtest::read_file("a.txt"), (Bytes{'a', 'b', 'c'}));

    // No data bytes: the file is created empty and the result is 0.
    dir[0] = 0;
    EXPECT_EQ(unpack(qvtest::make_payload("nodata", {}), dir), 0);
    EXPECT_TRUE(fs::exists("nodata"));
    EXPECT_EQ(fs::file_size("nodata"), 0u);

    // The output cannot be created: the buffer already holds prefix and name.
    std::strcpy(dir, "missing-folder/");
    EXPECT_EQ(unpack(kExample, dir), 0);
    EXPECT_STREQ(dir, "missing-folder/a.txt");
}
}  // namespace

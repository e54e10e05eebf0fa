// Round trips through the real plug-ins: payloads laid out by the encoder and drawn by
// qvbmp.qvp, read back by the decoder through our image-import plug-ins, also after scaling
// and conversion to the other picture formats.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "picture_io.h"
#include "quorvel.h"
#include "test_support.h"

namespace {
namespace fs = std::filesystem;
using qvpic::Image;

using qvtest::File;

// The 13-byte payload of a.txt holding "abc".
const std::vector<uint8_t> kPayload = {0x0A, 0x1E, 0x09, 0x00, 0x61, 0x2E, 0x74,
                                       0x78, 0x74, 0x00, 0x61, 0x62, 0x63};

class RoundTrip : public ::testing::Test {
   protected:
    qvtest::TempDir dir;
    fs::path prog = dir.path() / "prog";

    void SetUp() override {
        fs::create_directories(prog);
        qvtest::stage(prog, {"qvbmp.qvp", "bmp.spi", "png.spi", "jpeg.spi", "tiff.spi", "pnm.spi"});
        qvtest::run_from(prog);
    }

    // Lays the bytes out and has the bitmap plug-in draw them; the bitmap's path.
    std::string encode(const std::vector<uint8_t>& bytes, const std::string& name) {
        const std::string drawn = qvtest::draw_bitmap(bytes, dir / name);
        EXPECT_EQ(drawn, (dir / name) + ".bmp");
        return drawn;
    }

    static std::vector<uint8_t> decode(const std::string& path) {
        uint32_t count = 0;
        std::vector<uint8_t> bytes = qvtest::decode_picture(path, &count);
        EXPECT_EQ(count, bytes.size());
        return bytes;
    }

    // The bitmap as grey, 0 black and 255 white.
    Image picture(const std::string& path) {
        Image image(image_import(path.c_str()));
        EXPECT_TRUE(image);
        return image;
    }
};

TEST_F(RoundTrip, ThirteenBytesFromTheBitmapAtOneTwoAndThreePixelsAUnit) {
    const std::string bmp = encode(kPayload, "a.txt");
    EXPECT_EQ(decode(bmp), kPayload);
    Image one = picture(bmp);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->width, 116 + 144 + 1);  // the chain's box, one unit a pixel
    EXPECT_EQ(one->height, 120 + 113 + 1);
    for (int factor : {2, 3}) {
        Image scaled = qvpic::scale(one.get(), factor);
        for (size_t i = 0; i < size_t(scaled->width) * scaled->height; ++i)
            scaled->pixels[i] = scaled->pixels[i] < 128;  // black pixels become the mask
        const std::string path = dir / ("scaled" + std::to_string(factor) + ".bmp");
        ASSERT_NE(gray_write_bmp(path.c_str(), 1, scaled.get()), 0u);
        EXPECT_EQ(decode(path), kPayload) << factor << " pixels a unit";
    }
}

TEST_F(RoundTrip, CutBitmapGivesZero) {
    const std::vector<uint8_t> whole = qvtest::read_file(encode(kPayload, "a.txt"));
    const std::string cut = dir / "cut.bmp";
    qvtest::write_file(cut, std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2));
    File stream(std::tmpfile());
    EXPECT_EQ(dot_decode(cut.c_str(), stream.get()), 0u);
    EXPECT_TRUE(qvtest::read_stream(stream.get()).empty());
}

TEST_F(RoundTrip, ThirteenBytesFromOtherFormats) {
    Image one = picture(encode(kPayload, "a.txt"));
    ASSERT_TRUE(one);
    struct Format {
        const char* name;
        bool (*write)(const std::string&, const GrayImage*);
    } formats[] = {
        {"a.png", qvpic::write_png},
        {"a.pgm", qvpic::write_pgm},
        {"a.tif", qvpic::write_tiff},
        {"a.jpg",
         [](const std::string& p, const GrayImage* g) { return qvpic::write_jpeg(p, g, 90); }},
    };
    for (const Format& f : formats) {
        const std::string path = dir / f.name;
        ASSERT_TRUE(f.write(path, one.get())) << f.name;
        EXPECT_EQ(decode(path), kPayload) << f.name;
    }
}

TEST_F(RoundTrip, RandomPayloadsRecreateTheirFiles) {
    // Files of random bytes (fixed seed) packed under a relative name, drawn, read back and
    // unpacked into another folder.
    struct Cwd {
        fs::path before = fs::current_path();
        ~Cwd() { fs::current_path(before); }
    } cwd;
    fs::current_path(dir.path());
    std::mt19937 random(3000);
    for (size_t size : {1, 100, 1000, 3000}) {
        std::vector<uint8_t> data(size);
        for (uint8_t& b : data) b = uint8_t(random());
        const std::string name = "data" + std::to_string(size) + ".bin";
        qvtest::write_file(name, data);
        File payload(std::tmpfile());
        ASSERT_EQ(payload_pack(name.c_str(), payload.get()), size);
        const std::vector<uint8_t> bytes = qvtest::read_stream(payload.get());
        const std::vector<uint8_t> read = decode(encode(bytes, name));
        ASSERT_EQ(read, bytes) << size;  // exactly the chain: no byte more, none less

        fs::create_directories("out");
        File stream(std::tmpfile());
        std::fwrite(read.data(), 1, read.size(), stream.get());
        std::rewind(stream.get());
        char out[QV_PATH_MAX] = "out/";
        EXPECT_EQ(payload_unpack(stream.get(), out, sizeof out), size);
        EXPECT_EQ(std::string(out), "out/" + name);
        EXPECT_EQ(qvtest::read_file(out), data) << size;
    }
}

}  // namespace

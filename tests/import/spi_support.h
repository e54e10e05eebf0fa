// Helpers of the image-import plug-in tests: loading a built ".spi", calling its exports and
// reading the bitmap it delivers back into red-green-blue pixels.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
#include "susie.h"
#include "test_support.h"

namespace spitest {

// A picture as plain pixels: red, green, blue, top row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    int bits = 0;  // the delivered bitmap's bits a pixel
    const uint8_t* at(int x, int y) const { return &rgb[3 * (size_t(y) * width + x)]; }
};

constexpr uint8_t kWhite[3] = {255, 255, 255}, kRed[3] = {255, 0, 0}, kGreen[3] = {0, 255, 0},
                  kBlue[3] = {0, 0, 255}, kBlack[3] = {0, 0, 0};

// The reference picture, 6 by 8 cells of `scale` pixels: a red "F" on white with a green top
// right corner and a blue bottom left one, so a flipped axis or swapped channels show. The
// grey form has a black F, a grey (128) top right corner and a dark (64) bottom left one.
inline Picture reference(bool grey, int scale = 1) {
    static const char* const rows[8] = {"....._", "XXXX..", "X.....", "XXX...",
                                        "X.....", "X.....", "X.....", "=....."};
    Picture p;
    p.width = 6 * scale;
    p.height = 8 * scale;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const char c = rows[y / scale][x / scale];
            uint8_t v[3];
            const uint8_t* colour = c == 'X' ? kRed : c == '_' ? kGreen : c == '=' ? kBlue : kWhite;
            std::memcpy(v, colour, 3);
            if (grey) {
                const uint8_t g = c == 'X' ? 0 : c == '_' ? 128 : c == '=' ? 64 : 255;
                v[0] = v[1] = v[2] = g;
            }
            p.rgb.insert(p.rgb.end(), v, v + 3);
        }
    return p;
}

inline uint8_t grey_of(const Picture& p, int x, int y) {
    return p.at(x, y)[0];
}

class Plugin {
   public:
    explicit Plugin(const std::string& name) {
        library_ = platform_load((qvtest::bin_dir() + "/" + name).c_str());
        info = reinterpret_cast<SusieGetPluginInfoFn>(platform_symbol(library_, "GetPluginInfo"));
        supported = reinterpret_cast<SusieIsSupportedFn>(platform_symbol(library_, "IsSupported"));
        picture = reinterpret_cast<SusieGetPictureFn>(platform_symbol(library_, "GetPicture"));
    }
    ~Plugin() { platform_unload(library_); }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;
    bool loaded() const { return info && supported && picture; }

    // IsSupported on the first 2048 bytes of `bytes`, zero-filled, under the given name.
    bool accepts(const std::vector<uint8_t>& bytes, const char* name = "picture.dat") const {
        std::vector<uint8_t> header(SUSIE_HEADER_SIZE, 0);
        std::copy_n(bytes.begin(), std::min(bytes.size(), header.size()), header.begin());
        return supported(name, header.data()) != 0;
    }

    // GetPicture on a file; on success the bitmap as pixels. A failure must leave both handle
    // places untouched.
    int32_t decode(const std::string& path, Picture& out) const {
        PlatformHandle untouched = reinterpret_cast<PlatformHandle>(&out);
        PlatformHandle info_handle = untouched, bits_handle = untouched;
        const int32_t result = picture(path.c_str(), 0, 0, &info_handle, &bits_handle, nullptr, 0);
        if (result != SUSIE_OK) {
            EXPECT_EQ(info_handle, untouched);
            EXPECT_EQ(bits_handle, untouched);
            return result;
        }
        convert(info_handle, bits_handle, out);
        platform_local_free(info_handle);
        platform_local_free(bits_handle);
        return result;
    }

    SusieGetPluginInfoFn info = nullptr;
    SusieIsSupportedFn supported = nullptr;
    SusieGetPictureFn picture = nullptr;

   private:
    // The bitmap forms the plug-ins deliver: 1 or 8 bits with a table, 24 bits, either row order.
    static void convert(PlatformHandle info_handle, PlatformHandle bits_handle, Picture& out) {
        const auto* head = static_cast<const uint8_t*>(platform_local_lock(info_handle));
        const auto* bits = static_cast<const uint8_t*>(platform_local_lock(bits_handle));
        ASSERT_TRUE(head && bits);
        PlatformBitmapInfoHeader h;
        std::memcpy(&h, head, sizeof h);
        const auto* table = reinterpret_cast<const PlatformRgbQuad*>(head + h.biSize);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biCompression, uint32_t(PLATFORM_BI_RGB));
        out.width = h.biWidth;
        out.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
        out.bits = h.biBitCount;
        const size_t stride = (size_t(out.width) * h.biBitCount + 31) / 32 * 4;
        ASSERT_GE(platform_local_size(bits_handle), stride * out.height);
        if (h.biBitCount <= 8) {
            ASSERT_EQ(h.biClrUsed, 1u << h.biBitCount);
            ASSERT_GE(platform_local_size(info_handle), 40 + 4 * size_t(h.biClrUsed));
        }
        out.rgb.clear();
        for (int y = 0; y < out.height; ++y) {
            const uint8_t* row = bits + stride * size_t(h.biHeight < 0 ? y : out.height - 1 - y);
            for (int x = 0; x < out.width; ++x) {
                if (h.biBitCount == 24) {
                    out.rgb.insert(out.rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
                } else {
                    const unsigned index =
                        h.biBitCount == 8 ? row[x] : row[x / 8] >> (7 - x % 8) & 1;
                    const PlatformRgbQuad c = table[index];
                    out.rgb.insert(out.rgb.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
                }
            }
        }
        ASSERT_TRUE(h.biBitCount == 1 || h.biBitCount == 8 || h.biBitCount == 24);
        platform_local_unlock(info_handle);
        platform_local_unlock(bits_handle);
    }

    void* library_ = nullptr;
};

// Largest difference of any channel of two pictures of the same size; 256 when they differ in size.
inline int difference(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i)
        worst = std::max(worst, std::abs(int(a.rgb[i]) - int(b.rgb[i])));
    return worst;
}

// Saves bytes under a name in the folder and decodes them with the plug-in.
inline int32_t decode_bytes(const Plugin& plugin, const qvtest::TempDir& dir,
                            const std::vector<uint8_t>& bytes, Picture& out,
                            const std::string& name = "picture.dat") {
    const std::string path = dir / name;
    qvtest::write_file(path, bytes);
    return plugin.decode(path, out);
}

inline void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8)});
}
inline void put32(std::vector<uint8_t>& v, uint32_t x) {
    v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
}

}  // namespace spitest

namespace spitest {

// The first bytes of pictures of every kind our plug-ins read, and of some they do not, for
// checking that each plug-in accepts only its own.
struct Sample {
    const char* format;  // the plug-in that reads it, or "" for none
    std::vector<uint8_t> bytes;
};

inline std::vector<Sample> foreign_samples() {
    auto text = [](const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); };
    std::vector<uint8_t> bmp = {'B', 'M'};
    for (uint32_t v : {70u, 0u, 54u, 40u, 2u, 2u}) put32(bmp, v);
    put16(bmp, 1), put16(bmp, 24);
    bmp.resize(70, 0);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0,
                                0,    13,  'I', 'H', 'D',  'R',  0,    0,    0, 2,
                                0,    0,   0,   2,   8,    2,    0,    0,    0};
    return {{"bmp", bmp},
            {"png", png},
            {"jpeg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0}},
            {"tiff", {'I', 'I', 42, 0, 8, 0, 0, 0}},
            {"tiff", {'M', 'M', 0, 42, 0, 0, 0, 8}},
            {"pnm", text("P6\n2 2\n255\n")},
            {"pnm", text("P1 2 2 0 1 1 0")},
            {"", text("GIF89a\x02\0\x02\0")},
            {"", text("BM")},
            {"", text("P7\nWIDTH 2\n")},
            {"", std::vector<uint8_t>(64, 0)},
            {"", {}}};
}

// Every plug-in: the version query, and acceptance of exactly its own samples whatever the name.
inline void check_identity(const char* format) {
    Plugin plugin(std::string(format) + ".spi");
    ASSERT_TRUE(plugin.loaded()) << format;
    char buf[1024];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(plugin.info(0, buf, 1024), 4);
    EXPECT_EQ(std::memcmp(buf, "00IN", 5), 0);
    EXPECT_GT(plugin.info(1, buf, 1024), 0);  // a description
    EXPECT_EQ(plugin.info(7, buf, 1024), 0);
    char small[3] = {'x', 'x', 'x'};
    EXPECT_EQ(plugin.info(0, small, 3), 2);  // cut to the room, terminated
    EXPECT_EQ(std::string(small), "00");
    for (const Sample& s : foreign_samples())
        for (const char* name : {"picture.dat", "picture.bmp", "picture.png", "x"})
            EXPECT_EQ(plugin.accepts(s.bytes, name), std::strcmp(s.format, format) == 0)
                << format << " on a sample of " << (*s.format ? s.format : "no plug-in")
                << " named " << name;
    EXPECT_EQ(plugin.supported("x", nullptr), 0);
}

}  // namespace spitest

#include <random>

namespace spitest {

// Damaged copies of a good file (bytes changed, runs overwritten, the end cut off) must each be
// refused or decoded, never crash or leak; the sanitizer build watches the memory.
inline void survive_damage(const char* plugin_name, const std::vector<uint8_t>& good,
                           int copies = 300) {
    Plugin plugin(plugin_name);
    ASSERT_TRUE(plugin.loaded());
    qvtest::TempDir dir;
    std::mt19937 random(20261211);  // fixed: the same damage on every run
    int refused = 0;
    for (int i = 0; i < copies; ++i) {
        std::vector<uint8_t> bytes = good;
        auto at = [&] {
            return std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(random);
        };
        switch (i % 3) {
            case 0:
                for (int n = 1 + i % 4; n > 0; --n) bytes[at()] = uint8_t(random());
                break;
            case 1:
                bytes.resize(at());
                break;
            default: {
                const size_t from = at();
                const uint8_t fill = i % 2 ? 0xFF : 0x00;
                for (size_t k = from; k < std::min(bytes.size(), from + 8); ++k) bytes[k] = fill;
            }
        }
        Picture got;
        if (decode_bytes(plugin, dir, bytes, got) != SUSIE_OK) {
            ++refused;
            continue;
        }
        EXPECT_TRUE(got.width >= 1 && got.width <= 4096 && got.height >= 1 && got.height <= 4096);
    }
    EXPECT_GT(refused, 0);  // damage that is never noticed means the checks are not reached
}

}  // namespace spitest

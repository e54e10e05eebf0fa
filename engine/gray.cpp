// Grey rasters: creation, 2x2 smoothing, global thresholds, discs and 1-bit bitmaps.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "quorvel.h"

namespace {
constexpr uint32_t kMaxSide = 4096;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

void put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}
}  // namespace

GrayImage* gray_create(uint16_t width, uint16_t height) noexcept {
    if (width == 0 || width > kMaxSide || height == 0 || height > kMaxSide) return nullptr;
    size_t bytes = sizeof(GrayImage) + size_t(width) * height;
    auto* image = static_cast<GrayImage*>(std::calloc(1, bytes));
    if (!image) return nullptr;
    image->width = width;
    image->height = height;
    image->pixels = reinterpret_cast<uint8_t*>(image + 1);
    return image;
}

void gray_free(GrayImage* image) noexcept {
    std::free(image);
}

GrayImage* gray_smooth(const GrayImage* source) noexcept {
    if (!source) return nullptr;
    GrayImage* result = gray_create(source->width - 1, source->height - 1);
    if (!result) return nullptr;
    const size_t sw = source->width;
    for (size_t y = 0; y < result->height; ++y) {
        const uint8_t* top = source->pixels + y * sw;
        const uint8_t* bottom = top + sw;
        uint8_t* out = result->pixels + y * result->width;
        for (size_t x = 0; x < result->width; ++x)
            out[x] = uint8_t((top[x] + top[x + 1] + bottom[x] + bottom[x + 1]) / 4);
    }
    return result;
}

uint32_t gray_threshold(int32_t mode, uint8_t mark, GrayImage* image) noexcept {
    if (mark == 0 || !image) return 0;
    const size_t n = size_t(image->width) * image->height;
    uint8_t* px = image->pixels;
    uint32_t sum = 0;  // 4096 x 4096 x 255 still fits 32 bits
    uint8_t smallest = 255, largest = 0;
    for (size_t i = 0; i < n; ++i) {
        sum += px[i];
        if (px[i] < smallest) smallest = px[i];
        if (px[i] > largest) largest = px[i];
    }
    const uint32_t mean = sum / uint32_t(n);
    uint32_t t = 127;
    if (mode == -2)
        t = (mean + smallest) / 2;
    else if (mode == -1 || mode == 1)
        t = mean;
    else if (mode == 2)
        t = (mean + largest) / 2;
    const bool dark = mode < 0;
    uint32_t count = 0;
    for (size_t i = 0; i < n; ++i) {
        bool hit = dark ? px[i] < t : px[i] > t;
        px[i] = hit ? mark : 0;
        count += hit;
    }
    return count;
}

uint32_t gray_disc(uint16_t cx, uint16_t cy, uint16_t radius, uint8_t value, int32_t op,
                   GrayImage* image) noexcept {
    if (value == 0 || !image) return 0;
    // No clipping: a disc that would cross an edge is left out whole.
    if (cx < radius || uint32_t(cx) + radius >= image->width || cy < radius ||
        uint32_t(cy) + radius >= image->height)
        return 0;
    const int32_t r = radius;
    const int64_t r2 = int64_t(r) * r;
    uint32_t count = 0;
    for (int32_t dy = -r; dy <= r; ++dy) {
        uint8_t* row = image->pixels + size_t(cy + dy) * image->width;
        for (int32_t dx = -r; dx <= r; ++dx) {
            if (int64_t(dx) * dx + int64_t(dy) * dy > r2) continue;
            uint8_t& p = row[cx + dx];
            if (op == GRAY_CLEAR)
                p &= uint8_t(~value);
            else if (op == GRAY_SET)
                p |= value;
            else if (op == GRAY_TOGGLE)
                p ^= value;
            ++count;
        }
    }
    return count;
}

uint32_t gray_write_bmp(const char* name, uint8_t mask, const GrayImage* image) noexcept {
    if (!name || !image) return 0;
    File file(std::fopen(name, "wb"));
    if (!file) return 0;
    const uint32_t width = image->width, height = image->height;
    const uint32_t stride = 4 * ((width + 31) / 32);
    uint8_t fileHeader[14] = {'B', 'M'};
    put32(fileHeader + 2, 62 + stride * height);
    put32(fileHeader + 10, 62);
    uint8_t info[40] = {};
    put32(info + 0, 40);
    put32(info + 4, width);
    put32(info + 8, height);
    put16(info + 12, 1);
    put16(info + 14, 1);
    const uint8_t colours[2][4] = {{255, 255, 255, 0}, {0, 0, 0, 0}};
    if (std::fwrite(fileHeader, sizeof fileHeader, 1, file.get()) != 1 ||
        std::fwrite(info, sizeof info, 1, file.get()) != 1 ||
        std::fwrite(colours, 4, 2, file.get()) != 2)
        return 0;
    uint32_t count = 0;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = image->pixels + size_t(y) * width;
        for (uint32_t x0 = 0; x0 < width; x0 += 32) {
            uint8_t group[4] = {};
            for (uint32_t x = x0; x < x0 + 32 && x < width; ++x)
                if (row[x] & mask) group[(x - x0) / 8] |= uint8_t(0x80 >> (x % 8));
            if (std::fwrite(group, 4, 1, file.get()) != 1) return 0;
            count += 4;
        }
    }
    // A failed close means the rows never reached the disc.
    if (std::fclose(file.release()) != 0) return 0;
    return count;
}

// Grey pictures for the read-path tests: written in the formats our image-import plug-ins
// read, and changed the way printing and scanning change them (scale, rotation, blur, noise).
#pragma once

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "quorvel.h"

namespace qvpic {

struct GrayDeleter {
    void operator()(GrayImage* image) const { gray_free(image); }
};
using Image = std::unique_ptr<GrayImage, GrayDeleter>;

inline uint8_t& at(GrayImage* image, int x, int y) {
    return image->pixels[size_t(y) * image->width + x];
}

inline bool write_png(const std::string& path, const GrayImage* image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = image->width;
    png.height = image->height;
    png.format = PNG_FORMAT_GRAY;
    return png_image_write_to_file(&png, path.c_str(), 0, image->pixels, 0, nullptr) != 0;
}

inline bool write_pgm(const std::string& path, const GrayImage* image) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P5\n%u %u\n255\n", image->width, image->height);
    size_t n = std::fwrite(image->pixels, 1, size_t(image->width) * image->height, f);
    return std::fclose(f) == 0 && n == size_t(image->width) * image->height;
}

inline bool write_jpeg(const std::string& path, const GrayImage* image, int quality) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = image->width;
    c.image_height = image->height;
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = image->pixels + size_t(c.next_scanline) * image->width;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

inline bool write_tiff(const std::string& path, const GrayImage* image) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(image->width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(image->height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 64);
    bool ok = true;
    for (uint32_t y = 0; y < image->height && ok; ++y)
        ok = TIFFWriteScanline(t, image->pixels + size_t(y) * image->width, y, 0) >= 0;
    TIFFClose(t);
    return ok;
}

// Every pixel repeated factor times each way.
inline Image scale(const GrayImage* source, int factor) {
    Image out(gray_create(uint16_t(source->width * factor), uint16_t(source->height * factor)));
    if (!out) return out;
    for (int y = 0; y < out->height; ++y)
        for (int x = 0; x < out->width; ++x)
            at(out.get(), x, y) = source->pixels[size_t(y / factor) * source->width + x / factor];
    return out;
}

// Rotated by degrees about the centre onto a white page large enough to hold it, each pixel
// sampled bilinearly as a scanner's optics would blend neighbours.
inline Image rotate(const GrayImage* source, double degrees) {
    const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
    const double w = source->width, h = source->height;
    const int ow = int(std::ceil(std::abs(w * c) + std::abs(h * s))) + 2;
    const int oh = int(std::ceil(std::abs(w * s) + std::abs(h * c))) + 2;
    Image out(gray_create(uint16_t(ow), uint16_t(oh)));
    if (!out) return out;
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x) {
            const double dx = x + 0.5 - ow / 2.0, dy = y + 0.5 - oh / 2.0;
            const double sx = c * dx + s * dy + w / 2 - 0.5, sy = -s * dx + c * dy + h / 2 - 0.5;
            const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
            const double fx = sx - x0, fy = sy - y0;
            auto px = [&](int xx, int yy) -> double {
                if (xx < 0 || yy < 0 || xx >= source->width || yy >= source->height) return 255;
                return source->pixels[size_t(yy) * source->width + xx];
            };
            const double v = (1 - fy) * ((1 - fx) * px(x0, y0) + fx * px(x0 + 1, y0)) +
                             fy * ((1 - fx) * px(x0, y0 + 1) + fx * px(x0 + 1, y0 + 1));
            at(out.get(), x, y) = uint8_t(std::lround(std::clamp(v, 0.0, 255.0)));
        }
    return out;
}

// A 1-2-1 blur each way, repeated passes times: the soft edges of a scan.
inline Image blur(const GrayImage* source, int passes) {
    Image out(gray_create(source->width, source->height));
    std::copy_n(source->pixels, size_t(source->width) * source->height, out->pixels);
    std::vector<int> row(std::max(source->width, source->height));
    for (int p = 0; p < passes; ++p) {
        for (int y = 0; y < out->height; ++y) {
            for (int x = 0; x < out->width; ++x) row[x] = at(out.get(), x, y);
            for (int x = 0; x < out->width; ++x)
                at(out.get(), x, y) = uint8_t((row[std::max(x - 1, 0)] + 2 * row[x] +
                                               row[std::min(x + 1, out->width - 1)] + 2) /
                                              4);
        }
        for (int x = 0; x < out->width; ++x) {
            for (int y = 0; y < out->height; ++y) row[y] = at(out.get(), x, y);
            for (int y = 0; y < out->height; ++y)
                at(out.get(), x, y) = uint8_t((row[std::max(y - 1, 0)] + 2 * row[y] +
                                               row[std::min(y + 1, out->height - 1)] + 2) /
                                              4);
        }
    }
    return out;
}

// Grey noise of the given standard deviation, fixed seed; paper and ink kept off the limits
// (white 230, black 30) as a scanner delivers them.
inline Image noise(const GrayImage* source, double sigma, uint32_t seed) {
    Image out(gray_create(source->width, source->height));
    std::mt19937 random(seed);
    std::normal_distribution<double> n(0, sigma);
    for (size_t i = 0; i < size_t(source->width) * source->height; ++i) {
        const double v = 30 + source->pixels[i] * 200.0 / 255 + n(random);
        out->pixels[i] = uint8_t(std::lround(std::clamp(v, 0.0, 255.0)));
    }
    return out;
}

}  // namespace qvpic

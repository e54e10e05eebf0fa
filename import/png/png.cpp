// png.spi: every PNG form through libpng's simplified reader (palettes, grey, 16-bit samples,
// transparency). Grey pictures become 8-bit grey, coloured ones 24-bit; transparency is
// composed over white; 16-bit samples without gamma information are taken as sRGB and scaled.
#include <png.h>

#include <cstring>
#include <memory>
#include <new>

#include "spi_common.h"

namespace {

constexpr spi::Format kFormat = {"Quorvel PNG reader (libpng " PNG_LIBPNG_VER_STRING ")", "*.png",
                                 "Portable Network Graphics"};
constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Deflate turns at most 258 bytes into 2 bits: no PNG holds more than 1032 times its size.
constexpr uint64_t kMaxInflation = 1032;

struct ImageFree {
    void operator()(png_image* image) const { png_image_free(image); }
};

// The pixel bytes the header's IHDR chunk promises, filter bytes left out.
bool promised_bytes(const uint8_t* p, uint64_t& bytes) {
    if (std::memcmp(p, kSignature, 8) != 0 || std::memcmp(p + 12, "IHDR", 4) != 0) return false;
    const uint64_t width = spi::be32(p + 16), height = spi::be32(p + 20);
    const unsigned depth = p[24], type = p[25];
    const unsigned channels[7] = {1, 0, 3, 1, 2, 0, 4};
    if (type > 6 || !channels[type]) return false;
    bytes = height * ((width * channels[type] * depth + 7) / 8);
    return true;
}

int32_t read_png(const char* path, PlatformHandle* info, PlatformHandle* bits) {
    uint64_t size = 0;
    spi::File file = spi::open_file(path, size);
    if (!file) return SUSIE_READ_ERROR;
    uint8_t head[33] = {};
    uint64_t promised = 0;
    if (std::fread(head, 1, sizeof head, file.get()) != sizeof head ||
        !promised_bytes(head, promised))
        return SUSIE_BAD_DATA;
    std::rewind(file.get());

    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    std::unique_ptr<png_image, ImageFree> guard(&image);
    if (!png_image_begin_read_from_stdio(&image, file.get())) return SUSIE_BAD_DATA;
    if (!spi::side_ok(image.width, image.height) || size * kMaxInflation < promised)
        return SUSIE_BAD_DATA;

    const bool colour = image.format & PNG_FORMAT_FLAG_COLOR;
    const bool alpha = image.format & PNG_FORMAT_FLAG_ALPHA;
    image.format = colour ? (alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR)
                          : (alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY);
    // Without gAMA or sRGB, 16-bit samples are sRGB like 8-bit ones: reduce them by scaling.
    image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;

    spi::Dib dib;
    if (!(colour ? dib.create_colour(image.width, image.height)
                 : dib.create_grey(image.width, image.height)))
        return SUSIE_NO_MEMORY;
    if (!alpha) {
        if (!png_image_finish_read(&image, nullptr, dib.row(0), png_int_32(dib.stride()), nullptr))
            return SUSIE_BAD_DATA;
        return dib.deliver(info, bits);
    }
    const unsigned channels = PNG_IMAGE_PIXEL_CHANNELS(image.format);
    std::vector<uint8_t> pixels(size_t(image.width) * image.height * channels);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return SUSIE_BAD_DATA;
    const uint8_t* from = pixels.data();
    for (int32_t y = 0; y < dib.height(); ++y) {
        uint8_t* to = dib.row(y);
        for (int32_t x = 0; x < dib.width(); ++x, from += channels) {
            const uint8_t a = from[channels - 1];
            for (unsigned c = 0; c + 1 < channels; ++c) *to++ = spi::over_white(from[c], a);
        }
    }
    return dib.deliver(info, bits);
}

}  // namespace

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPluginInfo(int32_t infono, char* buf,
                                                    int32_t buflen) noexcept {
    return spi::plugin_info(kFormat, infono, buf, buflen);
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL IsSupported(const char*, const void* header) noexcept {
    uint64_t bytes = 0;
    return header && promised_bytes(static_cast<const uint8_t*>(header), bytes) ? 1 : 0;
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPicture(const char* buf, int32_t len, uint32_t flag,
                                                 PlatformHandle* info, PlatformHandle* bits,
                                                 SusieProgress, int32_t) noexcept {
    return spi::get_picture(buf, len, flag, info, bits,
                            [&]() -> int32_t { return read_png(buf, info, bits); });
}

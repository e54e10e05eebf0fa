// Shared parts of our image-import plug-ins.
#include "spi_common.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace spi {

int32_t plugin_info(const Format& format, int32_t infono, char* buf, int32_t buflen) noexcept {
    const char* text = nullptr;
    switch (infono) {
        case 0:
            text = "00IN";
            break;
        case 1:
            text = format.description;
            break;
        case 2:
            text = format.filter;
            break;
        case 3:
            text = format.name;
            break;
        default:
            return 0;
    }
    if (!buf || buflen <= 0) return 0;
    const size_t n = std::min(std::strlen(text), size_t(buflen) - 1);
    std::memcpy(buf, text, n);
    buf[n] = '\0';
    return int32_t(n);
}

File open_file(const char* path, uint64_t& size) {
    if (!path) return nullptr;
    File file(std::fopen(path, "rb"));
    struct stat st;
    if (!file || fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    size = uint64_t(st.st_size);
    return file;
}

bool read_file(const char* path, size_t limit, std::vector<uint8_t>& bytes, uint64_t& size) {
    File file = open_file(path, size);
    if (!file) return false;
    bytes.resize(size_t(std::min<uint64_t>(size, limit)));
    return std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

Dib::~Dib() {
    release();
}

void Dib::release() {
    if (bits_handle_) {
        platform_local_unlock(bits_handle_);
        platform_local_free(bits_handle_);
    }
    if (info_handle_) platform_local_free(info_handle_);
    info_handle_ = bits_handle_ = nullptr;
    bits_ = nullptr;
}

bool Dib::create(int32_t width, int32_t height, int bits,
                 std::span<const PlatformRgbQuad> palette) {
    release();
    if (!side_ok(width, height)) return false;
    const size_t stride = dib_stride(width, bits);
    info_handle_ = platform_local_alloc(sizeof(PlatformBitmapInfoHeader) +
                                        palette.size() * sizeof(PlatformRgbQuad));
    bits_handle_ = platform_local_alloc(stride * size_t(height));
    auto* head = static_cast<uint8_t*>(platform_local_lock(info_handle_));
    bits_ = static_cast<uint8_t*>(platform_local_lock(bits_handle_));
    if (!head || !bits_) {
        if (head) platform_local_unlock(info_handle_);
        release();
        return false;
    }
    PlatformBitmapInfoHeader header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;  // top-down: row 0 is the top row
    header.biPlanes = 1;
    header.biBitCount = uint16_t(bits);
    header.biCompression = PLATFORM_BI_RGB;
    header.biSizeImage = uint32_t(stride * size_t(height));
    header.biXPelsPerMeter = header.biYPelsPerMeter = 3780;  // 96 dots per inch
    header.biClrUsed = uint32_t(palette.size());
    std::memcpy(head, &header, sizeof header);
    if (!palette.empty()) std::memcpy(head + sizeof header, palette.data(), palette.size_bytes());
    platform_local_unlock(info_handle_);
    stride_ = stride;
    width_ = width;
    height_ = height;
    return true;
}

bool Dib::create_grey(int32_t width, int32_t height) {
    PlatformRgbQuad grey[256];
    for (int i = 0; i < 256; ++i) grey[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return create(width, height, 8, grey);
}

bool Dib::create_bilevel(int32_t width, int32_t height, bool zero_is_white) {
    const PlatformRgbQuad black{0, 0, 0, 0}, white{255, 255, 255, 0};
    const PlatformRgbQuad table[2] = {zero_is_white ? white : black, zero_is_white ? black : white};
    return create(width, height, 1, table);
}

int32_t Dib::deliver(PlatformHandle* info, PlatformHandle* bits) {
    platform_local_unlock(bits_handle_);
    *info = info_handle_;
    *bits = bits_handle_;
    info_handle_ = bits_handle_ = nullptr;
    bits_ = nullptr;
    return SUSIE_OK;
}

int32_t deliver_rgb(int32_t width, int32_t height, std::span<const uint8_t> rgb,
                    PlatformHandle* info, PlatformHandle* bits) {
    const size_t count = size_t(width) * size_t(height);
    if (!side_ok(width, height) || rgb.size() < count * 3) return SUSIE_BAD_DATA;
    bool grey = true;
    for (size_t i = 0; grey && i < count; ++i)
        grey = rgb[3 * i] == rgb[3 * i + 1] && rgb[3 * i] == rgb[3 * i + 2];
    Dib dib;
    if (!(grey ? dib.create_grey(width, height) : dib.create_colour(width, height)))
        return SUSIE_NO_MEMORY;
    const uint8_t* from = rgb.data();
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* to = dib.row(y);
        for (int32_t x = 0; x < width; ++x, from += 3) {
            if (grey) {
                *to++ = from[0];
            } else {
                *to++ = from[2];
                *to++ = from[1];
                *to++ = from[0];
            }
        }
    }
    return dib.deliver(info, bits);
}

}  // namespace spi

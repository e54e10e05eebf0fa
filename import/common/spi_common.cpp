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

bool read_file(const char* path, size_t limit, Bytes& bytes, uint64_t& size) {
    File file = open_file(path, size);
    if (!file) return false;
    bytes.size_ = size_t(std::min<uint64_t>(size, limit));
    bytes.data_ = std::make_unique_for_overwrite<uint8_t[]>(bytes.size_);
    return std::fread(bytes.data_.get(), 1, bytes.size_, file.get()) == bytes.size_;
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

bool is_grey(std::span<const uint8_t> rgb) {
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        if (rgb[i] != rgb[i + 1] || rgb[i] != rgb[i + 2]) return false;
    return true;
}

int32_t deliver_rgb(int32_t width, int32_t height, std::span<const uint8_t> rgb,
                    PlatformHandle* info, PlatformHandle* bits) {
    const size_t row_bytes = size_t(width) * 3;
    if (!side_ok(width, height) || rgb.size() < row_bytes * size_t(height)) return SUSIE_BAD_DATA;
    return deliver_rows(
        width, height, is_grey(rgb.first(row_bytes * size_t(height))),
        [&](int32_t y, uint8_t* out) {
            std::memcpy(out, rgb.data() + row_bytes * size_t(y), row_bytes);
        },
        info, bits);
}

}  // namespace spi

// pnm.spi: the portable any-maps PBM, PGM and PPM, plain (P1-P3) and raw (P4-P6), with sample
// maxima up to 65535. Bitmaps become 1-bit pictures (bit 1 black), grey maps 8-bit grey, pixel
// maps grey or colour by their content; samples are scaled to 8 bits with rounding.
#include <cstring>
#include <new>

#include "spi_common.h"

namespace {

constexpr spi::Format kFormat = {"Quorvel PNM reader (PBM, PGM, PPM)", "*.pbm;*.pgm;*.ppm;*.pnm",
                                 "Portable any-map"};

bool is_space(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class Reader {
   public:
    explicit Reader(FILE* file) : file_(file) {}

    int32_t read(uint64_t file_size, PlatformHandle* info, PlatformHandle* bits);

   private:
    // The next decimal number, after white space and (in the header) comments; false when
    // there is none or it exceeds `limit`.
    bool number(uint32_t limit, uint32_t& value, bool header);
    bool plain_bit(uint8_t& bit);
    bool sample(uint32_t& value);
    int32_t read_bitmap(PlatformHandle* info, PlatformHandle* bits);

    FILE* file_;
    int kind_ = 0;  // 1 to 6 from the magic number
    uint32_t width_ = 0, height_ = 0, maxval_ = 1;
    int last_ = 0;  // the character that ended the last number
};

bool Reader::number(uint32_t limit, uint32_t& value, bool header) {
    int c = std::fgetc(file_);
    for (;;) {
        if (is_space(c)) {
            c = std::fgetc(file_);
        } else if (header && c == '#') {
            while (c != '\n' && c != '\r' && c != EOF) c = std::fgetc(file_);
        } else {
            break;
        }
    }
    if (c < '0' || c > '9') return false;
    value = 0;
    for (; c >= '0' && c <= '9'; c = std::fgetc(file_)) {
        value = value * 10 + uint32_t(c - '0');
        if (value > limit) return false;
    }
    last_ = c;
    // A plain raster separates its numbers by white space; anything else is damage.
    return c == EOF ? !header : is_space(c) || (header && c == '#');
}

bool Reader::plain_bit(uint8_t& bit) {
    int c;
    do c = std::fgetc(file_);
    while (is_space(c));
    if (c != '0' && c != '1') return false;
    bit = uint8_t(c - '0');
    return true;
}

int32_t Reader::read_bitmap(PlatformHandle* info, PlatformHandle* bits) {
    spi::Dib dib;
    if (!dib.create_bilevel(int32_t(width_), int32_t(height_), true)) return SUSIE_NO_MEMORY;
    const size_t bytes = (width_ + 7) / 8;
    for (uint32_t y = 0; y < height_; ++y) {
        uint8_t* row = dib.row(int32_t(y));
        if (kind_ == 4) {
            if (std::fread(row, 1, bytes, file_) != bytes) return SUSIE_BAD_DATA;
            continue;
        }
        for (uint32_t x = 0; x < width_; ++x) {
            uint8_t bit;
            if (!plain_bit(bit)) return SUSIE_BAD_DATA;
            row[x / 8] |= uint8_t(bit << (7 - x % 8));
        }
    }
    return dib.deliver(info, bits);
}

int32_t Reader::read(uint64_t file_size, PlatformHandle* info, PlatformHandle* bits) {
    char magic[2];
    if (std::fread(magic, 1, 2, file_) != 2 || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6')
        return SUSIE_BAD_DATA;
    kind_ = magic[1] - '0';
    const bool bitmap = kind_ == 1 || kind_ == 4;
    if (!number(UINT32_MAX / 10, width_, true) || !number(UINT32_MAX / 10, height_, true) ||
        (!bitmap && !number(65535, maxval_, true)) || maxval_ == 0)
        return SUSIE_BAD_DATA;
    if (!spi::side_ok(width_, height_)) return SUSIE_BAD_DATA;
    const bool raw = kind_ >= 4;
    if (raw && !is_space(last_)) return SUSIE_BAD_DATA;  // one white space before the raster
    if (!raw && last_ == '#') std::ungetc(last_, file_);
    // The least raster the header promises: raw rows as stored, plain samples of one digit
    // each with a separator (bits need no separator).
    const uint64_t channels = kind_ == 3 || kind_ == 6 ? 3 : 1;
    const uint64_t samples = uint64_t(width_) * height_ * channels;
    const uint64_t least = kind_ == 4   ? uint64_t((width_ + 7) / 8) * height_
                           : raw        ? samples * (maxval_ > 255 ? 2 : 1)
                           : kind_ == 1 ? samples
                                        : samples * 2 - 1;
    const long at = std::ftell(file_);
    if (at < 0 || file_size < uint64_t(at) || file_size - uint64_t(at) < least)
        return SUSIE_BAD_DATA;
    if (bitmap) return read_bitmap(info, bits);

    std::vector<uint8_t> pixels(samples);
    const uint32_t half = maxval_ / 2;
    if (raw) {
        const size_t size = maxval_ > 255 ? 2 : 1;
        std::vector<uint8_t> row(size_t(width_) * channels * size);
        uint8_t* out = pixels.data();
        for (uint32_t y = 0; y < height_; ++y) {
            if (std::fread(row.data(), 1, row.size(), file_) != row.size()) return SUSIE_BAD_DATA;
            for (size_t i = 0; i < row.size(); i += size) {
                const uint32_t v = size == 2 ? uint32_t(row[i]) << 8 | row[i + 1] : row[i];
                if (v > maxval_) return SUSIE_BAD_DATA;
                *out++ = uint8_t((v * 255 + half) / maxval_);
            }
        }
    } else {
        for (uint8_t& p : pixels) {
            uint32_t v;
            if (!number(maxval_, v, false)) return SUSIE_BAD_DATA;
            p = uint8_t((v * 255 + half) / maxval_);
        }
    }
    if (channels == 3)
        return spi::deliver_rgb(int32_t(width_), int32_t(height_), pixels, info, bits);
    spi::Dib dib;
    if (!dib.create_grey(int32_t(width_), int32_t(height_))) return SUSIE_NO_MEMORY;
    for (uint32_t y = 0; y < height_; ++y)
        std::memcpy(dib.row(int32_t(y)), &pixels[size_t(y) * width_], width_);
    return dib.deliver(info, bits);
}

}  // namespace

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPluginInfo(int32_t infono, char* buf,
                                                    int32_t buflen) noexcept {
    return spi::plugin_info(kFormat, infono, buf, buflen);
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL IsSupported(const char*, const void* header) noexcept {
    const auto* p = static_cast<const uint8_t*>(header);
    return p && p[0] == 'P' && p[1] >= '1' && p[1] <= '6' && (is_space(p[2]) || p[2] == '#') ? 1
                                                                                             : 0;
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPicture(const char* buf, int32_t len, uint32_t flag,
                                                 PlatformHandle* info, PlatformHandle* bits,
                                                 SusieProgress, int32_t) noexcept {
    return spi::get_picture(buf, len, flag, info, bits, [&]() -> int32_t {
        uint64_t size = 0;
        spi::File file = spi::open_file(buf, size);
        if (!file) return SUSIE_READ_ERROR;
        return Reader(file.get()).read(size, info, bits);
    });
}

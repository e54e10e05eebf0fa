// bmp.spi: Windows and OS/2 bitmaps of 1, 4, 8, 16, 24 and 32 bits, with colour tables, bit
// fields, top-down rows and RLE4/RLE8 compression.
//
// 1-bit pictures keep their two colours as a 1-bit bitmap; everything else becomes grey or
// colour. An alpha channel declared by bit fields is composed over white unless every pixel's
// alpha is 0 (writers that leave the byte unused); pixels that RLE data skips are white.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "spi_common.h"

namespace {

constexpr spi::Format kFormat = {"Quorvel bitmap reader (BMP, DIB)", "*.bmp;*.dib;*.rle",
                                 "Windows Bitmap"};

// The largest file any picture of 4096 by 4096 pixels needs: 32 bits a pixel and a colour table.
constexpr size_t kReadLimit = size_t(SUSIE_MAX_SIDE) * SUSIE_MAX_SIDE * 4 + (1 << 20);

enum : uint32_t { kAlphaBitfields = 6 };

// One colour channel of a bit-field pixel, scaled to 8 bits; channels of up to 10 bits read
// the scaled value from a table instead of dividing for every sample.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;  // the largest value after the shift
    uint8_t table[1024] = {};

    void set(uint32_t m) {
        mask = m;
        shift = m ? std::countr_zero(m) : 0;
        max = m >> shift;
        for (uint32_t v = 0; max && max < 1024 && v <= max; ++v) table[v] = uint8_t(v * 255 / max);
    }
    uint8_t operator()(uint32_t pixel) const {
        const uint32_t v = (pixel & mask) >> shift;
        if (max < 1024) return table[v];
        return uint8_t(uint64_t(v) * 255 / max);
    }
};

struct Header {
    uint32_t header_size = 0;
    int64_t width = 0;
    int64_t height = 0;  // as stored: negative for top-down rows
    unsigned bits = 0;
    uint32_t compression = 0;
    uint32_t colours_used = 0;
    uint64_t pixel_offset = 0;
    uint32_t masks[4] = {};  // red, green, blue, alpha
    bool has_masks = false;
    uint64_t table_offset = 0;
    unsigned table_entry = 4;  // bytes of one colour table entry
};

// Reads the file and info headers; false for anything this reader does not take.
bool parse_header(const uint8_t* p, size_t size, Header& h) {
    if (size < 26 || p[0] != 'B' || p[1] != 'M') return false;
    h.pixel_offset = spi::le32(p + 10);
    h.header_size = spi::le32(p + 14);
    const uint8_t* info = p + 14;
    if (h.header_size == 12) {  // OS/2 BITMAPCOREHEADER
        h.width = spi::le16(info + 4);
        h.height = int16_t(spi::le16(info + 6));
        h.bits = spi::le16(info + 10);
        h.table_entry = 3;
        if (spi::le16(info + 8) != 1) return false;
    } else {
        if (h.header_size < 40 || h.header_size > 1024 || size < 14 + size_t(h.header_size))
            return false;
        h.width = int32_t(spi::le32(info + 4));
        h.height = int32_t(spi::le32(info + 8));
        h.bits = spi::le16(info + 14);
        h.compression = spi::le32(info + 16);
        h.colours_used = spi::le32(info + 32);
        if (spi::le16(info + 12) != 1) return false;
        // OS/2 2.x headers number their compressions differently: take only plain and RLE.
        if (h.header_size == 64 && h.compression > PLATFORM_BI_RLE4) return false;
    }
    h.table_offset = 14 + uint64_t(h.header_size);
    if (h.compression == PLATFORM_BI_BITFIELDS || h.compression == kAlphaBitfields) {
        if (h.bits != 16 && h.bits != 32) return false;
        h.has_masks = true;
        const unsigned count = h.compression == kAlphaBitfields ? 4 : 3;
        // Headers of 52 bytes and more carry the masks; the 40-byte one is followed by them.
        const uint8_t* at = info + 40;
        if (h.header_size == 40) {
            if (size < 54 + 4 * size_t(count)) return false;
            h.table_offset += 4 * count;
        } else if (h.header_size < 40 + 4 * count) {
            return false;
        }
        for (unsigned i = 0; i < count; ++i) h.masks[i] = spi::le32(at + 4 * i);
        if (h.header_size >= 56) h.masks[3] = spi::le32(at + 12);
    } else if (h.compression == PLATFORM_BI_RLE8) {
        if (h.bits != 8) return false;
    } else if (h.compression == PLATFORM_BI_RLE4) {
        if (h.bits != 4) return false;
    } else if (h.compression != PLATFORM_BI_RGB) {
        return false;
    }
    switch (h.bits) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return false;
    }
    const bool rle = h.compression == PLATFORM_BI_RLE4 || h.compression == PLATFORM_BI_RLE8;
    if (rle && h.height < 0) return false;  // RLE pictures are always stored bottom-up
    return true;
}

class Reader {
   public:
    Reader(const spi::Bytes& file, const Header& h) : file_(file), h_(h) {}

    int32_t read(PlatformHandle* info, PlatformHandle* bits);

   private:
    bool read_table();
    int32_t read_bilevel(PlatformHandle* info, PlatformHandle* bits);
    bool expand_rle(std::vector<uint8_t>& indices, std::vector<uint8_t>& written) const;
    uint32_t pixel(const uint8_t* row, int32_t x) const;
    int32_t row_of(int32_t line) const { return top_down_ ? line : height_ - 1 - line; }

    const spi::Bytes& file_;
    const Header& h_;
    int32_t width_ = 0, height_ = 0;
    bool top_down_ = false;
    size_t stride_ = 0;
    PlatformRgbQuad table_[256] = {};
    unsigned table_size_ = 0;
};

bool Reader::read_table() {
    if (h_.bits > 8) return true;
    unsigned count = h_.colours_used ? h_.colours_used : 1u << h_.bits;
    count = std::min(count, 1u << h_.bits);
    // Writers of short tables (OS/2 ones above all) let the pixels follow right behind them.
    if (h_.pixel_offset > h_.table_offset)
        count = unsigned(
            std::min<uint64_t>(count, (h_.pixel_offset - h_.table_offset) / h_.table_entry));
    if (h_.table_offset + uint64_t(count) * h_.table_entry > file_.size()) return false;
    const uint8_t* at = file_.data() + h_.table_offset;
    for (unsigned i = 0; i < count; ++i, at += h_.table_entry) table_[i] = {at[0], at[1], at[2], 0};
    table_size_ = count;  // indices beyond the table are black
    return true;
}

uint32_t Reader::pixel(const uint8_t* row, int32_t x) const {
    switch (h_.bits) {
        case 1:
            return row[x >> 3] >> (7 - (x & 7)) & 1;
        case 4:
            return row[x >> 1] >> (x & 1 ? 0 : 4) & 15;
        case 8:
            return row[x];
        case 16:
            return spi::le16(row + 2 * size_t(x));
        case 24:
            return uint32_t(row[3 * x]) | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
        default:
            return spi::le32(row + 4 * size_t(x));
    }
}

// Expands RLE data into one palette index a pixel; `written` marks the pixels it set.
bool Reader::expand_rle(std::vector<uint8_t>& indices, std::vector<uint8_t>& written) const {
    const uint8_t* p = file_.data() + h_.pixel_offset;
    const uint8_t* end = file_.data() + file_.size();
    const bool four = h_.compression == PLATFORM_BI_RLE4;
    int64_t x = 0, line = 0;  // line 0 is the bottom row
    auto put = [&](uint8_t index) {
        if (x < width_ && line < height_) {
            const size_t at = size_t(height_ - 1 - line) * width_ + size_t(x);
            indices[at] = index;
            written[at] = 1;
        }
        ++x;
    };
    while (end - p >= 2) {
        const unsigned count = p[0], value = p[1];
        p += 2;
        if (count) {
            for (unsigned i = 0; i < count; ++i)
                put(uint8_t(four ? (i & 1 ? value & 15 : value >> 4) : value));
        } else if (value == 0) {
            x = 0;
            ++line;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (end - p < 2) return false;
            x += p[0];
            line += p[1];
            p += 2;
        } else {
            const size_t bytes = four ? (value + 1) / 2 : value;
            const size_t padded = (bytes + 1) & ~size_t(1);
            if (size_t(end - p) < padded) return false;
            for (unsigned i = 0; i < value; ++i)
                put(uint8_t(four ? (i & 1 ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]));
            p += padded;
        }
        if (line > height_) return true;  // all further data would fall outside
    }
    return false;  // the data ended before the end-of-bitmap mark
}

int32_t Reader::read_bilevel(PlatformHandle* info, PlatformHandle* bits) {
    PlatformRgbQuad pair[2] = {table_[0], table_[1]};
    spi::Dib dib;
    if (!dib.create(width_, height_, 1, pair)) return SUSIE_NO_MEMORY;
    for (int32_t line = 0; line < height_; ++line)
        std::memcpy(dib.row(line), file_.data() + h_.pixel_offset + size_t(row_of(line)) * stride_,
                    dib.stride());
    return dib.deliver(info, bits);
}

int32_t Reader::read(PlatformHandle* info, PlatformHandle* bits) {
    if (!spi::side_ok(h_.width, h_.height < 0 ? -h_.height : h_.height)) return SUSIE_BAD_DATA;
    width_ = int32_t(h_.width);
    top_down_ = h_.height < 0;
    height_ = int32_t(top_down_ ? -h_.height : h_.height);
    if (!read_table()) return SUSIE_BAD_DATA;
    const bool rle = h_.compression == PLATFORM_BI_RLE4 || h_.compression == PLATFORM_BI_RLE8;
    stride_ = spi::dib_stride(width_, int(h_.bits));
    if (h_.pixel_offset >= file_.size() ||
        (!rle && file_.size() - h_.pixel_offset < stride_ * size_t(height_)))
        return SUSIE_BAD_DATA;  // the rows the header claims are not in the file
    if (h_.bits == 1) return read_bilevel(info, bits);

    std::vector<uint8_t> indices, written;
    if (rle) {
        indices.assign(size_t(width_) * height_, 0);
        written.assign(indices.size(), 0);
        if (!expand_rle(indices, written)) return SUSIE_BAD_DATA;
    }
    Channel red, green, blue, alpha;
    if (h_.has_masks) {
        red.set(h_.masks[0]);
        green.set(h_.masks[1]);
        blue.set(h_.masks[2]);
        alpha.set(h_.masks[3]);
    } else if (h_.bits == 16) {
        red.set(0x7C00), green.set(0x03E0), blue.set(0x001F);
    } else {
        red.set(0xFF0000), green.set(0x00FF00), blue.set(0x0000FF);
    }
    auto row_at = [&](int32_t line) {
        return file_.data() + h_.pixel_offset + size_t(row_of(line)) * stride_;
    };
    // Writers often leave the alpha byte 0 throughout: that means opaque, not invisible.
    bool use_alpha = false;
    if (alpha.max)
        for (int32_t line = 0; line < height_ && !use_alpha; ++line)
            for (int32_t x = 0; x < width_ && !use_alpha; ++x)
                use_alpha = alpha(pixel(row_at(line), x)) != 0;

    auto decode_row = [&](int32_t line, uint8_t* out) {
        const uint8_t* row = rle ? nullptr : row_at(line);
        for (int32_t x = 0; x < width_; ++x, out += 3) {
            if (h_.bits <= 8) {
                const size_t at = size_t(line) * width_ + size_t(x);
                if (rle && !written[at]) {
                    out[0] = out[1] = out[2] = 255;
                    continue;
                }
                const uint32_t index = rle ? indices[at] : pixel(row, x);
                const PlatformRgbQuad c = index < table_size_ ? table_[index] : PlatformRgbQuad{};
                out[0] = c.rgbRed, out[1] = c.rgbGreen, out[2] = c.rgbBlue;
                continue;
            }
            const uint32_t value = pixel(row, x);
            out[0] = red(value), out[1] = green(value), out[2] = blue(value);
            if (use_alpha) {
                const uint8_t a = alpha(value);
                for (int i = 0; i < 3; ++i) out[i] = spi::over_white(out[i], a);
            }
        }
    };
    // Rows are decoded twice, once to learn whether the picture is grey, rather than held
    // whole: that would cost another 48 MB for 4096 by 4096 pixels.
    std::vector<uint8_t> row(size_t(width_) * 3);
    bool grey = true;
    for (int32_t line = 0; line < height_ && grey; ++line) {
        decode_row(line, row.data());
        grey = spi::is_grey(row);
    }
    return spi::deliver_rows(width_, height_, grey, decode_row, info, bits);
}

}  // namespace

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPluginInfo(int32_t infono, char* buf,
                                                    int32_t buflen) noexcept {
    return spi::plugin_info(kFormat, infono, buf, buflen);
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL IsSupported(const char*, const void* header) noexcept {
    if (!header) return 0;
    Header h;
    return parse_header(static_cast<const uint8_t*>(header), SUSIE_HEADER_SIZE, h) ? 1 : 0;
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPicture(const char* buf, int32_t len, uint32_t flag,
                                                 PlatformHandle* info, PlatformHandle* bits,
                                                 SusieProgress, int32_t) noexcept {
    return spi::get_picture(buf, len, flag, info, bits, [&]() -> int32_t {
        spi::Bytes file;
        uint64_t size = 0;
        if (!spi::read_file(buf, kReadLimit, file, size)) return SUSIE_READ_ERROR;
        Header h;
        if (!parse_header(file.data(), file.size(), h)) return SUSIE_BAD_DATA;
        return Reader(file, h).read(info, bits);
    });
}

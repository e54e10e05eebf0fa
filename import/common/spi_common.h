// What every image-import plug-in of ours shares: the information query, the two handles of a
// device-independent bitmap and the size checks made before anything large is allocated.
//
// Every picture is delivered top-down (negative height), rows padded to 4 bytes, in one of
// three forms: 1-bit with a two-entry colour table (bilevel), 8-bit with a 256-entry grey
// table (grey) or 24-bit blue-green-red (colour). The information handle holds the 40-byte
// header followed by the colour table; biClrUsed counts its entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "susie.h"

namespace spi {

// What GetPluginInfo reports beyond the interface version: 1 the description, 2 the file
// filter, 3 the format's name.
struct Format {
    const char* description;
    const char* filter;
    const char* name;
};

// Answers GetPluginInfo: copies the text for infono (a terminator included, cut to buflen)
// and returns the characters written before the terminator; 0 for an unknown number or no room.
int32_t plugin_info(const Format& format, int32_t infono, char* buf, int32_t buflen) noexcept;

// True when both sides lie in 1..4096.
constexpr bool side_ok(int64_t width, int64_t height) {
    return width >= 1 && height >= 1 && width <= SUSIE_MAX_SIDE && height <= SUSIE_MAX_SIDE;
}

// Bytes of one row of `width` pixels of `bits` each, padded to 4 bytes.
constexpr size_t dib_stride(int32_t width, int bits) {
    return (size_t(width) * size_t(bits) + 31) / 32 * 4;
}

// The composition of a colour with its opacity over white paper, rounded.
constexpr uint8_t over_white(unsigned colour, unsigned alpha) {
    return uint8_t((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// The arguments every GetPicture checks first: a file name (flag 0) read from its start
// (len 0) and two places for the handles.
constexpr bool picture_args_ok(const char* buf, int32_t len, uint32_t flag,
                               const PlatformHandle* info, const PlatformHandle* bits) {
    return buf && len == 0 && (flag & 7) == 0 && info && bits;
}

// GetPicture's frame, the same in every plug-in: checks the arguments, then runs read(), which
// returns a GetPicture result; no exception leaves it (no memory is SUSIE_NO_MEMORY, anything
// else thrown while reading is SUSIE_BAD_DATA).
template <class Read>
int32_t get_picture(const char* buf, int32_t len, uint32_t flag, const PlatformHandle* info,
                    const PlatformHandle* bits, Read read) noexcept {
    if (!picture_args_ok(buf, len, flag, info, bits)) return SUSIE_NOT_SUPPORTED;
    try {
        return read();
    } catch (const std::bad_alloc&) {
        return SUSIE_NO_MEMORY;
    } catch (...) {
        return SUSIE_BAD_DATA;
    }
}

// Little- and big-endian fields of a byte block whose size the caller has checked.
inline uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Opens a file for reading and tells its size; null when it cannot be opened or measured.
File open_file(const char* path, uint64_t& size);

// A file's bytes, left uninitialised before the read: zeroing 48 MB first cost a sixth of a
// large bitmap's reading time.
class Bytes {
   public:
    const uint8_t* data() const { return data_.get(); }
    size_t size() const { return size_; }

   private:
    friend bool read_file(const char*, size_t, Bytes&, uint64_t&);
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0;
};

// Reads at most `limit` bytes from the file's start and tells the file's size; false when it
// cannot be opened or read.
bool read_file(const char* path, size_t limit, Bytes& bytes, uint64_t& size);

// A picture being made: the two handles, locked while the decoder fills them, released unless
// delivered. Rows are addressed from the top.
class Dib {
   public:
    Dib() = default;
    ~Dib();
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;

    // Allocates a bitmap of 1, 8 or 24 bits with the given colour table, all bits zero.
    // False (and nothing kept) for a side outside 1..4096 or no memory.
    bool create(int32_t width, int32_t height, int bits,
                std::span<const PlatformRgbQuad> palette = {});
    bool create_grey(int32_t width, int32_t height);  // 8 bits, grey table
    bool create_colour(int32_t width, int32_t height) { return create(width, height, 24); }
    // 1 bit; bit value 0 is black unless zero_is_white.
    bool create_bilevel(int32_t width, int32_t height, bool zero_is_white);

    uint8_t* row(int32_t y) { return bits_ + size_t(y) * stride_; }
    size_t stride() const { return stride_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

    // Unlocks both handles and hands them to the caller; SUSIE_OK.
    int32_t deliver(PlatformHandle* info, PlatformHandle* bits);

   private:
    void release();
    PlatformHandle info_handle_ = nullptr;
    PlatformHandle bits_handle_ = nullptr;
    uint8_t* bits_ = nullptr;
    size_t stride_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

// True when every red-green-blue triple of the span is grey.
bool is_grey(std::span<const uint8_t> rgb);

// Delivers a picture row by row: row(y, rgb) writes row y (0 the top) as 8-bit red, green,
// blue into 3 * width bytes. A grey picture becomes 8-bit grey, any other 24-bit colour.
// SUSIE_NO_MEMORY when the bitmap cannot be made.
template <class Row>
int32_t deliver_rows(int32_t width, int32_t height, bool grey, Row&& row, PlatformHandle* info,
                     PlatformHandle* bits) {
    Dib dib;
    if (!(grey ? dib.create_grey(width, height) : dib.create_colour(width, height)))
        return SUSIE_NO_MEMORY;
    std::vector<uint8_t> rgb(size_t(width) * 3);
    for (int32_t y = 0; y < height; ++y) {
        row(y, rgb.data());
        uint8_t* to = dib.row(y);
        for (size_t x = 0; x < size_t(width); ++x) {
            if (grey) {
                to[x] = rgb[3 * x];
            } else {
                to[3 * x] = rgb[3 * x + 2];
                to[3 * x + 1] = rgb[3 * x + 1];
                to[3 * x + 2] = rgb[3 * x];
            }
        }
    }
    return dib.deliver(info, bits);
}

// Delivers 8-bit red-green-blue pixels (top row first, no padding) as deliver_rows does.
int32_t deliver_rgb(int32_t width, int32_t height, std::span<const uint8_t> rgb,
                    PlatformHandle* info, PlatformHandle* bits);

}  // namespace spi

// The three exports every plug-in defines.
QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPluginInfo(int32_t infono, char* buf,
                                                    int32_t buflen) noexcept;
QV_EXTERN_C QV_EXPORT int32_t QV_CALL IsSupported(const char* filename,
                                                  const void* header) noexcept;
QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPicture(const char* buf, int32_t len, uint32_t flag,
                                                 PlatformHandle* info, PlatformHandle* bits,
                                                 SusieProgress progress, int32_t data) noexcept;

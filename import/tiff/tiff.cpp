// tiff.spi: the first page of a TIFF through libtiff. Bilevel strips (fax scans in CCITT G3/G4
// above all) become 1-bit pictures as stored; everything else goes through libtiff's RGBA
// reader (palettes, grey, 16-bit samples, CMYK, YCbCr, tiles, any orientation) and becomes
// grey or colour, with transparency composed over white. libtiff reports nothing: its
// messages go to handlers of this file that drop them.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "spi_common.h"

namespace {

constexpr spi::Format kFormat = {"Quorvel TIFF reader (libtiff)", "*.tif;*.tiff", "TIFF"};

// libtiff refuses single allocations above this: a 4096 by 4096 RGBA raster takes 64 MiB.
constexpr tmsize_t kMaxAlloc = tmsize_t(256) << 20;

// libtiff's messages print nothing: errors are counted, and so are a decoder's warnings, which
// tell of rows it patched (a fax decoder meeting a bad code word warns and goes on).
// Returning 1 keeps libtiff's own, printing, handlers out.
int count_error(TIFF*, void* damage, const char*, const char*, va_list) {
    ++*static_cast<int*>(damage);
    return 1;
}
int count_decoder_warning(TIFF*, void* damage, const char* module, const char*, va_list) {
    if (module && std::strstr(module, "Decode")) ++*static_cast<int*>(damage);
    return 1;
}

struct TiffClose {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct OptionsFree {
    void operator()(TIFFOpenOptions* opts) const { TIFFOpenOptionsFree(opts); }
};

// The least compressed size that can hold `raw` bytes of `rows` rows: stored data is whole,
// a fax row takes at least one bit, the dictionary and run-length coders shrink by bounded
// factors. Coders without a known bound only need their data inside the file.
uint64_t least_bytes(uint16_t compression, uint64_t raw, uint64_t rows) {
    switch (compression) {
        case COMPRESSION_NONE:
            return raw;
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTRLEW:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:
            return (rows + 7) / 8;
        case COMPRESSION_PACKBITS:
            return raw / 64;  // 2 bytes make at most 128
        case COMPRESSION_LZW:
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
        case COMPRESSION_JPEG:
            return raw / 4096;
        default:
            return 1;
    }
}

// True when every strip or tile lies inside the file and together they can hold the picture.
bool deliverable(TIFF* tif, uint64_t file_size, uint32_t width, uint32_t height) {
    uint16_t bits = 1, samples = 1, compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    const uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint64_t stored = 0;
    for (uint32_t i = 0; i < count; ++i) {
        int err = 0;
        const uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &err);
        const uint64_t bytes = TIFFGetStrileByteCountWithErr(tif, i, &err);
        if (err || offset > file_size || bytes > file_size - offset) return false;
        stored += bytes;
    }
    const uint64_t raw = (uint64_t(width) * samples * bits + 7) / 8 * height;
    return stored >= least_bytes(compression, raw, height);
}

// A bilevel picture of strips read as stored: bit 0 white or black by its photometric tag.
int32_t read_bilevel(TIFF* tif, uint32_t width, uint32_t height, bool zero_is_white,
                     PlatformHandle* info, PlatformHandle* bits) {
    uint32_t rows_per_strip = height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    rows_per_strip = std::min(std::max(rows_per_strip, 1u), height);
    const tmsize_t row_bytes = TIFFScanlineSize(tif);
    if (row_bytes != tmsize_t((width + 7) / 8)) return SUSIE_BAD_DATA;
    spi::Dib dib;
    if (!dib.create_bilevel(int32_t(width), int32_t(height), zero_is_white)) return SUSIE_NO_MEMORY;
    std::vector<uint8_t> strip(size_t(row_bytes) * rows_per_strip);
    for (uint32_t y = 0, s = 0; y < height; y += rows_per_strip, ++s) {
        const uint32_t rows = std::min(rows_per_strip, height - y);
        const tmsize_t want = row_bytes * tmsize_t(rows);
        if (TIFFReadEncodedStrip(tif, s, strip.data(), want) != want) return SUSIE_BAD_DATA;
        for (uint32_t r = 0; r < rows; ++r)
            std::memcpy(dib.row(int32_t(y + r)), &strip[size_t(r) * size_t(row_bytes)],
                        size_t(row_bytes));
    }
    return dib.deliver(info, bits);
}

// Any other picture through the RGBA reader, which also applies the orientation tag.
int32_t read_rgba(TIFF* tif, uint32_t width, uint32_t height, PlatformHandle* info,
                  PlatformHandle* bits) {
    char message[1024];
    if (!TIFFRGBAImageOK(tif, message)) return SUSIE_BAD_DATA;
    std::vector<uint32_t> raster(size_t(width) * height);
    if (!TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 1))
        return SUSIE_BAD_DATA;
    // The reader hands out alpha premultiplied, so white shows through by 255 - alpha.
    std::vector<uint8_t> rgb(raster.size() * 3);
    for (size_t i = 0; i < raster.size(); ++i) {
        const uint32_t p = raster[i];
        const unsigned paper = 255 - TIFFGetA(p);
        rgb[3 * i] = uint8_t(std::min(255u, TIFFGetR(p) + paper));
        rgb[3 * i + 1] = uint8_t(std::min(255u, TIFFGetG(p) + paper));
        rgb[3 * i + 2] = uint8_t(std::min(255u, TIFFGetB(p) + paper));
    }
    raster = {};
    return spi::deliver_rgb(int32_t(width), int32_t(height), rgb, info, bits);
}

// Some decoders report damage and go on with patched rows: any damage reported while
// reading the pixels refuses the picture.
int32_t read_tiff(const char* path, PlatformHandle* info, PlatformHandle* bits) {
    uint64_t file_size = 0;
    if (!spi::open_file(path, file_size)) return SUSIE_READ_ERROR;
    std::unique_ptr<TIFFOpenOptions, OptionsFree> opts(TIFFOpenOptionsAlloc());
    if (!opts) return SUSIE_NO_MEMORY;
    int damage = 0;
    TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), count_error, &damage);
    TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), count_decoder_warning, &damage);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts.get(), kMaxAlloc);
    // Plain reads ("m": no mapping), so a file that shrinks under us is a read error, not a fault.
    std::unique_ptr<TIFF, TiffClose> tif(TIFFOpenExt(path, "rm", opts.get()));
    if (!tif) return SUSIE_BAD_DATA;
    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) || !spi::side_ok(width, height) ||
        !deliverable(tif.get(), file_size, width, height))
        return SUSIE_BAD_DATA;
    uint16_t bits_per_sample = 1, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG,
             orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits_per_sample);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    const bool has_photometric = TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    const bool bilevel =
        bits_per_sample == 1 && samples == 1 && has_photometric &&
        (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) &&
        !TIFFIsTiled(tif.get()) && orientation == ORIENTATION_TOPLEFT;
    // Complaints about the directory that libtiff got over do not count; damaged pixels do.
    damage = 0;
    PlatformHandle picture_info = nullptr, picture_bits = nullptr;
    const int32_t result =
        bilevel ? read_bilevel(tif.get(), width, height, photometric == PHOTOMETRIC_MINISWHITE,
                               &picture_info, &picture_bits)
                : read_rgba(tif.get(), width, height, &picture_info, &picture_bits);
    if (result != SUSIE_OK) return result;
    if (damage) {
        platform_local_free(picture_info);
        platform_local_free(picture_bits);
        return SUSIE_BAD_DATA;
    }
    *info = picture_info;
    *bits = picture_bits;
    return SUSIE_OK;
}

}  // namespace

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPluginInfo(int32_t infono, char* buf,
                                                    int32_t buflen) noexcept {
    return spi::plugin_info(kFormat, infono, buf, buflen);
}

// Byte order mark and the version: 42 for classic TIFF, 43 for BigTIFF.
QV_EXTERN_C QV_EXPORT int32_t QV_CALL IsSupported(const char*, const void* header) noexcept {
    const auto* p = static_cast<const uint8_t*>(header);
    if (!p) return 0;
    const bool intel = p[0] == 'I' && p[1] == 'I' && p[3] == 0 && (p[2] == 42 || p[2] == 43);
    const bool motorola = p[0] == 'M' && p[1] == 'M' && p[2] == 0 && (p[3] == 42 || p[3] == 43);
    return intel || motorola ? 1 : 0;
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPicture(const char* buf, int32_t len, uint32_t flag,
                                                 PlatformHandle* info, PlatformHandle* bits,
                                                 SusieProgress, int32_t) noexcept {
    return spi::get_picture(buf, len, flag, info, bits,
                            [&]() -> int32_t { return read_tiff(buf, info, bits); });
}

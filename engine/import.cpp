// Image import: hands a picture file to the "*.spi" image-import plug-ins beside the program and
// turns the first picture delivered into grey.
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "import_internal.h"
#include "platform.h"
#include "quorvel.h"
#include "susie.h"

namespace {
constexpr uint32_t kMaxSide = 4096;

uint32_t get16(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t get32(const uint8_t* p) {
    return get16(p) | get16(p + 2) << 16;
}

// One colour component described by a bit-field mask, widened or narrowed to 8 bits so that
// an all-ones field is 255 at every width.
struct Field {
    uint32_t mask = 0;
    int shift = 0;
    int width = 0;

    explicit Field(uint32_t m) : mask(m) {
        if (!m) return;
        shift = std::countr_zero(m);
        width = std::bit_width(m >> shift);
    }
    uint32_t operator()(uint32_t pixel) const {
        if (!width) return 0;
        uint32_t v = (pixel & mask) >> shift;
        if (width >= 8) return (v >> (width - 8)) & 255;
        const uint32_t top = (1u << width) - 1;
        return (v * 255 + top / 2) / top;
    }
};

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
struct GrayDeleter {
    void operator()(GrayImage* image) const { gray_free(image); }
};
using Gray = std::unique_ptr<GrayImage, GrayDeleter>;

// A loaded plug-in library, unloaded when it goes out of scope.
struct LibraryCloser {
    void operator()(void* library) const { platform_unload(library); }
};

// The two handles of a delivered picture: unlocked and freed on every path.
class Picture {
   public:
    PlatformHandle info = nullptr;
    PlatformHandle bits = nullptr;
    Picture() = default;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
    ~Picture() {
        // A plug-in that stored one handle twice must not make us free it twice.
        if (bits == info) bits = nullptr;
        for (PlatformHandle h : {info, bits}) {
            if (!h) continue;
            while (platform_local_unlock(h)) {
            }
            platform_local_free(h);
        }
    }
};

// Converts the delivered picture; the locks it takes are released by Picture.
GrayImage* convert(const Picture& picture) {
    const void* info = platform_local_lock(picture.info);
    const void* bits = platform_local_lock(picture.bits);
    if (!info || !bits) return nullptr;
    return dib_to_gray(static_cast<const uint8_t*>(info), platform_local_size(picture.info),
                       static_cast<const uint8_t*>(bits), platform_local_size(picture.bits));
}

// Tries one plug-in library on the file; the picture, when there is one, is converted and
// released here.
GrayImage* try_plugin(void* library, const char* path, const uint8_t* header, char* name) {
    auto info = reinterpret_cast<SusieGetPluginInfoFn>(platform_symbol(library, "GetPluginInfo"));
    auto supported = reinterpret_cast<SusieIsSupportedFn>(platform_symbol(library, "IsSupported"));
    auto get = reinterpret_cast<SusieGetPictureFn>(platform_symbol(library, "GetPicture"));
    if (!info || !supported || !get) return nullptr;
    if (info(0, name, QV_PATH_MAX) != 4 || std::memcmp(name, "00IN", 5) != 0) return nullptr;
    if (!supported(path, header)) return nullptr;
    PlatformHandle hinfo = nullptr, hbits = nullptr;
    // On failure the handles are the plug-in's business: they are not touched.
    if (get(path, 0, 0, &hinfo, &hbits, nullptr, 0) != SUSIE_OK) return nullptr;
    Picture picture;
    picture.info = hinfo;
    picture.bits = hbits;
    return convert(picture);
}
}  // namespace

GrayImage* dib_to_gray(const uint8_t* info, size_t info_size, const uint8_t* bits,
                       size_t bits_size) noexcept {
    if (!info || !bits || info_size < sizeof(PlatformBitmapInfoHeader)) return nullptr;
    const uint32_t header_size = get32(info);
    const int64_t width = int32_t(get32(info + 4));
    const int64_t signed_height = int32_t(get32(info + 8));
    const uint32_t planes = get16(info + 12), depth = get16(info + 14);
    const uint32_t compression = get32(info + 16);
    const uint32_t colours_used = get32(info + 32);
    if (header_size < sizeof(PlatformBitmapInfoHeader) || header_size > info_size || planes != 1)
        return nullptr;
    const bool top_down = signed_height < 0;
    const int64_t height = top_down ? -signed_height : signed_height;
    if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) return nullptr;

    // Grey of each colour-table entry; indices past the table read as black.
    uint8_t palette[256] = {};
    const bool indexed = depth == 1 || depth == 4 || depth == 8;
    Field red(0), green(0), blue(0);
    if (indexed) {
        if (compression != PLATFORM_BI_RGB) return nullptr;
        uint64_t entries = colours_used ? colours_used : 1u << depth;
        if (entries > (1u << depth)) entries = 1u << depth;
        if (entries * 4 > info_size - header_size) return nullptr;
        for (uint64_t i = 0; i < entries; ++i) {
            const uint8_t* q = info + header_size + 4 * i;  // blue, green, red, reserved
            palette[i] = uint8_t((q[0] + q[1] + q[2]) / 3);
        }
    } else if (depth == 16 || depth == 24 || depth == 32) {
        if (compression == PLATFORM_BI_BITFIELDS) {
            // Newer headers hold the masks themselves; the classic one has them behind it.
            size_t at = header_size >= 52 ? 40 : header_size;
            if (info_size < at + 12) return nullptr;
            red = Field(get32(info + at));
            green = Field(get32(info + at + 4));
            blue = Field(get32(info + at + 8));
        } else if (compression == PLATFORM_BI_RGB) {
            if (depth == 16) {
                red = Field(0x7C00), green = Field(0x03E0), blue = Field(0x001F);
            } else {
                red = Field(0xFF0000), green = Field(0x00FF00), blue = Field(0x0000FF);
            }
        } else {
            return nullptr;
        }
    } else {
        return nullptr;
    }

    const uint64_t stride = (uint64_t(width) * depth + 31) / 32 * 4;
    if (stride * uint64_t(height) > bits_size) return nullptr;
    Gray image(gray_create(uint16_t(width), uint16_t(height)));
    if (!image) return nullptr;
    const size_t bytes = depth / 8;
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* row = bits + stride * uint64_t(top_down ? y : height - 1 - y);
        uint8_t* out = image->pixels + size_t(y) * size_t(width);
        for (int64_t x = 0; x < width; ++x) {
            if (indexed) {
                const uint64_t bit = uint64_t(x) * depth;
                const uint32_t shift = 8 - depth - uint32_t(bit % 8);
                out[x] = palette[(row[bit / 8] >> shift) & ((1u << depth) - 1)];
                continue;
            }
            const uint8_t* p = row + size_t(x) * bytes;
            uint32_t value = p[0] | uint32_t(p[1]) << 8;
            if (bytes >= 3) value |= uint32_t(p[2]) << 16;
            if (bytes == 4) value |= uint32_t(p[3]) << 24;
            out[x] = uint8_t((red(value) + green(value) + blue(value)) / 3);
        }
    }
    return image.release();
}

GrayImage* image_import(const char* path) noexcept {
    if (!path) return nullptr;
    try {
        // The file's first bytes, zero-filled behind a short file; a short read is no error.
        uint8_t header[SUSIE_HEADER_SIZE] = {};
        {
            std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "rb"));
            if (!file) return nullptr;
            (void)std::fread(header, sizeof header, 1, file.get());
        }
        char name[QV_PATH_MAX];
        if (!platform_module_path(name, sizeof name)) return nullptr;
        char* slash = std::strrchr(name, PLATFORM_SEP);
        char* tail = slash ? slash + 1 : name;
        static const char kPattern[] = "*.spi";
        if (size_t(tail - name) + sizeof kPattern > sizeof name) return nullptr;
        std::memcpy(tail, kPattern, sizeof kPattern);
        std::vector<std::string> files;
        if (!platform_find_files(name, files)) return nullptr;
        const std::string folder(name, tail);
        for (const std::string& file : files) {
            std::unique_ptr<void, LibraryCloser> library(platform_load((folder + file).c_str()));
            if (!library) continue;
            if (GrayImage* image = try_plugin(library.get(), path, header, name)) return image;
        }
    } catch (...) {
    }
    return nullptr;
}

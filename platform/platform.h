// The operating-system seam: everything the engine, the plug-ins and the programs need from
// the platform. Linux implements it in posix.cpp; a Win32 build maps it onto the system calls.
//
// Failure is a 0 or null result. Names and buffers are plain C strings; nothing here prints.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// The path separator that "the last separator" means throughout the programs.
#ifdef _WIN32
#define PLATFORM_SEP '\\'
#else
#define PLATFORM_SEP '/'
#endif

// Writes the running program's own path into buf (at most size - 1 characters and a
// terminator) and returns its length; 0 when it cannot be had or does not fit.
uint32_t platform_module_path(char* buf, uint32_t size);

// Lists the files that match pattern, "<folder>/*.<ext>", by their bare names, sorted by name
// in byte order so that every machine sees the same order. Returns false when the folder
// cannot be read or nothing matches; names is then empty.
bool platform_find_files(const char* pattern, std::vector<std::string>& names);

// Loads a library by its full path; null on failure. The symbol lookup answers null for a
// null library or a missing name; unloading null does nothing.
void* platform_load(const char* path);
void* platform_symbol(void* library, const char* name);
void platform_unload(void* library);

// Local memory handles: a movable block reached by locking. Plug-ins allocate them and the
// host releases them, so both sides use these functions over the one C allocator.
typedef struct PlatformLocal* PlatformHandle;
PlatformHandle platform_local_alloc(size_t size);  // zero-filled; null on failure
void* platform_local_lock(PlatformHandle handle);   // null for a null or foreign handle
bool platform_local_unlock(PlatformHandle handle);
PlatformHandle platform_local_free(PlatformHandle handle);  // null on success, as LocalFree
size_t platform_local_size(PlatformHandle handle);

// Device-independent bitmap records in the Windows layout, little-endian, fixed widths.
#pragma pack(push, 1)
struct PlatformBitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;  // positive: rows bottom-up; negative: top-down
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
struct PlatformRgbQuad {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};
#pragma pack(pop)
static_assert(sizeof(PlatformBitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(sizeof(PlatformRgbQuad) == 4, "RGBQUAD is 4 bytes");

enum : uint32_t { PLATFORM_BI_RGB = 0, PLATFORM_BI_RLE8 = 1, PLATFORM_BI_RLE4 = 2, PLATFORM_BI_BITFIELDS = 3 };

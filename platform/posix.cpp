// Linux side of the platform seam: dirent, dlopen and malloc stand in for the Win32 calls.
#include "platform.h"

#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

bool platform_find_files(const char* pattern, std::vector<std::string>& names) {
    names.clear();
    if (!pattern) return false;
    const char* slash = std::strrchr(pattern, PLATFORM_SEP);
    std::string folder = slash ? std::string(pattern, slash - pattern + 1) : std::string("./");
    const char* mask = slash ? slash + 1 : pattern;
    // Only "*.ext" patterns are used: the extension decides, compared exactly.
    if (mask[0] != '*' || mask[1] != '.') return false;
    std::string ext = mask + 1;
    try {
        DIR* dir = opendir(folder.c_str());
        if (!dir) return false;
        while (const dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > ext.size() &&
                name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
                names.push_back(std::move(name));
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
    } catch (...) {
        names.clear();
    }
    return !names.empty();
}

void* platform_load(const char* path) {
    return path ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
}

void* platform_symbol(void* library, const char* name) {
    return library && name ? dlsym(library, name) : nullptr;
}

void platform_unload(void* library) {
    if (library) dlclose(library);
}

namespace {
// A handle is a malloc block behind this header; the magic tells our handles from others.
struct LocalHeader {
    uint64_t magic;
    size_t size;
    int32_t locks;
    uint32_t pad;
};
constexpr uint64_t kLocalMagic = 0x51564c4f43414c31ull;  // "QVLOCAL1"

LocalHeader* header_of(PlatformHandle handle) {
    auto* h = reinterpret_cast<LocalHeader*>(handle);
    return h && h->magic == kLocalMagic ? h : nullptr;
}
}  // namespace

PlatformHandle platform_local_alloc(size_t size) {
    if (size > SIZE_MAX - sizeof(LocalHeader)) return nullptr;
    auto* h = static_cast<LocalHeader*>(std::calloc(1, sizeof(LocalHeader) + size));
    if (!h) return nullptr;
    h->magic = kLocalMagic;
    h->size = size;
    return reinterpret_cast<PlatformHandle>(h);
}

void* platform_local_lock(PlatformHandle handle) {
    LocalHeader* h = header_of(handle);
    if (!h) return nullptr;
    ++h->locks;
    return h + 1;
}

bool platform_local_unlock(PlatformHandle handle) {
    LocalHeader* h = header_of(handle);
    if (!h || h->locks == 0) return false;
    return --h->locks > 0;
}

PlatformHandle platform_local_free(PlatformHandle handle) {
    LocalHeader* h = header_of(handle);
    if (!h) return handle;
    h->magic = 0;
    std::free(h);
    return nullptr;
}

size_t platform_local_size(PlatformHandle handle) {
    LocalHeader* h = header_of(handle);
    return h ? h->size : 0;
}

// Image-import plug-ins for the importer's tests, one source built several ways (see
// CMakeLists.txt). Each appends what it was asked to the file named by QV_TEST_LOG, so a test
// sees which plug-ins were loaded and called, in what order and with what.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform.h"
#include "qvdib.h"
#include "susie.h"

namespace {
void record(const char* line) {
    const char* log = std::getenv("QV_TEST_LOG");
    if (!log) return;
    if (FILE* f = std::fopen(log, "a")) {
        std::fprintf(f, "%s %s\n", TI_ID, line);
        std::fclose(f);
    }
}

[[maybe_unused]] PlatformHandle handle_of(const uint8_t* bytes, size_t size) {
    PlatformHandle h = platform_local_alloc(size);
    if (!h) return nullptr;
    if (size) std::memcpy(platform_local_lock(h), bytes, size);
    if (size) platform_local_unlock(h);
    return h;
}

// Reads a test picture file into its two blocks; false when it is none.
[[maybe_unused]] bool read_dib(const char* path, std::vector<uint8_t>& info, std::vector<uint8_t>& bits) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    std::vector<uint8_t> all;
    for (int c; (c = std::fgetc(f)) != EOF;) all.push_back(uint8_t(c));
    std::fclose(f);
    if (all.size() < 16 || !qvdib::is_dib(all.data())) return false;
    auto get = [&](size_t at) {
        return uint32_t(all[at]) | uint32_t(all[at + 1]) << 8 | uint32_t(all[at + 2]) << 16 |
               uint32_t(all[at + 3]) << 24;
    };
    const size_t ni = get(8), nb = get(12);
    if (all.size() != 16 + ni + nb) return false;
    info.assign(all.begin() + 16, all.begin() + 16 + ni);
    bits.assign(all.begin() + 16 + ni, all.end());
    return true;
}
}  // namespace

__attribute__((constructor)) static void attach() {
    record("load");
}
__attribute__((destructor)) static void detach() {
    record("unload");
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPluginInfo(int32_t infono, char* buf,
                                                    int32_t buflen) noexcept {
    char line[64];
    std::snprintf(line, sizeof line, "info %d %d", infono, buflen);
    record(line);
    std::strncpy(buf, TI_VERSION, size_t(buflen));
    return TI_VERSION_RESULT;
}

#if TI_HAS_SUPPORTED
QV_EXTERN_C QV_EXPORT int32_t QV_CALL IsSupported(const char* filename,
                                                  const void* header) noexcept {
    const auto* h = static_cast<const uint8_t*>(header);
    unsigned nonzero = 0;
    for (int i = 0; i < SUSIE_HEADER_SIZE; ++i) nonzero += h[i] != 0;
    char line[1200];
    std::snprintf(line, sizeof line, "supported %s %02x%02x%02x%02x %u", filename, h[0], h[1], h[2],
                  h[3], nonzero);
    record(line);
    return TI_ANY_FILE || qvdib::is_dib(header);
}
#endif

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPicture(const char* buf, int32_t len, uint32_t flag,
                                                 PlatformHandle* info, PlatformHandle* bits,
                                                 SusieProgress progress, int32_t data) noexcept {
    char line[1200];
    std::snprintf(line, sizeof line, "picture %s %d %u %s %d", buf, len, flag,
                  progress ? "progress" : "none", data);
    record(line);
#if TI_PICTURE == 0
    (void)info, (void)bits;
    return SUSIE_BAD_DATA;
#elif TI_PICTURE == 1
    std::vector<uint8_t> head, body;
    if (!read_dib(buf, head, body)) return SUSIE_BAD_DATA;
    *info = handle_of(head.data(), head.size());
    *bits = handle_of(body.data(), body.size());
    return SUSIE_OK;
#else
    // A 24-bit picture one pixel too wide for the engine.
    PlatformBitmapInfoHeader h{};
    h.biSize = sizeof h;
    h.biWidth = SUSIE_MAX_SIDE + 1;
    h.biHeight = 1;
    h.biPlanes = 1;
    h.biBitCount = 24;
    *info = handle_of(reinterpret_cast<const uint8_t*>(&h), sizeof h);
    std::vector<uint8_t> row((3 * (SUSIE_MAX_SIDE + 1) + 3) / 4 * 4, 0);
    *bits = handle_of(row.data(), row.size());
    return SUSIE_OK;
#endif
}

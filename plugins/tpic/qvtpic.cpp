// qvtpic.qvp: renders a dot chain as a LaTeX2e picture of tpic specials at a size the user
// enters in a small dialog.
#include <cstdio>
#include <cstring>
#include <memory>

#include "tpic_internal.h"

namespace {
constexpr char kDescription[] = "LaTeX2e tpic special";
constexpr char kExtension[] = ".tpic";

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
}  // namespace

QV_EXTERN_C QV_EXPORT int32_t QV_CALL qvinfo(char* buffer, uint32_t length) noexcept {
    if (buffer && length) std::strncpy(buffer, kDescription, length);
    return 1;
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL qvplot(const Dot* chain, int32_t minx, int32_t miny,
                                             int32_t maxx, int32_t maxy, char* path) noexcept {
    if (!chain || !path) return 0;
    // A name that could not take the extension in the working buffer or in the caller's is
    // refused before the user is asked anything.
    const size_t length = strnlen(path, QV_PATH_MAX);
    if (length + sizeof kExtension > QV_PATH_MAX) return 0;
    const uint32_t size = tpic_ask_size();
    if (!size) return 0;
    char name[QV_PATH_MAX];
    std::memcpy(name, path, length);
    std::memcpy(name + length, kExtension, sizeof kExtension);
    // Binary: the lines end in CR LF that the writer spells out, the same on every platform.
    std::unique_ptr<FILE, FileCloser> file(std::fopen(name, "wb"));
    if (!file) return 0;
    tpic_write(file.get(), chain, minx, miny, maxx, maxy, size);
    file.reset();  // what closing says is not looked at, as with the writes
    std::memcpy(path + length, kExtension, sizeof kExtension);
    return 1;
}

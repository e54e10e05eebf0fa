// qvbmp.qvp: renders a dot chain as a 1-bit Windows bitmap, one dot unit per pixel.
#include <cstring>
#include <memory>

#include "qvplugin.h"
#include "quorvel.h"

namespace {
constexpr char kDescription[] = "Windows Bitmap";
constexpr char kExtension[] = ".bmp";

struct GrayDeleter {
    void operator()(GrayImage* image) const { gray_free(image); }
};
}  // namespace

QV_EXTERN_C QV_EXPORT int32_t QV_CALL qvinfo(char* buffer, uint32_t length) noexcept {
    if (buffer && length) std::strncpy(buffer, kDescription, length);
    return 1;
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL qvplot(const Dot* chain, int32_t minx, int32_t miny,
                                             int32_t maxx, int32_t maxy, char* path) noexcept {
    if (!chain || !path) return 0;
    // The name with its extension must fit the working buffer and the caller's buffer alike.
    const size_t length = strnlen(path, QV_PATH_MAX);
    if (length + sizeof kExtension > QV_PATH_MAX) return 0;
    const int32_t x0 = QV_BOUND(minx), y0 = QV_BOUND(miny);
    std::unique_ptr<GrayImage, GrayDeleter> canvas(
        gray_create(uint16_t(QV_BOUND(maxx) - x0 + 1), uint16_t(QV_BOUND(maxy) - y0 + 1)));
    if (!canvas) return 0;
    for (const Dot* dot = chain; dot; dot = dot->link)
        gray_disc(uint16_t(dot->x - x0), uint16_t(dot->y - y0), dot->size, 1, GRAY_SET,
                  canvas.get());
    char name[QV_PATH_MAX];
    std::memcpy(name, path, length);
    std::memcpy(name + length, kExtension, sizeof kExtension);
    if (!gray_write_bmp(name, 1, canvas.get())) return 0;
    std::memcpy(path + length, kExtension, sizeof kExtension);
    return 1;
}

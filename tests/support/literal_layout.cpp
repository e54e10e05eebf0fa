#include "literal_layout.h"

#include <cmath>

namespace qvtest {
namespace {
bool place(std::vector<PlacedDot>& dots, uint8_t& direction, uint16_t size, uint16_t gap) {
    const PlacedDot& p = dots.back();
    const uint16_t d = uint16_t(p.size + size + gap);
    if (p.x - d < -32768 || p.x + d > 32767 || p.y - d < -32768 || p.y + d > 32767)
        return false;
    const int64_t r = int64_t(d) + gap;
    direction = uint8_t(direction + 128);
    const uint8_t first = direction;
    do {
        const double theta = direction * 0.02454369260617026;
        const int32_t cx = p.x + int32_t(std::trunc(d * std::cos(theta)));
        const int32_t cy = p.y + int32_t(std::trunc(d * std::sin(theta)));
        bool collides = false;
        for (size_t i = dots.size() - 1; i-- > 0;) {  // older dots, newest first
            int64_t dx = dots[i].x - cx, dy = dots[i].y - cy;
            if (dx * dx + dy * dy < r * r) {
                collides = true;
                break;
            }
        }
        if (!collides) {
            dots.push_back({int16_t(cx), int16_t(cy), size, direction});
            return true;
        }
        direction = uint8_t(direction + 1);
    } while (direction != first);
    return false;
}
}  // namespace

std::vector<PlacedDot> literal_layout(const std::vector<uint8_t>& bytes, bool* cornered) {
    std::vector<PlacedDot> dots{{0, 0, 9, 0}};
    uint8_t direction = 0;
    bool ok = place(dots, direction, 5, 9);
    for (size_t i = 0; ok && i < bytes.size(); ++i)
        for (int mask = 1; ok && mask <= 128; mask <<= 1)
            ok = place(dots, direction, (bytes[i] & mask) ? 6 : 4, 9);
    if (cornered) *cornered = !ok;
    return dots;
}
}  // namespace qvtest

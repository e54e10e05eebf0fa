// The placement rule followed to the letter: each candidate is tested against every older
// dot, newest first. The oracle that the engine's indexed search must agree with.
#pragma once

#include <cstdint>
#include <vector>

namespace qvtest {
struct PlacedDot {
    int16_t x, y;
    uint16_t size;
    uint8_t direction;  // the direction index after placing
    bool operator==(const PlacedDot&) const = default;
};

// Lays out the start dot, the marker and 8 dots per byte, least significant bit first, and
// stops at the first dot that finds no free direction. cornered tells whether it stopped.
std::vector<PlacedDot> literal_layout(const std::vector<uint8_t>& bytes, bool* cornered);
}  // namespace qvtest

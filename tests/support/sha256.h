// A small SHA-256 for test vectors: the stream of digests of the counters 0, 1, 2, ...
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvtest {
std::array<uint8_t, 32> sha256(const uint8_t* data, size_t size);
// The digests of the little-endian 32-bit counters 0, 1, 2, ... laid end to end, cut to size.
std::vector<uint8_t> counter_digest_stream(size_t size);
}  // namespace qvtest

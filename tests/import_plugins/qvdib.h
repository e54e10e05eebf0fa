// A test picture file that carries a device-independent bitmap as it stands: the magic, the
// sizes of the two blocks, then the information block and the pixel bits. The test plug-in
// hands both blocks over in handles of exactly those sizes, so the tests choose every field.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace qvdib {

constexpr char kMagic[8] = {'Q', 'V', 'D', 'I', 'B', 0, 0, 0};

inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

inline std::vector<uint8_t> file(const std::vector<uint8_t>& info,
                                 const std::vector<uint8_t>& bits) {
    std::vector<uint8_t> out(kMagic, kMagic + sizeof kMagic);
    put32(out, uint32_t(info.size()));
    put32(out, uint32_t(bits.size()));
    out.insert(out.end(), info.begin(), info.end());
    out.insert(out.end(), bits.begin(), bits.end());
    return out;
}

inline bool is_dib(const void* header) {
    return std::memcmp(header, kMagic, sizeof kMagic) == 0;
}

}  // namespace qvdib

namespace qvdib {

// A test picture file holding a grey raster (row 0 on top) as an 8-bit bottom-up bitmap with
// a grey colour table.
inline std::vector<uint8_t> grey_file(uint32_t width, uint32_t height, const uint8_t* pixels) {
    std::vector<uint8_t> info;
    put32(info, 40);
    put32(info, width);
    put32(info, height);
    info.push_back(1), info.push_back(0);  // planes
    info.push_back(8), info.push_back(0);  // bits per pixel
    for (int i = 0; i < 6; ++i) put32(info, 0);
    for (uint32_t i = 0; i < 256; ++i) put32(info, i * 0x010101u);
    const size_t stride = (width + 3) / 4 * 4;
    std::vector<uint8_t> bits(stride * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(&bits[(height - 1 - y) * stride], pixels + size_t(y) * width, width);
    return file(info, bits);
}

}  // namespace qvdib

// Payload container: marker 0x0A, 8-bit checksum, 16-bit body length, then the body (stored
// name, terminator, contents).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "quorvel.h"

namespace {
constexpr uint8_t kMarker = 0x0A;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Bytes = std::unique_ptr<uint8_t[], FreeDeleter>;

uint8_t body_sum(const uint8_t* body, uint16_t length) {
    const uint8_t lengthBytes[2] = {uint8_t(length), uint8_t(length >> 8)};
    return payload_sum(body, length, payload_sum(lengthBytes, 2, 0));
}

// A stored name comes from a picture and is untrusted: it is written relative to the output
// folder, as archivers do, and may not climb out of it.
const char* contained_name(const char* name) {
    while (*name == '/' || *name == '\\') ++name;
    if (!*name) return nullptr;
    std::string_view rest(name);
    while (!rest.empty()) {
        size_t cut = rest.find_first_of("/\\");
        if (rest.substr(0, cut) == "..") return nullptr;
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    return name;
}
}  // namespace

uint8_t payload_sum(const uint8_t* bytes, uint16_t count, uint8_t start) noexcept {
    if (!bytes) return start;
    uint32_t sum = start;
    for (uint32_t i = 0; i < count; ++i) sum += bytes[i];
    return uint8_t(sum);
}

uint16_t payload_pack(const char* path, FILE* out) noexcept {
    if (!path || !out) return 0;
    File file(std::fopen(path, "rb"));
    if (!file) return 0;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return 0;
    const long size = std::ftell(file.get());
    if (size < 0) return 0;  // the size cannot be had
    std::rewind(file.get());
    const size_t name = std::strlen(path) + 1;
    if (size_t(size) > PAYLOAD_MAX_BODY || size_t(size) + name > PAYLOAD_MAX_BODY) return 0;
    const uint16_t length = uint16_t(name + size_t(size));
    Bytes body(static_cast<uint8_t*>(std::malloc(length)));
    if (!body) return 0;
    std::memcpy(body.get(), path, name);
    // An empty file gives no whole block: it cannot be packed.
    if (std::fread(body.get() + name, size_t(size), 1, file.get()) != 1) return 0;
    const uint8_t header[4] = {kMarker, body_sum(body.get(), length), uint8_t(length),
                               uint8_t(length >> 8)};
    if (std::fwrite(header, 4, 1, out) != 1) return 0;
    if (std::fwrite(body.get(), length, 1, out) != 1) return 0;
    return uint16_t(size);
}

uint16_t payload_unpack(FILE* in, char* dir, size_t capacity) noexcept {
    if (!in || !dir) return 0;
    uint8_t header[4];
    if (std::fread(header, 4, 1, in) != 1 || header[0] != kMarker) return 0;
    const uint16_t length = uint16_t(header[2] | header[3] << 8);
    if (length == 0) return 0;
    Bytes body(static_cast<uint8_t*>(std::malloc(length)));
    if (!body || std::fread(body.get(), length, 1, in) != 1) return 0;
    // Everything that can refuse the payload is settled before a file is created.
    const void* end = std::memchr(body.get(), 0, length);
    if (!end) return 0;
    const char* stored = reinterpret_cast<const char*>(body.get());
    const size_t data = length - (static_cast<const uint8_t*>(end) - body.get() + 1);
    const char* name = contained_name(stored);
    if (!name) return 0;
    const size_t prefix = strnlen(dir, capacity);
    const size_t nameLength = std::strlen(name);
    if (prefix >= capacity || nameLength >= capacity - prefix) return 0;
    std::memcpy(dir + prefix, name, nameLength + 1);

    File file(std::fopen(dir, "wb"));
    if (!file) return 0;
    if (std::fwrite(static_cast<const uint8_t*>(end) + 1, data, 1, file.get()) != 1) return 0;
    const bool sound = body_sum(body.get(), length) == header[1];
    // A file whose bytes never reached the disc is no success.
    if (std::fclose(file.release()) != 0) return 0;
    return sound ? uint16_t(data) : 0;
}

// Reading the bitmap of a 3000-byte payload (about 3950 by 3950 pixels, 24,106 dots) through
// bmp.spi: the time of each stage of the read path and the peak memory, then the walk once
// more the literal way (blob_nearest over the whole ring at every step) for comparison.
// Run from anywhere: the plug-ins are staged beside a stand-in program in a temporary folder.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "decode_internal.h"
#include "quorvel.h"
#include "test_support.h"

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

long peak_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// Writes the picture of a payload of `size` random bytes (fixed seed); its path.
std::string make_picture(const qvtest::TempDir& dir, size_t size) {
    std::vector<uint8_t> data(size);
    std::mt19937 random(3000);
    for (uint8_t& b : data) b = uint8_t(random());
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    qvtest::write_file("data.bin", data);
    FILE* payload = std::tmpfile();
    payload_pack("data.bin", payload);
    std::rewind(payload);
    char path[QV_PATH_MAX];
    std::snprintf(path, sizeof path, "%s", (dir / "data.bin").c_str());
    const uint32_t encoded = dot_encode(payload, path, "Windows");
    std::fclose(payload);
    fs::current_path(before);
    return encoded ? path : "";
}

struct Stages {
    double import_ms, smooth_ms, threshold_ms, label_ms, centre_ms, start_ms, walk_ms;
    uint16_t width, height;
    uint32_t marked, blobs, bytes;
};

// The read path stage by stage, as dot_decode runs it.
bool read_stages(const std::string& path, bool literal, Stages& s, FILE* out) {
    auto t = Clock::now();
    GrayImage* image = image_import(path.c_str());
    s.import_ms = since(t);
    if (!image) return false;
    s.width = image->width, s.height = image->height;
    t = Clock::now();
    GrayImage* smoothed = gray_smooth(image);
    gray_free(image);
    s.smooth_ms = since(t);
    t = Clock::now();
    s.marked = gray_threshold(-2, 1, smoothed);
    s.threshold_ms = since(t);
    t = Clock::now();
    Blob* ring = blob_label(1, smoothed);
    s.label_ms = since(t);
    gray_free(smoothed);
    s.blobs = 0;
    for (Blob* b = ring; b; b = b->next == ring ? nullptr : b->next) ++s.blobs;
    t = Clock::now();
    blob_center(ring);
    s.centre_ms = since(t);
    t = Clock::now();
    Blob* marker = dot_find_marker(ring, literal);
    s.start_ms = since(t);
    t = Clock::now();
    s.bytes = dot_read_walk(marker, out, literal);
    s.walk_ms = since(t);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    const bool with_literal = !(argc > 1 && std::strcmp(argv[1], "--fast-only") == 0);
    qvtest::TempDir dir;
    qvtest::stage(dir.path(), {"qvbmp.qvp", "bmp.spi"});
    qvtest::run_from(dir.path());
    const std::string picture = make_picture(dir, 3000);
    if (picture.empty()) {
        std::fprintf(stderr, "decode_bench: the picture could not be written\n");
        return 1;
    }
    const long before = peak_mib();

    FILE* fast_out = std::tmpfile();
    auto t = Clock::now();
    const uint32_t whole = dot_decode(picture.c_str(), fast_out);
    const double whole_ms = since(t);
    const long peak = peak_mib();

    Stages s{};
    FILE* stage_out = std::tmpfile();
    if (!read_stages(picture, false, s, stage_out)) return 1;
    std::printf("picture %ux%u, %u marked pixels, %u blobs, %u bytes read\n", s.width, s.height,
                s.marked, s.blobs, s.bytes);
    std::printf("dot_decode whole: %.0f ms, %u bytes; peak memory %ld MiB (%ld MiB before)\n",
                whole_ms, whole, peak, before);
    std::printf(
        "stages: import %.0f ms, smoothing %.0f ms, threshold %.0f ms, labelling %.0f ms,"
        " centring %.0f ms, start search %.1f ms, walk %.1f ms\n",
        s.import_ms, s.smooth_ms, s.threshold_ms, s.label_ms, s.centre_ms, s.start_ms, s.walk_ms);
    if (with_literal) {
        Stages l{};
        FILE* literal_out = std::tmpfile();
        if (!read_stages(picture, true, l, literal_out)) return 1;
        const bool same = qvtest::read_stream(literal_out) == qvtest::read_stream(fast_out);
        std::printf("walk: grid %.1f ms, literal %.0f ms (%.0fx); same bytes: %s\n", s.walk_ms,
                    l.walk_ms, l.walk_ms / s.walk_ms, same ? "yes" : "NO");
        std::fclose(literal_out);
    }
    std::fclose(stage_out);
    std::fclose(fast_out);

    // The worst a picture may do: 4096 x 4096 pixels of which 30% are marked at random,
    // two million ragged blobs that the start search refuses by the hundred thousand.
    GrayImage* noise = gray_create(4096, 4096);
    std::mt19937 random(30);
    for (size_t i = 0; i < size_t(4096) * 4096; ++i) noise->pixels[i] = random() % 100 < 30;
    t = Clock::now();
    Blob* ring = blob_label(1, noise);
    const double label_ms = since(t);
    gray_free(noise);
    FILE* noise_out = std::tmpfile();
    t = Clock::now();
    const uint32_t noise_bytes = dot_decode_ring(ring, noise_out, false);
    std::printf(
        "30%% noise, 4096x4096: labelling %.0f ms, centring, start search and walk %.0f ms"
        " (%u bytes); peak memory %ld MiB\n",
        label_ms, since(t), noise_bytes, peak_mib());
    std::fclose(noise_out);
    return 0;
}

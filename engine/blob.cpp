// Blobs: marked pixels grouped through left and upper neighbours, kept in a circular ring whose
// order breaks every tie of the queries below.
#include <cstdlib>
#include <memory>

#include "quorvel.h"

namespace {
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Joins a blob's neighbours to each other, taking it out of its ring.
void unlink(Blob* blob) {
    blob->prev->next = blob->next;
    blob->next->prev = blob->prev;
}
}  // namespace

Blob* blob_new(int16_t x, int16_t y, Blob* ring) noexcept {
    auto* pixel = static_cast<BlobPixel*>(std::malloc(sizeof(BlobPixel)));
    auto* blob = static_cast<Blob*>(std::malloc(sizeof(Blob)));
    if (!pixel || !blob) {
        std::free(pixel);
        std::free(blob);
        return nullptr;
    }
    *pixel = BlobPixel{0, 0, blob, nullptr};
    blob->count = 1;
    blob->x = x;
    blob->y = y;
    blob->pixels = pixel;
    if (ring) {
        // Just before ring: the label pass thus keeps the newest blob behind its current one.
        blob->prev = ring->prev;
        blob->next = ring;
        ring->prev->next = blob;
        ring->prev = blob;
    } else {
        blob->prev = blob;
        blob->next = blob;
    }
    return blob;
}

Blob* blob_merge(Blob* source, Blob* destination) noexcept {
    if (!source || !destination || source == destination) return destination;
    const int16_t ox = int16_t(source->x - destination->x);
    const int16_t oy = int16_t(source->y - destination->y);
    // Each pixel learns its new owner as it moves, so a label never needs resolving later.
    while (BlobPixel* pixel = source->pixels) {
        source->pixels = pixel->next;
        pixel->dx = int16_t(pixel->dx + ox);
        pixel->dy = int16_t(pixel->dy + oy);
        pixel->owner = destination;
        pixel->next = destination->pixels;
        destination->pixels = pixel;
    }
    destination->count += source->count;
    unlink(source);
    std::free(source);
    return destination;
}

Blob* blob_label(uint8_t mask, const GrayImage* image) noexcept {
    if (mask == 0 || !image) return nullptr;
    const size_t width = image->width, height = image->height;
    // One cell per pixel, for this call only: the pixel made there, or none.
    std::unique_ptr<BlobPixel*, FreeDeleter> index(
        static_cast<BlobPixel**>(std::calloc(width * height, sizeof(BlobPixel*))));
    if (!index) return nullptr;
    BlobPixel** cells = index.get();
    Blob* current = nullptr;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* row = image->pixels + y * width;
        BlobPixel** cell = cells + y * width;
        for (size_t x = 0; x < width; ++x) {
            if (!(row[x] & mask)) continue;  // calloc left the cell empty
            Blob* blob = blob_new(int16_t(x), int16_t(y), current);
            if (!blob) {
                blob_free_ring(current);
                return nullptr;
            }
            current = blob;
            cell[x] = blob->pixels;
            if (x > 0 && cell[x - 1]) current = blob_merge(cell[x]->owner, cell[x - 1]->owner);
            if (y > 0 && cell[x - width])
                current = blob_merge(cell[x]->owner, cell[x - width]->owner);
        }
    }
    return current;
}

Blob* blob_center(Blob* ring) noexcept {
    if (!ring) return nullptr;
    Blob* blob = ring;
    do {
        int32_t sx = 0, sy = 0;
        for (const BlobPixel* p = blob->pixels; p; p = p->next) {
            sx += p->dx;
            sy += p->dy;
        }
        // Signed division truncating toward zero: the point moves toward the centroid but
        // never past it (a mean of -1.5 moves it by -1).
        const int32_t n = int32_t(blob->count);
        const int16_t mx = int16_t(sx / n), my = int16_t(sy / n);
        blob->x = int16_t(blob->x + mx);
        blob->y = int16_t(blob->y + my);
        for (BlobPixel* p = blob->pixels; p; p = p->next) {
            p->dx = int16_t(p->dx - mx);
            p->dy = int16_t(p->dy - my);
        }
        blob = blob->next;
    } while (blob != ring);
    return ring;
}

uint32_t blob_roundness(const Blob* blob) noexcept {
    if (!blob) return 0;
    const uint32_t n = blob->count;
    // Squared radius of the disc whose area is n pixels.
    const int64_t r2 = int64_t(double(n) * 0.3183098861837907);
    uint32_t inside = 0;
    for (const BlobPixel* p = blob->pixels; p; p = p->next)
        if (int64_t(p->dx) * p->dx + int64_t(p->dy) * p->dy <= r2) ++inside;
    return inside * 255u / n;  // 4096 x 4096 x 255 still fits 32 bits
}

Blob* blob_largest(Blob* ring) noexcept {
    if (!ring) return nullptr;
    Blob* kept = ring;
    for (Blob* blob = ring->next; blob != ring; blob = blob->next)
        if (blob->count > kept->count) kept = blob;  // strict: the first met wins a tie
    return kept;
}

Blob* blob_nearest(Blob* blob) noexcept {
    if (!blob) return nullptr;
    Blob* kept = nullptr;
    uint32_t best = 0;
    for (Blob* candidate = blob->next; candidate != blob; candidate = candidate->next) {
        const int32_t ex = int16_t(candidate->x - blob->x);
        const int32_t ey = int16_t(candidate->y - blob->y);
        const uint32_t d2 = uint32_t(ex * ex) + uint32_t(ey * ey);
        if (!kept || d2 < best) {  // strict: the first met after blob wins a tie
            kept = candidate;
            best = d2;
        }
    }
    return kept;
}

Blob* blob_remove(Blob* blob) noexcept {
    if (!blob) return nullptr;
    for (BlobPixel* p = blob->pixels; p;) {
        BlobPixel* next = p->next;
        std::free(p);
        p = next;
    }
    Blob* next = blob->next == blob ? nullptr : blob->next;
    if (next) unlink(blob);
    std::free(blob);
    return next;
}

void blob_free_ring(Blob* ring) noexcept {
    while (ring) ring = blob_remove(ring);
}

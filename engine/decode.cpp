// Dot-stream decoder: finds the start dot and the marker in a picture, walks from dot to nearest
// dot and turns dot sizes back into bits with two running averages.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "decode_internal.h"
#include "quorvel.h"

namespace {
struct GrayDeleter {
    void operator()(GrayImage* image) const { gray_free(image); }
};
using Gray = std::unique_ptr<GrayImage, GrayDeleter>;

constexpr uint32_t kStartRoundness = 224;

void literal_walk(Blob* current, DotWalkVisit visit, void* context) {
    while (Blob* next = blob_nearest(current)) {
        blob_remove(current);
        current = next;
        visit(context, current);
    }
    blob_free_ring(current);
}

// The walk of blob_nearest and blob_remove without following the ring at every step, which
// costs n^2/2 steps: 290 million for the 24,106 dots of a 3000-byte payload, 1.7 s against
// 0.1 s this way (most of which is releasing the pixels), 12 s when the blobs lie scattered
// among their pixels in memory. The centres sit in a
// grid of square cells searched outward ring of cells by ring of cells; a tie in distance goes
// to the candidate that comes first after the current blob in the ring, which is the smallest
// (position - current position) modulo the ring's size, since removals keep the cyclic order.
class GridWalk {
   public:
    // Builds the grid over the whole ring from first, which gets position 0. Throws only while
    // building, before any blob is touched.
    explicit GridWalk(Blob* first) {
        Blob* blob = first;
        do {
            entries_.push_back(Entry{blob->x, blob->y, blob});
            blob = blob->next;
        } while (blob != first);
        size_ = uint32_t(entries_.size());
        int32_t minx = entries_[0].x, maxx = minx, miny = entries_[0].y, maxy = miny;
        for (const Entry& e : entries_) {
            minx = std::min<int32_t>(minx, e.x), maxx = std::max<int32_t>(maxx, e.x);
            miny = std::min<int32_t>(miny, e.y), maxy = std::max<int32_t>(maxy, e.y);
        }
        // Differences beyond 16 bits wrap in blob_nearest; the grid would not know that.
        usable_ = maxx - minx <= 32767 && maxy - miny <= 32767;
        if (!usable_) return;
        minx_ = minx, miny_ = miny;
        // About two centres per cell: a dot's successor then lies in the first ring of cells.
        const double area = double(maxx - minx + 1) * double(maxy - miny + 1);
        cell_ = std::max<int32_t>(1, int32_t(std::ceil(std::sqrt(area * 2 / size_))));
        gw_ = (maxx - minx) / cell_ + 1;
        gh_ = (maxy - miny) / cell_ + 1;
        start_.assign(size_t(gw_) * gh_ + 1, 0);
        for (const Entry& e : entries_) ++start_[cell_of(e) + 1];
        for (size_t i = 1; i < start_.size(); ++i) start_[i] += start_[i - 1];
        items_.resize(size_);
        std::vector<uint32_t> fill(start_.begin(), start_.end() - 1);
        for (uint32_t i = 0; i < size_; ++i) items_[fill[cell_of(entries_[i])]++] = i;
        alive_.resize(size_);
        slot_.resize(size_);
        for (uint32_t i = 0; i < size_; ++i) alive_[i] = slot_[i] = i;
    }

    bool usable() const { return usable_; }

    void run(DotWalkVisit visit, void* context) {
        uint32_t current = 0;
        for (;;) {
            const uint32_t next = nearest(current);
            if (next == kNone) break;
            retire(current);
            current = next;
            visit(context, entries_[current].blob);
        }
        blob_free_ring(entries_[current].blob);
    }

   private:
    static constexpr uint32_t kNone = UINT32_MAX;
    struct Entry {
        int16_t x, y;
        Blob* blob;  // null once removed
    };
    struct Best {
        uint32_t index = kNone;
        uint32_t d2 = 0;
        uint32_t key = 0;
    };

    size_t cell_of(const Entry& e) const {
        return size_t((e.y - miny_) / cell_) * gw_ + size_t((e.x - minx_) / cell_);
    }

    void consider(uint32_t from, uint32_t i, Best& best) const {
        const Entry& c = entries_[i];
        if (i == from || !c.blob) return;
        const int32_t ex = c.x - entries_[from].x, ey = c.y - entries_[from].y;
        const uint32_t d2 = uint32_t(ex * ex) + uint32_t(ey * ey);
        const uint32_t key = (i + size_ - from) % size_;  // ring order after the current blob
        if (best.index == kNone || d2 < best.d2 || (d2 == best.d2 && key < best.key))
            best = Best{i, d2, key};
    }

    void scan_cell(uint32_t from, int32_t gx, int32_t gy, Best& best) const {
        if (gx < 0 || gy < 0 || gx >= gw_ || gy >= gh_) return;
        const size_t cell = size_t(gy) * gw_ + size_t(gx);
        for (uint32_t k = start_[cell]; k < start_[cell + 1]; ++k) consider(from, items_[k], best);
    }

    uint32_t nearest(uint32_t from) const {
        const uint32_t others = uint32_t(alive_.size()) - 1;
        if (others == 0) return kNone;
        const Entry& e = entries_[from];
        const int32_t gx = (e.x - minx_) / cell_, gy = (e.y - miny_) / cell_;
        const int32_t reach = std::max({gx, gw_ - 1 - gx, gy, gh_ - 1 - gy});
        Best best;
        uint64_t cells = 0;
        for (int32_t r = 0; r <= reach; ++r) {
            // Every centre in ring r is at least (r - 1) x cell + 1 away on one axis; an equal
            // distance must still be seen for its ring order, hence the strict test.
            const int64_t bound = int64_t(r - 1) * cell_ + 1;
            if (r > 0 && best.index != kNone && int64_t(best.d2) < bound * bound) break;
            // Far from the rest (the last specks of a picture) the remaining blobs are fewer
            // than the cells still to search: compare them all instead.
            cells += r == 0 ? 1 : 8 * uint64_t(r);
            if (cells > 2 * uint64_t(others) + 16) return scan_all(from);
            if (r == 0) {
                scan_cell(from, gx, gy, best);
                continue;
            }
            for (int32_t x = gx - r; x <= gx + r; ++x) {
                scan_cell(from, x, gy - r, best);
                scan_cell(from, x, gy + r, best);
            }
            for (int32_t y = gy - r + 1; y <= gy + r - 1; ++y) {
                scan_cell(from, gx - r, y, best);
                scan_cell(from, gx + r, y, best);
            }
        }
        return best.index;
    }

    uint32_t scan_all(uint32_t from) const {
        Best best;
        for (uint32_t i : alive_) consider(from, i, best);
        return best.index;
    }

    void retire(uint32_t i) {
        blob_remove(entries_[i].blob);
        entries_[i].blob = nullptr;
        const uint32_t last = alive_.back();
        alive_[slot_[i]] = last;
        slot_[last] = slot_[i];
        alive_.pop_back();
    }

    std::vector<Entry> entries_;
    std::vector<uint32_t> start_, items_, alive_, slot_;
    uint32_t size_ = 0;
    bool usable_ = false;
    int32_t minx_ = 0, miny_ = 0, cell_ = 1, gw_ = 1, gh_ = 1;
};

// A picture usually offers its start blob at the first try. Noise and print make many large
// ragged blobs, and each refusal costs a walk round the whole ring: a 4096 x 4096 picture of
// 30% noise did not finish in ten minutes that way.
constexpr int kLiteralTries = 8;

// The start-blob search without walking the ring per candidate. blob_largest from a blob takes
// the first blob of the greatest count in ring order from there, and a refused candidate's
// successor is where the next search begins; so candidates come by falling count and, within
// one count, in ring order from the position after the previous refusal. Throws only while
// building the order, before the ring is touched.
Blob* sorted_start(Blob* ring) {
    struct Candidate {
        uint32_t count;
        uint32_t position;
        Blob* blob;
    };
    std::vector<Candidate> order;
    Blob* blob = ring;
    do {
        order.push_back({blob->count, uint32_t(order.size()), blob});
        blob = blob->next;
    } while (blob != ring);
    std::sort(order.begin(), order.end(), [](const Candidate& a, const Candidate& b) {
        return a.count != b.count ? a.count > b.count : a.position < b.position;
    });
    size_t left = order.size();
    uint32_t from = 0;  // the position where the next search begins, or the first one after it
    for (auto group = order.begin(); group != order.end();) {
        auto end = std::find_if(group, order.end(),
                                [&](const Candidate& c) { return c.count != group->count; });
        const size_t size = size_t(end - group);
        const size_t first =
            size_t(std::lower_bound(group, end, from,
                                    [](const Candidate& c, uint32_t p) { return c.position < p; }) -
                   group);
        for (size_t k = 0; k < size; ++k) {
            const Candidate& c = group[(first + k) % size];
            if (blob_roundness(c.blob) >= kStartRoundness) return c.blob;
            from = c.position + 1;
            blob_remove(c.blob);
            if (--left == 0) return nullptr;
        }
        group = end;
    }
    return nullptr;
}

// The bits under assembly and the two running averages of the dots read as 1 and as 0.
struct Reader {
    uint32_t one;
    uint32_t zero;
    uint8_t byte = 0;
    uint8_t mask = 1;
    uint32_t count = 0;
    FILE* stream;

    static void visit(void* context, const Blob* blob) {
        auto& r = *static_cast<Reader*>(context);
        const uint32_t n = blob->count;
        if (n > (r.one + r.zero) / 2) {  // a count equal to the middle reads as 0
            r.byte |= r.mask;
            r.one = (r.one + n) / 2;
        } else {
            r.byte &= uint8_t(~r.mask);
            r.zero = (r.zero + n) / 2;
        }
        r.mask = uint8_t(r.mask << 1);
        if (r.mask == 0) {
            // The byte is not cleared: each bit is set or cleared again before the next write.
            std::fputc(r.byte, r.stream);  // a failed write still counts; the checksum tells
            ++r.count;
            r.mask = 1;
        }
    }
};
}  // namespace

void dot_walk(Blob* first, bool literal, DotWalkVisit visit, void* context) noexcept {
    if (!first) return;
    if (!literal) {
        std::unique_ptr<GridWalk> grid;
        try {
            grid = std::make_unique<GridWalk>(first);
        } catch (...) {
            grid.reset();  // no memory for the grid: the ring itself still gives every step
        }
        if (grid && grid->usable()) {
            grid->run(visit, context);
            return;
        }
    }
    literal_walk(first, visit, context);
}

Blob* dot_find_start(Blob* ring, bool literal) noexcept {
    for (int tries = 0; ring; ++tries) {
        if (!literal && tries == kLiteralTries) {
            try {
                return sorted_start(ring);
            } catch (...) {
                // No memory for the order: go on the slow way, the ring is untouched.
            }
        }
        Blob* candidate = blob_largest(ring);
        if (blob_roundness(candidate) >= kStartRoundness) return candidate;
        // The next search begins at the dropped blob's successor.
        ring = blob_remove(candidate);
    }
    return nullptr;
}

Blob* dot_find_marker(Blob* ring, bool literal) noexcept {
    Blob* start = dot_find_start(ring, literal);
    if (!start) return nullptr;
    Blob* marker = blob_nearest(start);
    if (!marker) {
        blob_free_ring(start);
        return nullptr;
    }
    blob_remove(start);
    return marker;
}

uint32_t dot_read_walk(Blob* marker, FILE* stream, bool literal) noexcept {
    if (!marker || !stream) {
        blob_free_ring(marker);
        return 0;
    }
    // Both averages begin at the marker, whose size lies between the two bit sizes.
    Reader reader{marker->count, marker->count, 0, 1, 0, stream};
    dot_walk(marker, literal, &Reader::visit, &reader);
    return reader.count;
}

uint32_t dot_decode_ring(Blob* ring, FILE* stream, bool literal) noexcept {
    return dot_read_walk(dot_find_marker(blob_center(ring), literal), stream, literal);
}

uint32_t dot_decode(const char* path, FILE* stream) noexcept {
    if (!path || !stream) return 0;
    Gray smoothed;
    {
        Gray image(image_import(path));
        if (!image) return 0;
        smoothed.reset(gray_smooth(image.get()));
    }
    if (!smoothed) return 0;
    if (gray_threshold(-2, 1, smoothed.get()) == 0) return 0;
    Blob* ring = blob_label(1, smoothed.get());
    // The index is gone; only the blobs remain. The image is not needed by the walk.
    smoothed.reset();
    if (!ring) return 0;
    return dot_decode_ring(ring, stream, false);
}

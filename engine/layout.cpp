// Dot layout: every payload bit becomes a dot placed beside its predecessor in the first of
// 256 directions, turning from the way back, that keeps clear of every older dot.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "quorvel.h"

namespace {
constexpr double kAngleStep = 0.02454369260617026;  // the double nearest to pi/128

// The encoder's direction index: the direction of the newest dot seen from its predecessor.
uint8_t g_direction = 0;

// Older dots of the chain under construction, bucketed by cells of 32 units over the whole
// 16-bit plane (2048 x 2048 cell heads, zeroed lazily by the system). A cell a little larger
// than the largest clearance (30) means a candidate meets the dots of at most 3 x 3 cells.
constexpr int kCellShift = 5;
constexpr size_t kCellsPerSide = size_t(65536) >> kCellShift;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

struct ChainIndex {
    const Dot* newest = nullptr;  // the dot the index is complete up to; null: empty
    std::unique_ptr<uint32_t[], FreeDeleter> heads;  // per cell: 1 + newest entry, 0: none
    struct Entry {
        const Dot* dot;
        uint32_t next;  // 1 + the entry below it in the same cell, 0: none
    };
    std::vector<Entry> entries;

    static size_t cell(int32_t c) { return size_t(c + 32768) >> kCellShift; }
    void clear() {
        newest = nullptr;
        heads.reset();
        std::vector<Entry>().swap(entries);
    }
    void add(const Dot* dot) {
        if (!heads) {
            heads.reset(static_cast<uint32_t*>(
                std::calloc(kCellsPerSide * kCellsPerSide, sizeof(uint32_t))));
            if (!heads) throw std::bad_alloc();
        }
        uint32_t& head = heads[cell(dot->y) * kCellsPerSide + cell(dot->x)];
        entries.push_back({dot, head});
        head = uint32_t(entries.size());
        newest = dot;
    }
    // Makes the index hold exactly the chain that ends in chain.
    void cover(const Dot* chain) {
        if (chain == newest) return;
        clear();
        std::vector<const Dot*> order;
        for (const Dot* d = chain; d; d = d->link) order.push_back(d);
        for (auto it = order.rbegin(); it != order.rend(); ++it) add(*it);
    }
};

// The index extends the direction index: it belongs to the one chain under construction and
// is dropped whenever dots are released, so a reused address never meets stale cells.
ChainIndex g_index;

// cos and sin of the 256 directions, each exactly as the angle's double gives it.
struct Directions {
    double cosine[256], sine[256];
    Directions() {
        for (int k = 0; k < 256; ++k) {
            cosine[k] = std::cos(k * kAngleStep);
            sine[k] = std::sin(k * kAngleStep);
        }
    }
};
const Directions& directions() {
    static const Directions table;
    return table;
}

bool too_close(const Dot* dot, int32_t cx, int32_t cy, int64_t r2) {
    int64_t dx = dot->x - cx, dy = dot->y - cy;
    return dx * dx + dy * dy < r2;
}

// The older dot (not p) that the candidate comes too close to, or null. Without the index:
// every older dot, newest first.
const Dot* blocker_scan(const Dot* p, int32_t cx, int32_t cy, int64_t r2) {
    for (const Dot* d = p->link; d; d = d->link)
        if (too_close(d, cx, cy, r2)) return d;
    return nullptr;
}

const Dot* blocker_indexed(const Dot* p, int32_t cx, int32_t cy, int64_t r, int64_t r2) {
    const size_t x0 = ChainIndex::cell(int32_t(std::max<int64_t>(cx - r, -32768)));
    const size_t x1 = ChainIndex::cell(int32_t(std::min<int64_t>(cx + r, 32767)));
    const size_t y0 = ChainIndex::cell(int32_t(std::max<int64_t>(cy - r, -32768)));
    const size_t y1 = ChainIndex::cell(int32_t(std::min<int64_t>(cy + r, 32767)));
    for (size_t gy = y0; gy <= y1; ++gy)
        for (size_t gx = x0; gx <= x1; ++gx)
            for (uint32_t e = g_index.heads[gy * kCellsPerSide + gx]; e;) {
                const ChainIndex::Entry& entry = g_index.entries[e - 1];
                if (entry.dot != p && too_close(entry.dot, cx, cy, r2)) return entry.dot;
                e = entry.next;
            }
    return nullptr;
}
}  // namespace

Dot* dot_new(int16_t x, int16_t y, uint16_t size, Dot* link) noexcept {
    auto* dot = static_cast<Dot*>(std::malloc(sizeof(Dot)));
    if (!dot) return nullptr;
    *dot = Dot{x, y, size, link};
    return dot;
}

Dot* dot_place(uint16_t size, uint16_t gap, Dot* newest) noexcept {
    if (!newest) {
        g_direction = 0;
        g_index.clear();
        return dot_new(0, 0, size, nullptr);
    }
    const Dot* p = newest;
    const uint16_t d = uint16_t(p->size + size + gap);
    if (p->x - d < -32768 || p->x + d > 32767 || p->y - d < -32768 || p->y + d > 32767)
        return nullptr;
    const int64_t r = int64_t(d) + gap;
    const int64_t r2 = r * r;

    bool covered = false;
    try {
        g_index.cover(p);
        covered = true;
    } catch (...) {
        g_index.clear();
    }
    // The index pays off only while a candidate's neighbourhood spans fewer cells than the
    // chain has dots; huge clearances fall back to the scan.
    const int64_t span = (2 * r >> kCellShift) + 2;
    const bool indexed = covered && uint64_t(span * span) < g_index.entries.size();

    // Start from the way back and turn one way, so the chain hugs its own earlier turns.
    // Only whether a candidate collides matters, not with which dot: the dot that blocked the
    // last candidate is asked first, as it mostly blocks a run of directions (about 128
    // candidates are tried per dot, nearly all of them blocked).
    const Directions& dir = directions();
    const Dot* blocker = nullptr;
    g_direction = uint8_t(g_direction + 128);
    const uint8_t first = g_direction;
    do {
        const int32_t cx = p->x + int32_t(std::trunc(d * dir.cosine[g_direction]));
        const int32_t cy = p->y + int32_t(std::trunc(d * dir.sine[g_direction]));
        if (!blocker || !too_close(blocker, cx, cy, r2))
            blocker = indexed ? blocker_indexed(p, cx, cy, r, r2) : blocker_scan(p, cx, cy, r2);
        if (!blocker) {
            Dot* dot = dot_new(int16_t(cx), int16_t(cy), size, newest);
            if (dot && covered) {
                try {
                    g_index.add(dot);
                } catch (...) {
                    g_index.clear();
                }
            }
            return dot;
        }
        g_direction = uint8_t(g_direction + 1);
    } while (g_direction != first);
    return nullptr;
}

uint32_t dot_bounds(int16_t* minx, int16_t* miny, int16_t* maxx, int16_t* maxy,
                    const Dot* newest) noexcept {
    if (!minx || !miny || !maxx || !maxy || !newest) return 0;
    int32_t x0 = 32767, y0 = 32767, x1 = -32768, y1 = -32768;
    uint32_t count = 0;
    for (const Dot* d = newest; d; d = d->link, ++count) {
        if (d->x - d->size < x0) x0 = d->x - d->size;
        if (d->y - d->size < y0) y0 = d->y - d->size;
        if (d->x + d->size > x1) x1 = d->x + d->size;
        if (d->y + d->size > y1) y1 = d->y + d->size;
    }
    *minx = int16_t(x0);
    *miny = int16_t(y0);
    *maxx = int16_t(x1);
    *maxy = int16_t(y1);
    return count;
}

void dot_free_chain(Dot* newest) noexcept {
    g_index.clear();
    while (newest) {
        Dot* link = newest->link;
        std::free(newest);
        newest = link;
    }
}

uint32_t dot_encode(FILE* in, char* path, const char* choice) noexcept {
    if (!in || !path) return 0;
    Dot* chain = dot_place(9, 9, nullptr);
    if (!chain) return 0;
    Dot* marker = dot_place(5, 9, chain);
    if (!marker) {
        dot_free_chain(chain);
        return 0;
    }
    chain = marker;
    uint32_t bytes = 0;
    for (int c; (c = std::fgetc(in)) != EOF;) {
        for (int mask = 1; mask <= 128; mask <<= 1) {
            Dot* dot = dot_place((c & mask) ? 6 : 4, 9, chain);
            if (!dot) {
                dot_free_chain(chain);
                return 0;
            }
            chain = dot;
        }
        ++bytes;
    }
    int32_t plotted = 0;
    if (bytes) {
        int16_t minx, miny, maxx, maxy;
        dot_bounds(&minx, &miny, &maxx, &maxy, chain);
        plotted = plugin_plot(chain, minx, miny, maxx, maxy, path, choice);
    }
    dot_free_chain(chain);
    return plotted ? bytes : 0;
}

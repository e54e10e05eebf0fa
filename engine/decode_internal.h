// Shared between decode.cpp and its tests: the stages of dot_decode after thresholding.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "quorvel.h"

// Receives each blob that a walk reaches, while it is still in its ring.
typedef void (*DotWalkVisit)(void* context, const Blob* blob);

// From first, steps again and again to the nearest blob not yet visited (the first after the
// current one in ring order on a tie), calls visit with it and releases the blob left behind;
// finally releases the last blob, so the whole ring is gone. literal follows the ring with
// blob_nearest at every step; otherwise a grid of the centres gives the same steps.
void dot_walk(Blob* first, bool literal, DotWalkVisit visit, void* context) noexcept;

// In a centred ring: the largest blob that scores at least 224 (the first in ring order among
// equals), after removing every larger or equal blob met before it that scores less, as
// repeated blob_largest and blob_remove would; null when the ring empties. literal repeats
// them; otherwise an order by count gives the same candidates.
Blob* dot_find_start(Blob* ring, bool literal) noexcept;

// In a centred ring: takes the largest blob that scores at least 224 as the start blob (dropping
// larger ones that score less), removes it and returns its nearest blob, the marker. Null when
// no blob qualifies or the start blob is alone; the ring is then released. literal searches
// the start blob as dot_find_start does.
Blob* dot_find_marker(Blob* ring, bool literal) noexcept;

// Walks from the marker and turns the blobs' pixel counts into bits, least significant first,
// writing each whole byte to stream. Releases the ring; returns the bytes written.
uint32_t dot_read_walk(Blob* marker, FILE* stream, bool literal) noexcept;

// Centres the labelled ring, finds the start blob and the marker, walks the rest and writes
// the bytes to stream. Releases the ring on every path; returns the bytes written.
uint32_t dot_decode_ring(Blob* ring, FILE* stream, bool literal) noexcept;

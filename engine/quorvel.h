/* Quorvel engine: keeps a small data file on paper as a chain of round dots.
 *
 * Writing:  payload_pack(file, tmp); rewind(tmp); dot_encode(tmp, path, choice);
 *           dot_encode lays the bytes out with dot_place and has an output plug-in render the
 *           chain (plugin_plot); the plug-in appends its extension to path.
 * Reading:  dot_decode(picture, tmp); rewind(tmp); payload_unpack(tmp, dir, sizeof dir);
 *           dot_decode imports the picture through image-import plug-ins (image_import),
 *           smooths and thresholds it (gray_*), labels the dots (blob_*) and walks them.
 *
 * Conventions: 0 or null is failure, and every function given null answers 0 or null.
 * Results belong to the caller, who releases them with the matching function (gray_free,
 * blob_free_ring, dot_free_chain). Nothing here prints; the front ends turn failures into
 * words. Every entry point is noexcept: running out of memory is a 0 or null result.
 * One chain can be under construction at a time (the encoder keeps its direction).
 */
#ifndef QUORVEL_H
#define QUORVEL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "qvplugin.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Grey rasters ------------------------------------------------------------------- */

/* 8-bit grey raster, 1..4096 pixels each way, row 0 first; pixel (x, y) is
 * pixels[y * width + x]. Record and pixels are one block. */
typedef struct GrayImage {
    uint16_t width;
    uint16_t height;
    uint8_t* pixels;
} GrayImage;

/* A new image with every pixel 0; null for a side of 0 or above 4096, or without memory. */
GrayImage* gray_create(uint16_t width, uint16_t height) QV_NOEXCEPT;
/* Releases an image; null is ignored. */
void gray_free(GrayImage* image) QV_NOEXCEPT;
/* A new image one pixel smaller each way, each pixel the truncated mean of a 2x2 block of
 * the source; null for null, a source 1 pixel wide or high, or without memory. */
GrayImage* gray_smooth(const GrayImage* source) QV_NOEXCEPT;
/* Rewrites the image to mark (selected pixels) and 0 (the rest) by the threshold rule of
 * mode (-2: darker than halfway between mean and darkest; -1: darker than the mean; 0: above
 * 127; 1: above the mean; 2: above halfway between mean and brightest; any other sign: 127).
 * Returns how many pixels were marked; 0 and no change for mark 0 or a null image. */
uint32_t gray_threshold(int32_t mode, uint8_t mark, GrayImage* image) QV_NOEXCEPT;

enum { GRAY_CLEAR = 0, GRAY_SET = 1, GRAY_TOGGLE = 2 };
/* Applies value's bits by op (GRAY_CLEAR, GRAY_SET, GRAY_TOGGLE) to every pixel of the disc
 * around (cx, cy), boundary included. Returns the pixels touched; 0 and nothing drawn for
 * value 0, a null image, or a disc that does not lie wholly inside the image. */
uint32_t gray_disc(uint16_t cx, uint16_t cy, uint16_t radius, uint8_t value, int32_t op,
                   GrayImage* image) QV_NOEXCEPT;
/* Writes the image as a 1-bit bottom-up Windows bitmap (white 0, black 1; a pixel is black
 * when pixel & mask is nonzero). Returns the pixel-row bytes written, 0 on any failure. */
uint32_t gray_write_bmp(const char* name, uint8_t mask, const GrayImage* image) QV_NOEXCEPT;

/* ---- Blobs ------------------------------------------------------------------------------ */

typedef struct Blob Blob;
typedef struct BlobPixel BlobPixel;

/* Marked pixels joined through left and upper neighbours. The blobs of one image form a
 * circular ring through next and prev; ring order breaks ties. */
struct Blob {
    uint32_t count;
    int16_t x;
    int16_t y;
    BlobPixel* pixels;
    Blob* next;
    Blob* prev;
};

/* One pixel of a blob, as an offset from its owner's reference point. */
struct BlobPixel {
    int16_t dx;
    int16_t dy;
    Blob* owner;
    BlobPixel* next;
};

/* Groups the pixels with (value & mask) != 0 into a new ring and returns its current blob;
 * null for mask 0, a null image, no marked pixel, or without memory (nothing left behind). */
Blob* blob_label(uint8_t mask, const GrayImage* image) QV_NOEXCEPT;
/* A one-pixel blob at (x, y) linked in just before ring (or a ring of its own); null without
 * memory. Used by blob_label. */
Blob* blob_new(int16_t x, int16_t y, Blob* ring) QV_NOEXCEPT;
/* Moves source's pixels into destination, unlinks and releases source; returns destination. */
Blob* blob_merge(Blob* source, Blob* destination) QV_NOEXCEPT;
/* Moves every blob's reference point to its centroid (truncated toward the old point);
 * returns the blob given. */
Blob* blob_center(Blob* ring) QV_NOEXCEPT;
/* Share of the pixels inside the disc of the blob's area around its reference point, 0..255;
 * 0 for null. Run blob_center first. */
uint32_t blob_roundness(const Blob* blob) QV_NOEXCEPT;
/* The blob with the greatest count, the first met from the one given on a tie. */
Blob* blob_largest(Blob* ring) QV_NOEXCEPT;
/* The other blob nearest to blob, the first in ring order after it on a tie; null when alone. */
Blob* blob_nearest(Blob* blob) QV_NOEXCEPT;
/* Releases blob and its pixels; returns its former next, or null when it was alone. */
Blob* blob_remove(Blob* blob) QV_NOEXCEPT;
/* Releases every blob of the ring; null does nothing. */
void blob_free_ring(Blob* ring) QV_NOEXCEPT;

/* ---- Dot chains ------------------------------------------------------------------------- */

/* Reads the dot chain in the picture at path and writes the bytes it carries to stream at its
 * position (not rewound, flushed or closed). Returns the bytes written; 0 on every failure. */
uint32_t dot_decode(const char* path, FILE* stream) QV_NOEXCEPT;

/* A new Dot with these fields; null without memory. */
Dot* dot_new(int16_t x, int16_t y, uint16_t size, Dot* link) QV_NOEXCEPT;
/* Places a dot of size s next to newest, in the first of 256 directions, turning from the way
 * back, that keeps clear of every older dot, and returns it linked to newest. With newest null
 * it starts a chain at (0, 0). Null when every direction collides, the dot would leave the
 * 16-bit range, or without memory; the chain given is never changed. */
Dot* dot_place(uint16_t size, uint16_t gap, Dot* newest) QV_NOEXCEPT;
/* Writes the box that holds every whole dot and returns the number of dots; 0 and nothing
 * written when any argument is null. */
uint32_t dot_bounds(int16_t* minx, int16_t* miny, int16_t* maxx, int16_t* maxy,
                    const Dot* newest) QV_NOEXCEPT;
/* Releases the dot given and every dot reached through the links; null does nothing. */
void dot_free_chain(Dot* newest) QV_NOEXCEPT;
/* Lays out every byte from in (to its end) as dots behind a start dot and a marker and has
 * the output plug-in chosen by choice (a description prefix; null or "" for any) render the
 * chain to path + its extension, which is appended to path (a 1024-byte buffer).
 * Returns the bytes encoded; 0 for an empty stream, a layout that corners itself, or when no
 * plug-in rendered it. */
uint32_t dot_encode(FILE* in, char* path, const char* choice) QV_NOEXCEPT;

/* ---- Payloads --------------------------------------------------------------------------- */

/* Largest body (name, terminator, contents) a payload carries. */
#define PAYLOAD_MAX_BODY 65535u

/* (start + the count bytes) modulo 256; start for null bytes or count 0. */
uint8_t payload_sum(const uint8_t* bytes, uint16_t count, uint8_t start) QV_NOEXCEPT;
/* Writes the payload of the file at path (stored under that name) to out. Returns the
 * file's size; 0 when it cannot be read, is empty, or is too large (nothing written). */
uint16_t payload_pack(const char* path, FILE* out) QV_NOEXCEPT;
/* Reads a payload from in and recreates its file under dir + stored name; dir (capacity
 * bytes, holding a prefix that ends in a separator or is empty) then holds that path.
 * Returns the data bytes written; 0 on any failure. A stored name is made relative to dir
 * (leading separators dropped); an empty name, a ".." component, a body without terminator
 * or a path that would not fit dir are refused before anything is created, dir unchanged.
 * A checksum mismatch returns 0 after the file was written in full. */
uint16_t payload_unpack(FILE* in, char* dir, size_t capacity) QV_NOEXCEPT;

/* ---- Plug-ins --------------------------------------------------------------------------- */

/* Reads the picture at path through the first image-import plug-in ("*.spi" beside the
 * program) that accepts it and delivers it, as grey (0 black .. 255 white, row 0 on top).
 * Null when no plug-in delivers a picture of 1..4096 pixels each way. */
GrayImage* image_import(const char* path) QV_NOEXCEPT;

/* Receives one output plug-in description from plugin_list. */
typedef void (*PluginListFn)(void* context, const char* description);
/* Calls add once per usable output plug-in ("*.qvp" beside the program), in search order,
 * with its description. Returns 1 when at least one was listed, else 0. */
int32_t plugin_list(PluginListFn add, void* context) QV_NOEXCEPT;
/* Renders the chain with the first plug-in whose description begins with choice (any when
 * null or empty) and whose qvplot succeeds; returns that result, 0 when none rendered it
 * (path then unchanged). */
int32_t plugin_plot(const Dot* chain, int16_t minx, int16_t miny, int16_t maxx, int16_t maxy,
                    char* path, const char* choice) QV_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif

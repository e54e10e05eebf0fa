/* Quorvel output plug-in interface.
 *
 * An output plug-in is a library named "*.qvp" beside the program. It exports exactly two
 * functions, qvinfo and qvplot, with C linkage and the QV_CALL convention:
 *
 *   int32_t qvinfo(char* buffer, uint32_t length);
 *       Copies the plug-in's description into buffer by the strncpy rule (at most length
 *       bytes; no terminator when the description fills them) and returns nonzero when the
 *       plug-in is usable.
 *
 *   int32_t qvplot(const Dot* chain, int32_t minx, int32_t miny, int32_t maxx, int32_t maxy,
 *                  char* path);
 *       Renders the chain (its newest dot; follow link to the start dot) to the file
 *       path + extension and, on success, appends the extension to path as well. Only the low
 *       16 bits of each bound slot count, as a signed value. Returns 1 when the file was
 *       written, 0 otherwise; on 0 the path is unchanged. path is a 1024-byte buffer.
 *
 * The host owns the chain; a plug-in only reads it and keeps nothing after the call.
 */
#ifndef QVPLUGIN_H
#define QVPLUGIN_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QV_CALL __stdcall
#else
#define QV_CALL
#endif

#if defined(_WIN32)
#define QV_EXPORT __declspec(dllexport)
#else
#define QV_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define QV_EXTERN_C extern "C"
#define QV_NOEXCEPT noexcept
#else
#define QV_EXTERN_C
#define QV_NOEXCEPT
#endif

/* Size of every path and description buffer that crosses the interface. */
#define QV_PATH_MAX 1024

/* One placed dot: centre and radius in dot units, y growing upwards; link is the dot placed
 * before it, null for the start dot. */
typedef struct Dot {
    int16_t x;
    int16_t y;
    uint16_t size;
    struct Dot* link;
} Dot;

typedef int32_t(QV_CALL* QvInfoFn)(char* buffer, uint32_t length);
typedef int32_t(QV_CALL* QvPlotFn)(const Dot* chain, int32_t minx, int32_t miny, int32_t maxx,
                                   int32_t maxy, char* path);

/* The bound slots carry a signed 16-bit value in their low half. */
#define QV_BOUND(slot) ((int16_t)(uint16_t)((uint32_t)(slot) & 0xFFFFu))

#endif

/* The image-import plug-in interface ("*.spi", version "00IN") as this project declares it.
 *
 *   GetPluginInfo(0, buf, len)  writes "00IN" and returns 4.
 *   IsSupported(path, header)   header is the file's first 2048 bytes, zero-filled; nonzero
 *                               when the plug-in reads the file. Decide from the bytes only.
 *   GetPicture(path, 0, 0, &info, &bits, null, 0)
 *                               returns 0 and stores two local memory handles: a
 *                               device-independent bitmap's information block (header and
 *                               colour table) and its pixel bits. The caller frees both.
 *                               Any other result is failure and the handles are untouched.
 */
#ifndef SUSIE_H
#define SUSIE_H

#include <stdint.h>

#include "platform.h"
#include "qvplugin.h"

#define SUSIE_HEADER_SIZE 2048
#define SUSIE_MAX_SIDE 4096

/* GetPicture results. */
#define SUSIE_OK 0
#define SUSIE_NOT_SUPPORTED (-1)
#define SUSIE_BAD_DATA 2
#define SUSIE_NO_MEMORY 4
#define SUSIE_READ_ERROR 6

typedef int32_t(QV_CALL* SusieProgress)(int32_t num, int32_t denom, int32_t data);

typedef int32_t(QV_CALL* SusieGetPluginInfoFn)(int32_t infono, char* buf, int32_t buflen);
typedef int32_t(QV_CALL* SusieIsSupportedFn)(const char* filename, const void* header);
typedef int32_t(QV_CALL* SusieGetPictureFn)(const char* buf, int32_t len, uint32_t flag,
                                            PlatformHandle* info, PlatformHandle* bits,
                                            SusieProgress progress, int32_t data);

#endif

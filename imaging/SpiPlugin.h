// SPDX-License-Identifier: GPL-3.0-or-later
/* Susie plug-ins on Linux: what a plug-in exports for Tolvane to load it.
 *
 * A plug-in is a shared library whose file name ends in ".spi" (any letter
 * case), placed in the folder Tolvane is started from. Tolvane opens each one
 * with dlopen(RTLD_NOW | RTLD_LOCAL) and looks the entry points below up by
 * name with dlsym, so they must be exported unmangled (C linkage) and with
 * default visibility. Compiling the definitions after including this header
 * gives both, also under -fvisibility=hidden. The header is plain C; C and
 * C++ plug-ins alike include it.
 *
 * A plug-in must export IsSupported and GetPicture (one without GetPicture,
 * an archive plug-in, is not loaded). GetPictureInfo is needed to read a
 * picture; GetPreview, GetArchiveInfo and GetFile are looked up but never
 * called.
 *
 * Calling convention, differences from the Windows form:
 *  - 32-bit integers are int32_t / uint32_t; handles are malloc'd blocks.
 *  - IsSupported's second argument is a file descriptor of the file, open
 *    read-only (as on Windows, a value below 65536 is a file handle, not a
 *    memory address). Read it with pread(); do not close it.
 *  - Tolvane always passes a file: buf is the file's path (UTF-8 as the
 *    system spells it), len (the offset into the file) is 0 and flag is 0.
 *  - Everything handed back (hInfo, *pHBInfo, *pHBm) comes from malloc();
 *    Tolvane releases it with free(), also when the call reports an error.
 *  - The progress callback given to GetPicture is null: do not call it.
 *
 * GetPicture hands back a picture in the Windows DIB form:
 *  - *pHBInfo: a BITMAPINFOHEADER (40 bytes, little-endian; biSize 40 to 124
 *    for the later header versions) followed by the colour table, 4 bytes
 *    per entry (blue, green, red, 0). biBitCount is 1, 4, 8, 24 or 32;
 *    biCompression is BI_RGB (0). The table holds biClrUsed entries, or 2^n
 *    for n = 1, 4, 8 when biClrUsed is 0; biClrUsed may not exceed 2^n.
 *    24- and 32-bit pictures need no table. 32-bit pixels are blue, green,
 *    red, alpha; an alpha byte of zero everywhere means "no alpha", anything
 *    else is laid over white.
 *  - *pHBm: the pixel rows, bottom row first (or top row first when
 *    biHeight is negative), each padded to a multiple of 4 bytes.
 *  The blocks cannot be measured after the fact, so Tolvane reads exactly
 *  what the header describes: allocate at least biSize + 4 x table entries
 *  for *pHBInfo and at least |biHeight| x padded row bytes for *pHBm
 *  (biSizeImage, when not 0, may not be less). The width and height must
 *  match what GetPictureInfo reported.
 *
 * Return codes: 0 success; SPI_* below for the rest (any non-zero value is
 * a failure to Tolvane).
 */
#ifndef TOLVANE_SPIPLUGIN_H
#define TOLVANE_SPIPLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SPI_EXPORT __attribute__((visibility("default")))

enum {
    SPI_SUCCESS = 0,
    SPI_NO_FUNCTION = -1,      /* not implemented */
    SPI_ABORT = 1,             /* stopped by the progress callback */
    SPI_NOT_SUPPORT = 2,       /* unknown format */
    SPI_OUT_OF_ORDER = 3,      /* damaged data */
    SPI_NO_MEMORY = 4,         /* allocation failed */
    SPI_MEMORY_ERROR = 5,
    SPI_FILE_READ_ERROR = 6,
    SPI_OTHER_ERROR = 8        /* internal error */
};

/* Ways to read the first argument (flag & 7). Tolvane passes SPI_INPUT_FILE. */
enum { SPI_INPUT_FILE = 0, SPI_INPUT_MEMORY = 1 };

#pragma pack(push, 1)
typedef struct SpiPictureInfo {
    int32_t left, top;        /* where the picture goes; 0, 0 for most */
    int32_t width, height;    /* pixels */
    uint16_t x_density, y_density;  /* pixels per inch, 0 when unknown */
    int16_t colorDepth;       /* bits per pixel */
    void* hInfo;              /* text from malloc() (comments) or null; the caller frees it */
} SpiPictureInfo;
#pragma pack(pop)

typedef int32_t (*SpiProgressCallback)(int32_t done, int32_t total, intptr_t lData);

/* Non-zero when the plug-in can read the file. dw is its file descriptor. */
SPI_EXPORT int32_t IsSupported(const char* path, uintptr_t dw);

/* Size and depth of the picture in buf (a path when (flag & 7) == 0). */
SPI_EXPORT int32_t GetPictureInfo(const char* buf, int32_t len, uint32_t flag, SpiPictureInfo* info);

/* The picture: *pHBInfo header and colour table, *pHBm pixel rows (above). */
SPI_EXPORT int32_t GetPicture(const char* buf, int32_t len, uint32_t flag, void** pHBInfo, void** pHBm,
                              SpiProgressCallback progress, intptr_t lData);

/* A smaller picture for a preview; same form as GetPicture. Never called. */
SPI_EXPORT int32_t GetPreview(const char* buf, int32_t len, uint32_t flag, void** pHBInfo, void** pHBm,
                              SpiProgressCallback progress, intptr_t lData);

/* Archive plug-ins: never called by Tolvane. */
SPI_EXPORT int32_t GetArchiveInfo(const char* buf, int32_t len, uint32_t flag, void** lphInf);
SPI_EXPORT int32_t GetFile(const char* src, int32_t len, char* dest, uint32_t flag, SpiProgressCallback progress,
                           intptr_t lData);

/* The same signatures as pointer types, for the loader. */
typedef int32_t (*SpiIsSupportedFn)(const char*, uintptr_t);
typedef int32_t (*SpiGetPictureInfoFn)(const char*, int32_t, uint32_t, SpiPictureInfo*);
typedef int32_t (*SpiGetPictureFn)(const char*, int32_t, uint32_t, void**, void**, SpiProgressCallback, intptr_t);
typedef int32_t (*SpiGetPreviewFn)(const char*, int32_t, uint32_t, void**, void**, SpiProgressCallback, intptr_t);
typedef int32_t (*SpiGetArchiveInfoFn)(const char*, int32_t, uint32_t, void**);
typedef int32_t (*SpiGetFileFn)(const char*, int32_t, char*, uint32_t, SpiProgressCallback, intptr_t);

#ifdef __cplusplus
}  /* extern "C" */
static_assert(sizeof(SpiPictureInfo) == 30, "SpiPictureInfo is packed");
#else
_Static_assert(sizeof(SpiPictureInfo) == 30, "SpiPictureInfo is packed");
#endif

#endif /* TOLVANE_SPIPLUGIN_H */

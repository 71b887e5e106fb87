// SPDX-License-Identifier: GPL-3.0-or-later
/* A Susie plug-in for the loader tests, built once per behaviour:
 *   TSPI_TAG     the file content it accepts starts "TSPI:<tag>\n"
 *                (TSPI_MAGIC_BM: files starting "BM" instead)
 *   TSPI_DEPTH   1, 4, 8, 24 or 32 bits per pixel
 *   TSPI_TOPDOWN 1: rows top first (negative height)
 *   TSPI_SEED    varies the colours, to tell two plug-ins apart
 *   TSPI_ALPHA   alpha mode of 32-bit pictures (testspi_pattern.h)
 *   TSPI_FAULT   the rule it breaks (testspi_pattern.h)
 * IsSupported reads only the descriptor; the other calls open the path and
 * refuse anything but the file form (len 0, flag 0). */
#include "imaging/SpiPlugin.h"
#include "testspi_pattern.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define TSPI_STR2(x) #x
#define TSPI_STR(x) TSPI_STR2(x)

#ifdef TSPI_MAGIC_BM
static const char kMagic[] = "BM";
#else
static const char kMagic[] = "TSPI:" TSPI_STR(TSPI_TAG) "\n";
#endif

static int HasMagic(int fd)
{
    char b[sizeof kMagic - 1];
    return pread(fd, b, sizeof b, 0) == (ssize_t)sizeof b && memcmp(b, kMagic, sizeof b) == 0;
}

/* The path really names an accepted file, and the call is the file form. */
static int FileCall(const char* buf, int32_t len, uint32_t flag)
{
    int fd, ok;
    if (len != 0 || (flag & 7) != 0 || !buf)
        return 0;
    fd = open(buf, O_RDONLY);
    if (fd < 0)
        return 0;
    ok = HasMagic(fd);
    close(fd);
    return ok;
}

static int32_t Width(void)
{
    switch (TSPI_FAULT) {
    case TSPI_WIDTH_ZERO: return 0;
    case TSPI_TOO_WIDE: return 65536;
    case TSPI_TOO_BIG: return 65535;
    case TSPI_TOO_BIG_OUT: return 65535;
    default: return TSPI_WIDTH;
    }
}

static int32_t Height(void)
{
    switch (TSPI_FAULT) {
    case TSPI_TOO_BIG: return 4500;
    case TSPI_TOO_BIG_OUT: return 65535;
    default: return TSPI_HEIGHT;
    }
}

/* GetPictureInfo calls so far, for the tests to see who was asked. */
__attribute__((visibility("default"))) int32_t TspiInfoCalls(void);
static int32_t infoCalls;
int32_t TspiInfoCalls(void)
{
    return infoCalls;
}

static void* BigBlock(void)
{
    return malloc(TSPI_BIG_BLOCK);
}

int32_t IsSupported(const char* path, uintptr_t dw)
{
    if (TSPI_FAULT == TSPI_REFUSE || dw >= 65536)
        return 0;
    return HasMagic((int)dw);
}

#if TSPI_FAULT != TSPI_NO_INFO
int32_t GetPictureInfo(const char* buf, int32_t len, uint32_t flag, SpiPictureInfo* info)
{
    static const char kText[] = "test plug-in comment";
    ++infoCalls;
    if (!FileCall(buf, len, flag))
        return SPI_NOT_SUPPORT;
    memset(info, 0, sizeof *info);
    info->width = Width();
    info->height = Height();
    info->colorDepth = TSPI_DEPTH;
    info->hInfo = BigBlock();
    if (info->hInfo)
        memcpy(info->hInfo, kText, sizeof kText);
    return TSPI_FAULT == TSPI_INFO_FAILS ? SPI_OUT_OF_ORDER : SPI_SUCCESS;
}
#endif

#if TSPI_FAULT != TSPI_NO_PICTURE
static uint32_t TableSize(int depth)
{
    return depth <= 8 ? 1u << depth : 0;
}

static void Put16(unsigned char* p, unsigned v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

static void Put32(unsigned char* p, uint32_t v)
{
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

int32_t GetPicture(const char* buf, int32_t len, uint32_t flag, void** pHBInfo, void** pHBm,
                   SpiProgressCallback progress, intptr_t lData)
{
    const int fault = TSPI_FAULT;
    const int depth = fault == TSPI_BITCOUNT16 ? 16 : fault == TSPI_CLRUSED_SHORT ? 4 : TSPI_DEPTH;
    const int32_t w = Width(), h = Height();
    const int drawn = fault == TSPI_OK || fault == TSPI_CLRUSED_SHORT;
    const size_t stride = ((size_t)w * (size_t)depth + 31) / 32 * 4;
    const size_t rowBytes = stride * (size_t)h;
    uint32_t clrUsed = 0, entries = TableSize(depth);
    unsigned char* info;
    unsigned char* bits;
    int32_t x, y;

    (void)progress;
    (void)lData;
    if (!FileCall(buf, len, flag) || progress)
        return SPI_NOT_SUPPORT;
    if (fault == TSPI_CLRUSED_OVER)
        clrUsed = entries = 17;
    if (fault == TSPI_CLRUSED_SHORT)
        clrUsed = entries = 3;

    info = fault == TSPI_NULL_INFO ? NULL : calloc(1, 40 + 4 * (size_t)entries);
    /* Where the loader has something to free, make it large (see
     * TSPI_BIG_BLOCK); the rules broken below never need more than that. */
    bits = fault == TSPI_NULL_BITS ? NULL : (drawn ? malloc(rowBytes) : BigBlock());
    *pHBInfo = info;
    *pHBm = bits;
    if ((fault != TSPI_NULL_INFO && !info) || (fault != TSPI_NULL_BITS && !bits))
        return SPI_NO_MEMORY;
    if (info) {
        Put32(info, fault == TSPI_SMALL_BISIZE ? 12 : 40);
        Put32(info + 4, (uint32_t)(fault == TSPI_WIDTH_NEGATIVE ? -w : fault == TSPI_INFO_MISMATCH ? w + 1 : w));
        Put32(info + 8, (uint32_t)(TSPI_TOPDOWN ? -h : h));
        Put16(info + 12, 1);
        Put16(info + 14, (unsigned)depth);
        Put32(info + 16, fault == TSPI_RLE ? 1 : 0);
        /* The broken ones leave it 0 ("all rows"), so each breaks one rule only. */
        Put32(info + 20, drawn ? (uint32_t)rowBytes : fault == TSPI_SIZEIMAGE_SHORT ? (uint32_t)(rowBytes - 1) : 0);
        Put32(info + 32, clrUsed);
        unsigned char* table = info + 40;
        for (uint32_t i = 0; i < entries; ++i, table += 4)
            TspiPaletteEntry((int)i, TSPI_SEED, table);
    }
    if (fault == TSPI_PICTURE_FAILS)
        return SPI_OUT_OF_ORDER;
    if (!drawn || !bits)
        return SPI_SUCCESS;

    memset(bits, 0xAA, rowBytes);  /* padding that is no pixel */
    for (y = 0; y < h; ++y) {
        unsigned char* row = bits + stride * (size_t)(TSPI_TOPDOWN ? y : h - 1 - y);
        if (depth <= 8)
            memset(row, 0, ((size_t)w * (size_t)depth + 7) / 8);
        for (x = 0; x < w; ++x) {
            if (depth == 1) {
                row[x / 8] |= (unsigned char)(TspiIndex(x, y, 1, TSPI_SEED) << (7 - x % 8));
            } else if (depth == 4) {
                const int i = fault == TSPI_CLRUSED_SHORT ? (x + y) % 5 : TspiIndex(x, y, 4, TSPI_SEED);
                row[x / 2] |= (unsigned char)(x % 2 ? i : i << 4);
            } else if (depth == 8) {
                row[x] = (unsigned char)TspiIndex(x, y, 8, TSPI_SEED);
            } else {
                unsigned char* p = row + (size_t)x * (size_t)(depth / 8);
                TspiTrueColour(x, y, TSPI_SEED, p);
                if (depth == 32)
                    p[3] = TspiAlpha(x, y, TSPI_ALPHA);
            }
        }
    }
    return SPI_SUCCESS;
}
#endif

/* Bound by the loader, never called. */
int32_t GetPreview(const char* buf, int32_t len, uint32_t flag, void** pHBInfo, void** pHBm,
                   SpiProgressCallback progress, intptr_t lData)
{
    return SPI_NO_FUNCTION;
}

#if TSPI_FAULT == TSPI_NO_PICTURE
int32_t GetArchiveInfo(const char* buf, int32_t len, uint32_t flag, void** lphInf)
{
    return SPI_NO_FUNCTION;
}

int32_t GetFile(const char* src, int32_t len, char* dest, uint32_t flag, SpiProgressCallback progress, intptr_t lData)
{
    return SPI_NO_FUNCTION;
}
#endif

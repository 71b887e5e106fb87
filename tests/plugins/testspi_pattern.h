// SPDX-License-Identifier: GPL-3.0-or-later
/* What the test plug-ins hand back, shared by the plug-ins (C) and the tests
 * that check the pixels (C++). */
#ifndef TOLVANE_TESTSPI_PATTERN_H
#define TOLVANE_TESTSPI_PATTERN_H

/* Odd sizes, so every depth has row padding. */
#define TSPI_WIDTH 13
#define TSPI_HEIGHT 7

/* Ways a test plug-in breaks the rules (TSPI_FAULT); macros, for #if. */
#define TSPI_OK                0
#define TSPI_REFUSE            1  /* IsSupported says no to everything */
#define TSPI_NO_PICTURE        2  /* no GetPicture: an archive plug-in */
#define TSPI_PICTURE_FAILS     3  /* GetPicture hands back blocks and an error */
#define TSPI_NO_INFO           4  /* no GetPictureInfo */
#define TSPI_INFO_FAILS        5  /* GetPictureInfo fails after setting hInfo */
#define TSPI_WIDTH_ZERO        6  /* info and header say width 0 */
#define TSPI_WIDTH_NEGATIVE    7  /* header width negative */
#define TSPI_TOO_WIDE          8  /* width one past the largest side */
#define TSPI_TOO_BIG           9  /* 65535 x 4500 at 32 bits: rows over the block limit */
#define TSPI_NULL_BITS         10  /* success with no pixel block */
#define TSPI_NULL_INFO         11  /* success with no header block */
#define TSPI_CLRUSED_OVER      12  /* 4 bits with 17 table entries */
#define TSPI_BITCOUNT16        13  /* 16 bits per pixel */
#define TSPI_RLE               14  /* RLE8 compression */
#define TSPI_SMALL_BISIZE      15  /* a 12-byte header size */
#define TSPI_INFO_MISMATCH     16  /* header one pixel wider than the info record */
#define TSPI_SIZEIMAGE_SHORT   17  /* biSizeImage below the rows' size */
#define TSPI_CLRUSED_SHORT     18  /* valid: 4 bits, 3 table entries, indices past them */
#define TSPI_TOO_BIG_OUT       19  /* 65535 x 65535 at 1 bit: the 24-bit picture over the limit */

/* Blocks of this size go to the loader wherever a plug-in can leave it
 * something to free, so a leak shows in the allocator's mapped bytes. */
#define TSPI_BIG_BLOCK (40u << 20)

static inline int TspiIndex(int x, int y, int depth, int seed)
{
    return (x * 3 + y * 5 + seed) % (1 << depth);
}

/* Colour-table entry i: blue, green, red. */
static inline void TspiPaletteEntry(int i, int seed, unsigned char bgr[3])
{
    bgr[0] = (unsigned char)(i * 37 + seed * 50);
    bgr[1] = (unsigned char)(i * 91 + 7);
    bgr[2] = (unsigned char)(i * 53 + 17);
}

/* Pixel (x, y), y = 0 the top row, of the 24- and 32-bit pictures. */
static inline void TspiTrueColour(int x, int y, int seed, unsigned char bgr[3])
{
    bgr[0] = (unsigned char)(x * 19 + seed * 40);
    bgr[1] = (unsigned char)(y * 31 + 3);
    bgr[2] = (unsigned char)(x * 7 + y * 11 + 60);
}

/* Alpha of the 32-bit pictures: mode 0 zero everywhere (no alpha), mode 1
 * opaque, half and clear by column. */
static inline unsigned char TspiAlpha(int x, int y, int mode)
{
    if (mode == 0)
        return 0;
    return (unsigned char)(x % 3 == 0 ? 255 : x % 3 == 1 ? 128 : 0);
}

#endif

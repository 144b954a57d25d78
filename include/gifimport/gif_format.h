/* gifimport: the GIF format's fixed bytes - block introducers, extension
 * labels, the flags and masks of the packed fields - for programs that walk
 * a GIF's blocks beside the filter (the command line's structure listing).
 *
 * Blocks after the header: an extension ('!', a label, sub-blocks), an
 * image (',', a descriptor, an optional colour table, the LZW minimum code
 * size, sub-blocks), or the trailer (';'). Sub-blocks: a size byte n
 * (1..255) and n data bytes, repeated, ended by a size byte 0.
 *
 * Plain C, C linkage; stands alone.
 */
#ifndef GIFIMPORT_GIF_FORMAT_H
#define GIFIMPORT_GIF_FORMAT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes that start a block. */
enum {
  kExtensionIntroducer = 0x21, /* '!' */
  kImageSeparator = 0x2C,      /* ',' */
  kTrailer = 0x3B              /* ';' */
};

/* Extension labels, the byte after '!'. */
enum {
  kLabelPlainText = 0x01,
  kLabelGraphicControl = 0xF9,
  kLabelComment = 0xFE,
  kLabelApplication = 0xFF
};

/* Packed fields of the logical screen and the image descriptor: bit 7 a
 * colour table follows, bits 0-2 its size field n (2^(n+1) entries); the
 * screen's bits 4-6 the colour resolution less one, the image's bit 6
 * interlaced rows. */
enum {
  kColorTableFlag = 0x80,
  kInterlaceFlag = 0x40,
  kSizeFieldMask = 0x07,
  kColorResolutionShift = 4
};

/* Graphic control packed field: bit 0 a transparent index is given, bits
 * 2-4 the disposal method. */
enum { kTransparentFlag = 0x01, kDisposalShift = 2, kDisposalMask = 0x07 };

/* Sizes of the first sub-block of the extensions read field by field. */
enum { kGraphicControlBlockSize = 4, kPlainTextBlockSize = 12 };

#ifdef __cplusplus
}
#endif

#endif

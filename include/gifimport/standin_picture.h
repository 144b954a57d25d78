/* gifimport: reading the picture an import built, from our stand-in for the
 * companion library (libQvGdi32.so here, QvGdi32.dll on Windows), and saving
 * it as PNG or SVG. The real library keeps the picture in its own document
 * instead; these calls are the stand-in's only.
 *
 * The stand-in records every document the filter builds. When the filter
 * destroys one (at the end of every ImportFile that got as far as creating
 * it, also a failed one), that document becomes the last picture of the
 * thread it was destroyed on, which is the importing thread:
 *
 *   const StandInPicture* picture = StandInPictureLast();
 *   StandInPictureInfo info;
 *   StandInPictureGetInfo(picture, &info);
 *   for (int i = 0; i < info.bitmapCount; ++i) StandInPictureGetBitmap(...);
 *   StandInPictureSave(picture, "out.png", kStandInPng, NULL, error, sizeof error);
 *
 * A picture stays valid until the next document is destroyed on its thread,
 * StandInPictureForget is called there or the thread ends; strings it hands
 * out live as long.
 *
 * Coordinates are the picture's: y points up, the frame's x1, y1 is the
 * bottom-left corner and x2, y2 the top-right; a GIF's screen of W x H
 * pixels has the frame 0, 0, W, H, and an image at GIF row r has its top at
 * H - r. Imports on several threads at once each leave their own picture:
 * read it on the thread that imported it, or hand it on only while that
 * thread leaves it be.
 *
 * Plain C, C linkage; stands alone.
 */
#ifndef GIFIMPORT_STANDIN_PICTURE_H
#define GIFIMPORT_STANDIN_PICTURE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifndef STANDIN_API
#define STANDIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct StandInPicture StandInPicture; /* opaque */

typedef struct StandInColor {
  uint8_t red, green, blue;
} StandInColor;

typedef struct StandInPictureInfo {
  int16_t frame[4];  /* x1, y1, x2, y2 (QvSetFrame): x2 - x1 by y2 - y1 pixels */
  int16_t window[4]; /* x1, y1, x2, y2 (QvSetWindow) */
  int16_t scaleMode; /* 1: one unit is `scale` millimetres; 0: no scale given */
  double scale;
  int32_t hasBackground; /* 1 when a background colour was set */
  StandInColor background;
  int32_t paletteCount; /* entries of the palette in force at the end */
  int32_t bitmapCount;
  int32_t textCount;
  int32_t complete; /* 1: finished and closed; 0: given up or left open */
} StandInPictureInfo;

typedef struct StandInBitmapInfo {
  int16_t left, top, right, bottom; /* picture space: top above bottom */
  int32_t width, height;            /* pixels, as the bitmap was begun */
  int32_t depth;                    /* bits per pixel: 1, 4 or 8 */
  int32_t transparent;              /* 1: pixels of backColorIndex are not drawn */
  int32_t backColorIndex;           /* the back colour index in force when begun */
  int32_t paletteCount;             /* entries of the palette in force when begun */
  int32_t bandCount;                /* bands the rows came in */
  int32_t complete;                 /* 1 when the bitmap was ended */
} StandInBitmapInfo;

typedef struct StandInTextInfo {
  int16_t x, y;             /* origin, picture space */
  int16_t extentX, extentY; /* the extent the line was drawn with */
  int16_t height;           /* text height in force */
  int32_t colorIndex;       /* text colour index in force */
  StandInColor color;       /* that entry of the palette in force */
  const char* face;         /* first face of the font table; "" when none */
  const char* text;         /* the line, as the filter sent it */
} StandInTextInfo;

/* The calling thread's last picture (see above), or null when none was
 * built on it since it began or since its last StandInPictureForget. */
STANDIN_API const StandInPicture* StandInPictureLast(void);
/* Drops the calling thread's last picture and what it holds. */
STANDIN_API void StandInPictureForget(void);

/* The functions below return 0 (or a count) on success and -1 for a null
 * picture or record, or an index out of range; nothing is written then. */
STANDIN_API int StandInPictureGetInfo(const StandInPicture* picture, StandInPictureInfo* info);
/* Copies up to `max` entries of the palette in force at the end; returns
 * the number of entries it has. */
STANDIN_API int StandInPicturePalette(const StandInPicture* picture, StandInColor* colors, int max);

/* Bitmaps and text lines, 0-based, in the order they were drawn. */
STANDIN_API int StandInPictureGetBitmap(const StandInPicture* picture, int index,
                                        StandInBitmapInfo* info);
/* The palette in force when the bitmap began: as StandInPicturePalette. */
STANDIN_API int StandInPictureBitmapPalette(const StandInPicture* picture, int index,
                                            StandInColor* colors, int max);
/* The bitmap's pixels as palette indices, one byte each, width x height,
 * top row first, unpacked from its bands (a later band wins where bands
 * overlap). Pixels no band delivered are 0. Returns how many pixels no band
 * delivered (0 for a whole bitmap); -1 also when `size` is below
 * width x height. */
STANDIN_API int StandInPictureBitmapPixels(const StandInPicture* picture, int index,
                                           uint8_t* pixels, size_t size);
STANDIN_API int StandInPictureGetText(const StandInPicture* picture, int index,
                                      StandInTextInfo* info);

/* ---- Saving ----------------------------------------------------------------
 * The picture rendered at its frame's size, bitmaps and text in the order
 * drawn. Where nothing is drawn it stays transparent unless `background`
 * asks for the background colour. A picture whose bitmaps share one palette
 * and hold no text is written as a palette PNG with a transparency chunk,
 * any other as RGBA; the SVG embeds each bitmap as a palette PNG. */
enum { kStandInPng = 0, kStandInSvg = 1 };

typedef struct StandInSaveOptions {
  int32_t background;  /* 1: fill with the background colour */
  int32_t compression; /* deflate level of PNG data, 0 to 9 (a null options: 1) */
  /* Told the part written (0 to 1000) now and then, when not null; a
   * non-zero answer stops the writing, which then fails. */
  int (*progress)(void* user, int permille);
  void* progressUser;
} StandInSaveOptions;

/* Writes to an open file. 0 on success; else non-zero, with a message in
 * `error` (when not null: at most errorSize bytes, terminated). options may
 * be null: no background, compression 1. */
STANDIN_API int StandInPictureWrite(const StandInPicture* picture, FILE* out, int format,
                                    const StandInSaveOptions* options, char* error,
                                    size_t errorSize);
/* Writes to a new file at `path`; on failure nothing is left there. */
STANDIN_API int StandInPictureSave(const StandInPicture* picture, const char* path, int format,
                                   const StandInSaveOptions* options, char* error,
                                   size_t errorSize);

/* ---- Frames ----------------------------------------------------------------
 * For a host that shows the bitmaps one at a time, as the frames of an
 * animation, on an image of its own: RGBA, 4 bytes a pixel (red, green,
 * blue, alpha), top row first, of the frame's size (x2 - x1 by y2 - y1
 * pixels), laid out as a saved picture's pixels are. */
enum { kStandInItemBitmap = 0, kStandInItemText = 1 };

/* How many bitmaps and text lines were drawn in all; -1 for a null picture. */
STANDIN_API int StandInPictureItemCount(const StandInPicture* picture);
/* The nth of them in call order (0-based): its kind and its index among the
 * bitmaps or among the text lines. */
STANDIN_API int StandInPictureGetItem(const StandInPicture* picture, int n, int32_t* kind,
                                      int32_t* index);
/* Draws the nth item onto `rgba` as saving draws it: a bitmap's pixels
 * opaque in their palette's colours (a transparent bitmap's back colour
 * index left out), a text line in its colour; clipped to the frame, the
 * rest left as it was. -1 also when `size` is below the frame's bytes or
 * the frame is empty or larger than 16384 pixels a side. */
STANDIN_API int StandInPictureDrawItem(const StandInPicture* picture, int n, uint8_t* rgba,
                                       size_t size);
/* Writes an RGBA image of width x height pixels (1 to 16384 each) as an
 * RGBA PNG, or as an SVG that embeds that PNG: as StandInPictureWrite, but
 * for the options' background, which is not read. */
STANDIN_API int StandInImageWrite(const uint8_t* rgba, int width, int height, FILE* out, int format,
                                  const StandInSaveOptions* options, char* error, size_t errorSize);

#ifdef __cplusplus
}
#endif

#endif

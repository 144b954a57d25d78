/* gifimport: the companion graphics library QvGdi32, every operation the
 * filter calls (a host calls some of them too: options blocks, captures).
 *
 * The library supplies the output document ("picture"), options blocks, the
 * preferences dialog and metafile capture; its input streams have a header
 * of their own (gifimport/input_stream.h). Coordinates travel as signed
 * 16-bit values in the first two bytes of 8-byte slots, sizes as 16-bit
 * values in 4-byte slots; the picture's y axis points up.
 * Only QvDocOpen, QvDocClose and QvMetafileEnd return a library error code;
 * every other picture error stays pending until QvGetError collects it.
 *
 * Plain C, C linkage; stands alone. Record layouts are exact on 32-bit
 * targets; on 64-bit ones, pointer and handle fields are pointer-sized in the
 * same order.
 */
#ifndef GIFIMPORT_COMPANION_H
#define GIFIMPORT_COMPANION_H

#include <stddef.h>
#include <stdint.h>

#include "gifimport/layout_check.h"
#include "gifimport/win_platform.h"

#ifndef QV_API
#define QV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QvPictureRec* QvPicture; /* an output document */
typedef uint32_t QvCapture;             /* a metafile capture; 0 is none */
struct HostContext;                     /* gifimport/filter_api.h */

/* A coordinate: signed 16-bit value in the first two bytes of 8. */
typedef struct CoordSlot {
  int16_t value;
  int16_t unused[3];
} CoordSlot;

/* A size: 16-bit value in the first two bytes of 4. */
typedef struct SizeSlot {
  uint16_t value;
  uint16_t unused;
} SizeSlot;

/* x1, y1, x2, y2 (32 bytes). */
typedef struct PictureRect {
  CoordSlot x1, y1, x2, y2;
} PictureRect;

/* A point (16 bytes): text origin and extent. */
typedef struct PicturePoint {
  CoordSlot x, y;
} PicturePoint;

/* Three corners of a bitmap or band (48 bytes): top-left, bottom-right,
 * top-right, as x left, y top, x right, y bottom, x right, y top. */
typedef struct BitmapCorners {
  CoordSlot xLeft, yTop, xRight, yBottom, xRight2, yTop2;
} BitmapCorners;

/* Width in pixels, then rows (8 bytes). */
typedef struct BitmapSize {
  SizeSlot width, rows;
} BitmapSize;

/* One colour (12 bytes): red, green, blue each in the first byte of its own
 * 32-bit slot, the other bytes 0. */
typedef struct PaletteEntry {
  uint8_t red, pad1[3];
  uint8_t green, pad2[3];
  uint8_t blue, pad3[3];
} PaletteEntry;

/* What QvGetError fills: the library's code and its operation number. */
typedef struct LibraryErrorPair {
  int16_t code;
  int16_t operation;
} LibraryErrorPair;

/* Operation numbers the library reports in LibraryErrorPair. */
enum { kQvOpDocOpen = 0, kQvOpDocClose = 2, kQvOpSetFontTable = 269 };

/* The library's error codes, as LibraryErrorPair, QvDocOpen and QvDocClose
 * give them, that the filter tells apart (gifimport/filter_api.h says what
 * each becomes). Codes whose meaning the library keeps to itself are named
 * by their numbers, a range by its first code; every code not here is one
 * the filter does not know. */
enum QvErrorCode {
  kQvErrNone = 0,
  kQvErr20 = 20,
  kQvErrGroup21First = 21,
  kQvErrGroup21Last = 26,
  kQvErrNothingToDo = 76, /* not an error: there was nothing to do */
  kQvErrGroup161First = 161,
  kQvErrGroup161Last = 166,
  kQvErr168 = 168,
  kQvErrOutOfMemory = 300,
  kQvErr301 = 301,
  kQvErr302 = 302, /* at kQvOpSetFontTable: the font table was refused */
  kQvErr303 = 303,
  kQvErrGroup304First = 304,
  kQvErrGroup304Last = 305,
  kQvErrStop = 901 /* the library stops the import */
};

/* The filter's edit operation handed to the preferences dialog. */
typedef int32_t(WINAPI* EditSetupProc)(uintptr_t a, uintptr_t b, uintptr_t c);

/* Interface version of the library (0x02000006 or above for this filter). */
QV_API int32_t WINAPI QvGetVersion(void);

/* ---- Document and picture ------------------------------------------------- */

QV_API QvPicture WINAPI QvDocCreate(int32_t reserved);
QV_API void WINAPI QvDocSetNames(QvPicture picture, const char* name1, const char* name2,
                                 const char* name3);
/* 0, or a library error code (kQvErrNothingToDo is not an error). */
QV_API int16_t WINAPI QvDocOpen(QvPicture picture, const char* startName, const char* openName,
                                int32_t reserved, HGLOBAL options, struct HostContext* context);
QV_API void WINAPI QvDocStart(QvPicture picture, const char* startName);
QV_API void WINAPI QvDocFinish(QvPicture picture);
QV_API int16_t WINAPI QvDocClose(QvPicture picture);
QV_API void WINAPI QvDocDestroy(QvPicture picture);

QV_API void WINAPI QvPictureBegin(QvPicture picture, const char* name);
QV_API void WINAPI QvPictureHeaderEnd(QvPicture picture);
QV_API void WINAPI QvPictureEnd(QvPicture picture);
QV_API void WINAPI QvSetFrame(QvPicture picture, const PictureRect* frame);
QV_API void WINAPI QvSetWindow(QvPicture picture, const PictureRect* window);
/* Mode kQvScaleMillimetres: factor is millimetres per picture unit. */
enum { kQvScaleMillimetres = 1 };
QV_API void WINAPI QvSetScale(QvPicture picture, int16_t mode, double factor);
QV_API void WINAPI QvSetFontTable(QvPicture picture, int32_t count, const char* const* faces);
QV_API void WINAPI QvSetPalette(QvPicture picture, int16_t firstIndex, int32_t count,
                                const PaletteEntry* entries);
QV_API void WINAPI QvSetBackgroundColor(QvPicture picture, const PaletteEntry* color);
QV_API void WINAPI QvSetBackMode(QvPicture picture, int32_t mode);
QV_API void WINAPI QvSetBackColorIndex(QvPicture picture, const uint16_t* index);
QV_API void WINAPI QvSetTextColorIndex(QvPicture picture, const uint16_t* index);
QV_API void WINAPI QvSetTextHeight(QvPicture picture, CoordSlot height);
/* One line of text: extent (grid width, grid height), origin (x, y). The
 * filter draws every line in mode kQvTextMode (what it selects is the
 * library's). */
enum { kQvTextMode = 1 };
QV_API void WINAPI QvDrawText(QvPicture picture, const PicturePoint* extent,
                              const PicturePoint* origin, int32_t mode, const char* text);

/* A bitmap: begun with its corners and size, then its rows in bands (top band
 * first, rows top-down, each row padded to 4 bytes), then ended. negDepth is
 * -1, -4 or -8; transparent 1 leaves out pixels of the back colour index.
 * The filter passes the reserved arguments below; what they select is the
 * library's. */
enum {
  kQvBitmapReserved0 = 0, /* QvBitmapBegin's */
  kQvBitmapReserved1 = 1, /* QvBitmapBegin's and QvBitmapBand's */
  kQvBitmapReserved3 = 3  /* QvBitmapBegin's, 16 bits */
};
QV_API void WINAPI QvBitmapBegin(QvPicture picture, const BitmapCorners* corners,
                                 const BitmapSize* size, int32_t negDepth, int32_t reserved0,
                                 int32_t reserved1, int16_t reserved3, int32_t transparent);
QV_API void WINAPI QvBitmapBand(QvPicture picture, const BitmapCorners* corners,
                                const BitmapSize* size, int32_t negDepth, int32_t reserved1,
                                const uint8_t* rows);
QV_API void WINAPI QvBitmapEnd(QvPicture picture);

/* Pending error: *flag non-zero and the pair filled when there is one; the
 * error is cleared by the fetch. The filter always asks in mode
 * kQvGetErrorMode (what it selects is the library's). */
enum { kQvGetErrorMode = 1 };
QV_API void WINAPI QvGetError(QvPicture picture, int32_t mode, int32_t* flag,
                              LibraryErrorPair* pair);
QV_API void WINAPI QvAbort(QvPicture picture);

/* ---- Options blocks, dialog, metafile capture, text helpers --------------- */

/* A global memory handle of a new options block, 0 on failure. */
QV_API HGLOBAL WINAPI QvOptionsCreate(int32_t a, int32_t b, int32_t c, int32_t d);
/* The codes below, each with its size. A source address stores `size`
 * bytes, a destination address fetches them. Returns 0 when done, non-zero
 * otherwise: the kQvOptions... results below; nothing is changed or written
 * then. What the first four options mean is the library's and the host's;
 * the filter sets, reads or hands them on as their lines say. */
enum {
  kQvOptionFilterBlockMark = 3,    /* 2 bytes; 0 on every block the filter makes */
  kQvOptionRefuseImport = 4,       /* 2 bytes; non-zero: the metafile entries refuse */
  kQvOptionCaptureValue = 0x1A,    /* 4 bytes; the last argument of QvMetafileBegin */
  kQvOptionRegisterMark = 0x28,    /* 1 byte; 0xFF on the block of GetFilterInfo */
  kQvOptionStorePersistent = 0x2A, /* stores the persistent bytes (1..64) */
  kQvOptionFetchPersistent = 0x2B  /* fetches them */
};
enum {
  kQvOptionsBadBlock = 1,    /* not a live options block (a setup, say) */
  kQvOptionsUnknownCode = 2, /* a code the library does not keep */
  kQvOptionsBadSize = 3,     /* size not the code's (persistent: 1..64) */
  kQvOptionsNoData = 4       /* a store without a source, a fetch without a destination */
};
QV_API int32_t WINAPI QvOptionsControl(HGLOBAL block, int32_t code, int32_t size,
                                       const void* source, void* destination, uintptr_t extra);
QV_API void WINAPI QvPreferencesDialog(uintptr_t owner, HGLOBAL setup, uint32_t hostValue,
                                       EditSetupProc edit, int32_t flag, const char* title);
/* ---- Metafile capture ------------------------------------------------------
 * QvMetafileBegin opens a capture and returns its handle (never 0). The
 * document whose QvDocOpen gets a HostContext with that capture as userValue
 * and QvMetafileStatus as statusCallback is the one captured: when it is
 * closed (QvDocClose), the capture writes its picture as an Enhanced
 * Metafile and leaves in that context
 *   inputMemory  the metafile's handle (HENHMETAFILE), 0 when none was made;
 *   results[0..3] the picture's frame (left, top, right, bottom) in the
 *                metafile's logical units: 0, 0, width, height, y down;
 *   results[4]   the metafile's units per inch (from the picture's scale).
 * The frame and units are left also when the metafile cannot be made.
 * A document never closed, or given up (QvAbort), leaves no metafile. The
 * handle belongs to whoever took it from the context. */
QV_API QvCapture WINAPI QvMetafileBegin(HWND owner, const char* title, const char* path,
                                        int32_t reserved, int32_t version, int32_t value);
/* Ends and releases the capture. 0 when it ended well; else, first match:
 * the first error code reported to it (kind 3) as 16 bits; kQvCaptureStopped
 * when the import was stopped (a stop confirmed in the cancellation
 * follow-up, or the captured document given up with no error reported);
 * kQvCaptureNoMetafile when the document closed but its metafile could not
 * be made; kQvCaptureNotOpen for a capture that is not open. A capture whose
 * import opened no document and reported nothing ends with 0 and left no
 * metafile. */
enum { kQvCaptureNotOpen = -1, kQvCaptureNoMetafile = -2, kQvCaptureStopped = 61 };
QV_API int16_t WINAPI QvMetafileEnd(QvCapture capture);
/* The status callback of a capture: userValue is the capture. It records
 * what the import reports, and answers 0 (go on) unless the capture's user
 * asked to stop. */
QV_API int32_t WINAPI QvMetafileStatus(uint32_t userValue, int32_t kind, int32_t code,
                                       int32_t value1, int32_t value2, int32_t severity,
                                       int32_t* extra);
/* Copies source with its terminator to destination. */
QV_API void WINAPI QvStringCopy(char* destination, const char* source);
/* Writes the directory part of path `source`, ending with its separator, to
 * destination (empty when there is none). */
QV_API void WINAPI QvPathDirectory(char* destination, const char* source);

#ifdef __cplusplus
}
#endif

/* ---- Layout checks ---------------------------------------------------------- */
GIFIMPORT_STATIC_ASSERT(sizeof(PaletteEntry) == 12 && sizeof(CoordSlot) == 8 &&
                            sizeof(PictureRect) == 32 && sizeof(BitmapCorners) == 48 &&
                            sizeof(BitmapSize) == 8 && sizeof(LibraryErrorPair) == 4,
                        "companion record layouts");

#endif

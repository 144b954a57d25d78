/* gifimport: the byte layout of the filter's setup block, the movable,
 * zero-filled global memory block behind the handle CreateSetup returns.
 *
 * Hosts treat that handle as opaque: they pass it back to the filter and
 * never read or write the block. The layout is here for tools that inspect
 * a setup, such as the command line's `setup` command, which prints what
 * the filter read from the profile. The filter owns every field; nothing a
 * tool writes is supported.
 *
 * Layout on 32-bit targets (offsets in bytes; text fields are
 * zero-terminated, sizes include the 0):
 *   +0     magic 0xFFEEDDCC          +4     inputPath[260]
 *   +264   driverName[265]           +532   colorCount
 *   +536   overrideColorCount        +540   colors[256][3]
 *   +1308  colorNames[256][17]       +5660  fontCount
 *   +5664  fontNames[32][65]         +7744  fontFaces[32][65]
 *   +9824  startName[260]            +10084 openName[260]
 *   +10344 docNames[3][260]          +11124 percentDone
 *   +11128 inputSize                 +11132 progressBase
 *   +11136 progressSpan              +11140 picture
 *   +11144 embeddedSource            +11148 modeSection[260]
 *   +11408 profilePath[260]          +11668 colorTableSource[260]
 *   +11928 hostContext               +11932 optionsHandle
 *   +11936 request                   +11940 busy
 *   +11944 reserved to 12000
 *   +12000 persistentOptions (24 bytes: streamFunction, carriedWord, 16 more)
 * On 64-bit targets the handle and pointer fields are 8 bytes; the reserved
 * area shrinks so that persistentOptions still starts at 12000.
 *
 * Plain C, C linkage; stands alone.
 */
#ifndef GIFIMPORT_SETUP_BLOCK_H
#define GIFIMPORT_SETUP_BLOCK_H

#include <stddef.h>
#include <stdint.h>

#include "gifimport/companion.h"
#include "gifimport/filter_api.h"
#include "gifimport/host_stream.h"
#include "gifimport/layout_check.h"
#include "gifimport/win_platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The first 4 bytes of every live setup block. */
#define kSetupBlockMagic 0xFFEEDDCCu

/* Field sizes in bytes, and the entries of the profile's tables. */
enum {
  kSetupBlockTextBytes = 260, /* paths and names: 259 characters + 0 */
  kSetupBlockDriverNameBytes = 265,
  kSetupBlockColorNameBytes = 17,
  kSetupBlockFontNameBytes = 65,
  kSetupBlockMaxColors = 256,
  kSetupBlockMaxFonts = 32,
  kSetupBlockFixedBytes = 12000 /* where persistentOptions starts */
};

/* The 24 bytes (on 32-bit targets) the host keeps in its options block
 * between imports. */
typedef struct PersistentOptions {
  HostStreamProc streamFunction; /* not null: read through the host stream */
  uint32_t carriedWord;          /* kEscapeCarriedWord's: only kept and saved */
  uint8_t more[16];              /* only kept and saved */
} PersistentOptions;

typedef struct RgbTriple {
  uint8_t red, green, blue;
} RgbTriple;

typedef struct FilterSetup {
  uint32_t magic; /* kSetupBlockMagic */
  char inputPath[kSetupBlockTextBytes];
  char driverName[kSetupBlockDriverNameBytes];
  int32_t colorCount;
  int32_t overrideColorCount; /* > 0: the profile's colours replace the GIF's first ones */
  RgbTriple colors[kSetupBlockMaxColors];
  char colorNames[kSetupBlockMaxColors][kSetupBlockColorNameBytes];
  int32_t fontCount;
  char fontNames[kSetupBlockMaxFonts][kSetupBlockFontNameBytes];
  char fontFaces[kSetupBlockMaxFonts][kSetupBlockFontNameBytes];
  char startName[kSetupBlockTextBytes];
  char openName[kSetupBlockTextBytes];
  char docNames[3][kSetupBlockTextBytes];
  int32_t percentDone;
  int32_t inputSize; /* -1 when the stream cannot tell its length */
  int32_t progressBase;
  int32_t progressSpan;
  QvPicture picture;
  uintptr_t embeddedSource;
  char modeSection[kSetupBlockTextBytes];
  char profilePath[kSetupBlockTextBytes]; /* empty: no profile found, defaults in force */
  char colorTableSource[kSetupBlockTextBytes];
  HostContext* hostContext;
  HGLOBAL optionsHandle;
  ImportRequest* request;
  /* Not 0 while ImportFile runs on this setup: a status callback that comes
   * back into the filter must not free, re-import or change the job under
   * it. */
  uint32_t busy;
  uint8_t reserved[sizeof(void*) == 4 ? 56 : 28];
  PersistentOptions persistentOptions;
} FilterSetup;

#ifdef __cplusplus
}
#endif

GIFIMPORT_STATIC_ASSERT(offsetof(FilterSetup, persistentOptions) == kSetupBlockFixedBytes,
                        "persistentOptions follows the 12000 fixed bytes");
GIFIMPORT_STATIC_ASSERT(sizeof(void*) != 4 ||
                            (sizeof(PersistentOptions) == 24 && sizeof(FilterSetup) == 12024),
                        "32-bit setup block is 12000 + 24 bytes");
GIFIMPORT_STATIC_ASSERT(
    sizeof(void*) != 4 ||
        (offsetof(FilterSetup, driverName) == 264 && offsetof(FilterSetup, colorCount) == 532 &&
         offsetof(FilterSetup, colors) == 540 && offsetof(FilterSetup, fontCount) == 5660 &&
         offsetof(FilterSetup, startName) == 9824 && offsetof(FilterSetup, docNames) == 10344 &&
         offsetof(FilterSetup, percentDone) == 11124 && offsetof(FilterSetup, picture) == 11140 &&
         offsetof(FilterSetup, modeSection) == 11148 &&
         offsetof(FilterSetup, hostContext) == 11928 && offsetof(FilterSetup, request) == 11936 &&
         offsetof(FilterSetup, busy) == 11940),
    "32-bit setup field offsets");

#endif

/* gifimport: the GIF (87a, 89a) import filter gifin - the interface a host
 * programs to.
 *
 * The host loads the module (gifin.dll on Windows, gifin.so on Linux) and
 * calls the exports below. Every export has C linkage and the WINAPI calling
 * convention; the status callback and the host stream function use it too.
 *
 * Layouts: exact on 32-bit targets (Win32, Linux i386) as the byte tables
 * below give them. On 64-bit targets (Linux, and Windows x64 alike: only
 * pointers and handles grow), fields that hold a pointer or a handle are
 * pointer-sized, in the same order, with natural alignment; the 64-bit
 * offsets are given after each table ("64-bit Linux").
 *
 * Plain C; stands alone (only include/ on the include path). Nothing here
 * allocates; the host owns every record it passes. The Windows types come
 * from gifimport/win_platform.h, the host stream function from
 * gifimport/host_stream.h; the companion library's operations, for a host
 * that makes options blocks or captures itself, are gifimport/companion.h.
 */
#ifndef GIFIMPORT_FILTER_API_H
#define GIFIMPORT_FILTER_API_H

#include <stddef.h>
#include <stdint.h>

#include "gifimport/host_stream.h"
#include "gifimport/layout_check.h"
#include "gifimport/win_platform.h"

#ifndef GIFIN_API
#define GIFIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status callback -------------------------------------------------------
 * answer = statusCallback(userValue, kind, code, value1, value2, severity,
 *                         extra)
 *   kind 0, code 0:  progress; value1 = percent done (0..100).
 *   kind 0, code -1: range announcement; value1 = base (0), value2 = span
 *                    (100). Sent once per import; the answer is ignored.
 *   kind 2, code 61: cancellation follow-up after a non-zero answer to a
 *                    progress call; non-zero confirms the stop, 0 withdraws it.
 *   kind 3:          error report; code = the error number, severity 0, 1
 *                    or 2. The answer is ignored.
 * extra: kinds 2 and 3 - ten 32-bit values, all 0; kind 0 - null.
 * A null callback means no call of any kind. The callback returns to the
 * filter every time ("Leaving a callback", below). */
enum { kStatusProgress = 0, kStatusCancelFollowUp = 2, kStatusError = 3 };
/* The codes of kind kStatusProgress; the follow-up's code is kErrCancelled. */
enum {
  kStatusCodeProgress = 0, /* value1 = percent done */
  kStatusCodeRange = -1    /* value1 = base, value2 = span */
};
/* The values behind extra in kinds 2 and 3. */
enum { kStatusExtraValues = 10 };
/* The severity of a report (kind 3): kSeverityLow for every number but the
 * few whose lines below say otherwise; what a host shows for each is its
 * own. */
enum {
  kSeverityLow = 0,
  kSeverityMedium = 1, /* kErrLibFontTable, and numbers this filter never sends */
  kSeverityHigh = 2    /* only numbers this filter never sends */
};
typedef int32_t(WINAPI* StatusCallback)(uint32_t userValue, int32_t kind, int32_t code,
                                        int32_t value1, int32_t value2, int32_t severity,
                                        int32_t* extra);

/* ---- HostContext (60 bytes on 32-bit) --------------------------------------
 *  +0  16-bit reserved, 0
 *  +4  userValue       first argument of every statusCallback call
 *  +8  statusCallback  null: no progress, cancellation or error reports
 *  +12, +16            reserved, 0
 *  +20 hostValue       set by the metafile entries; not read by the import
 *  +24 inputMemory     global memory handle holding the whole GIF, used when
 *                      the input path is empty; after a metafile capture, the
 *                      handle of the metafile made
 *  +28..+44 results    five values written by the companion library during
 *                      the import (left, top, right, bottom, units per inch)
 *  +48, +52, +56       reserved
 * 64-bit Linux: statusCallback +8 (8), reserved +16 +20, hostValue +24,
 * inputMemory +32 (8), results +40..+56, reserved +60 +64 +68; 72 bytes. */
typedef struct HostContext {
  uint16_t reserved0;
  uint16_t reserved0High;
  uint32_t userValue;
  StatusCallback statusCallback;
  uint32_t reserved3;
  uint32_t reserved4;
  uint32_t hostValue;
  HGLOBAL inputMemory;
  int32_t results[5];
  uint32_t reserved12;
  uint32_t reserved13;
  uint32_t reserved14;
} HostContext;

/* ---- ImportRequest (36 bytes on 32-bit) ------------------------------------
 *  +0  16-bit reserved, 0
 *  +4  setupHandle     from CreateSetup
 *  +8  optionsHandle   the host's options block (QvOptionsCreate), or 0
 *  +12 docNames[0]     first document name, or null (keeps the last one)
 *  +16 docNames[1]
 *  +20 docNames[2]
 *  +24 hostContext     the HostContext of this import
 *  +28 streamUserValue user value of the host stream, when one is used
 *  +32 reserved, 0
 * 64-bit Linux: setupHandle +8, optionsHandle +16, docNames +24 +32 +40,
 * hostContext +48, streamUserValue +56, reserved +60; 64 bytes. */
typedef struct ImportRequest {
  uint16_t reserved0;
  uint16_t reserved0High;
  HGLOBAL setupHandle;
  HGLOBAL optionsHandle;
  const char* docNames[3];
  HostContext* hostContext;
  uint32_t streamUserValue;
  uint32_t reserved8;
} ImportRequest;

/* ---- FileInfoRecord (60 bytes; any prefix of it) ---------------------------
 * The host sets recordSize; a field exists when it lies wholly inside the
 * record. GetFileInfo fills width, height and bitsPerPixel and sets their
 * bits (0x4, 0x8, 0x40) in itemFlags when the record holds itemFlags.
 *  +0 recordSize, +4 cleared, +8 double item 1, +16 width, +20 cleared,
 *  +24 double item 2, +32 height, +36 item 5, +40 item 6, +44 bitsPerPixel,
 *  +48 item 8, +52 item 9, +56 itemFlags. The same on every target; pass
 *  recordSize 60 for the whole record (sizeof may pad it to 64). */
typedef struct FileInfoRecord {
  int32_t recordSize;
  uint32_t cleared4;
  double item1;
  int32_t width;
  uint32_t cleared20;
  double item2;
  int32_t height;
  int32_t item5;
  int32_t item6;
  int32_t bitsPerPixel;
  int32_t item8;
  int32_t item9;
  uint32_t itemFlags;
} FileInfoRecord;

/* Results of GetFileInfo besides 0 and the header numbers 21, -23, -24. */
enum {
  kFileInfoBadItem = 0x4601,  /* item id not 1..9, or the record too short */
  kFileInfoBadValue = 0x4602, /* a value refused, or an item not stored */
  kFileInfoBadRecord = 0x4603 /* recordSize <= 0 or > 64 */
};

/* ---- SourceDescriptor (272 bytes on 32-bit) --------------------------------
 *  +0, +4 not read; +8 memory: global memory handle holding a whole GIF;
 *  +12 path[260]: the GIF file; empty selects the memory block.
 * 64-bit Linux: memory +8 (8), path +16; 280 bytes. */
typedef struct SourceDescriptor {
  uint32_t unused0;
  uint32_t unused1;
  HGLOBAL memory;
  char path[260];
} SourceDescriptor;

/* ---- ImportResult (24 bytes on 32-bit) -------------------------------------
 *  +0 metafile (0 when there is none), +4 left, +8 top, +12 right,
 *  +16 bottom, +20 unitsPerInch.
 * 64-bit Linux: metafile +0 (8), left +8 ... unitsPerInch +24; 32 bytes. */
typedef struct ImportResult {
  HANDLE metafile;
  int32_t left, top, right, bottom;
  int32_t unitsPerInch;
} ImportResult;

/* Interface version of this filter (QVRGetFilterVersion): the version of
 * the host protocol it speaks, which hosts and the companion library
 * compare. It is not the release's version (1.0.0: the module's version
 * resource, the packages and `gifimport --version`), which changes with
 * every release while this stays as long as the protocol does. */
#define kFilterInterfaceVersion 0x02000006

/* Results of the metafile entries besides 0 and the capture's own number. */
enum {
  kHostNoOptionsOrSetup = 5315, /* no options block, or no setup */
  kHostRefused = 5355,          /* kQvOptionRefuseImport of the block is set */
  kHostBadRecord = 5300         /* a null source or result, or a source path
                                   without its terminator in 260 bytes;
                                   nothing was made or imported */
};

/* ---- Error numbers -----------------------------------------------------------
 * What ImportFile returns and the status callback reports (kind 3), one line
 * each: what it means to a host, then the severity sent with it. The
 * companion library's own errors come translated: kErrLibN stands for its
 * code kQvErrN, kErrLibGroupN for its codes kQvErrGroupNFirst to
 * kQvErrGroupNLast (gifimport/companion.h). */
enum GifImportError {
  kErrNone = 0,         /* success */
  kErrStreamOpen = 7,   /* the input (file, memory block, host stream) cannot be opened; 0 */
  kErrLibFontTable = 9, /* the library refused the font table (its 302); severity 1 */
  kErrLibGroup21 = 12,  /* library codes 21 to 26; 0 */
  kErrLibGroup161 = 13, /* library codes 161 to 166; 0 */
  kErrLib302 = 14,      /* library code 302 at any operation but the font table; 0 */
  kErrLib303 = 15,      /* library code 303; 0 */
  kErrLibGroup304 = 19, /* library codes 304 and 305; 0 */
  kErrRead = 21,        /* the input ends early or cannot be read, or an unknown extension; 0 */
  kErrLib301 = 23,      /* library code 301; 0 */
  kErrLib168 = 25,      /* library code 168; 0 */
  kErrLibUnknown = 26,  /* a library code not named here; 0 */
  kErrMemory = 27,      /* no memory or no output document (also library code 300); 0 */
  kErrTooLarge = 28,    /* a screen side or image edge past the picture's 16-bit coordinates
                           (above 32767, or below -32768), or a padded row longer than a
                           band (32767 bytes): refused before any of it is sent; 0 */
  kErrCancelled = 61,   /* the import was stopped: by the host (not reported), or by library
                           code 901 (reported, but where a progress check gives the picture
                           up instead); 0 */
  kErrLib20 = 65,       /* library code 20; 0 */
  kErrNotGif = -23,     /* no "GIF" signature, or a zero screen size not found again; 0 */
  kErrVersion = -24     /* a version above 89; 0 */
};
/* Former names, deprecated: each says the name that replaces it. */
enum {
  kErrLib21to26 = kErrLibGroup21,    /* use kErrLibGroup21 */
  kErrLib161to166 = kErrLibGroup161, /* use kErrLibGroup161 */
  kErrLib304 = kErrLibGroup304       /* use kErrLibGroup304 */
};

/* ---- Exports ---------------------------------------------------------------- */

/* Runs one import on a setup. The three strings must not be null and must
 * fit 259 characters; inputPath empty selects memory input. kSetupNotLive
 * and kSetupBusy (a status callback importing on the same setup) are not
 * reported through the callback. */
GIFIN_API int32_t WINAPI ImportFile(uint32_t unused, const char* openName, const char* startName,
                                    const char* inputPath, ImportRequest* request);

/* Results of ImportFile, DestroySetup and EscapeSetup for a handle they
 * refuse; nothing is changed, freed or reported then. */
enum {
  kSetupNotLive = -7, /* ImportFile, DestroySetup: no live setup */
  kSetupBusy = -8,    /* an import runs on the setup now, e.g. a status
                         callback calling back into the filter */
  kSetupBadSize = -9  /* no longer returned: EscapeSetup hands every size
                         it does not use to the library; kept for hosts
                         that name it */
};

/* Leaving a callback. The status callback, and the host stream function
 * that the companion library calls during an import, must return to their
 * caller. A host that leaves one otherwise (longjmp, an exception, a
 * Windows structured exception caught above the filter) abandons the
 * import inside the filter: its document, input stream and work blocks are
 * never released, and its setup stays locked and busy, so that ImportFile,
 * EscapeSetup and DestroySetup answer kSetupBusy for it as long as the
 * module stays loaded (nothing the filter can see tells such an import
 * from one still running below a callback that calls back into the
 * filter). Such a host goes on with a new setup; the old one is lost. */

/* A setup from the profile (or the defaults); 0 when none could be made,
 * also when a name does not end within 260 bytes (259 characters): the
 * profile's always, the mode's where a profile was found and reads it. */
GIFIN_API HGLOBAL WINAPI CreateSetup(HINSTANCE instance, const char* profileName,
                                     const char* modeName, uint32_t reserved);
/* 0, or kSetupNotLive, kSetupBusy. */
GIFIN_API int32_t WINAPI DestroySetup(HGLOBAL setup);
/* Does nothing; returns 0. */
GIFIN_API int32_t WINAPI EditSetup(uintptr_t a, uintptr_t b, uintptr_t c);
/* The two codes below, on a setup or an options block: 0, also for a size
 * other than kEscapeValueBytes. Other codes go to QvOptionsControl, whose
 * result comes back and whose writes stay. 0 with nothing done for a null,
 * freed or unknown handle (and for the two codes on a block that is neither
 * a setup nor an options block); kSetupBusy. */
enum {
  kEscapeStreamFunction = 0x51, /* data is the host stream function itself */
  kEscapeCarriedWord = 0x52,    /* data points to a 32-bit word the setup carries, unread */
  kEscapeValueBytes = 4         /* the size both take */
};
GIFIN_API int32_t WINAPI EscapeSetup(HGLOBAL handle, int32_t code, int32_t size, void* data,
                                     void* extra1, uintptr_t extra2);

/* Width, height and bits per pixel of a GIF into a FileInfoRecord. Input: a
 * host stream when streamFunction is set (source = its user value), else a
 * global memory block when source is set and path empty, else the file. A
 * path that does not end within 260 bytes is kErrStreamOpen, as for
 * ImportFile, with the record cleared. */
GIFIN_API int32_t WINAPI GetFileInfo(const char* path, FileInfoRecord* record, uintptr_t source,
                                     HostStreamProc streamFunction);

/* ---- Registration and metafile entries ------------------------------------
 * The three metafile entries import one GIF into a metafile. Input: ImportCB's
 * host stream when streamFunction is set (the source's path is carried
 * along), else the source's memory block when its path is empty (never for
 * ImportEmbeddedGR), else the file at the path. options is the host's block
 * or 0 (ImportGR and ImportCB then use one of their own). A stream function
 * among the block's persistent bytes (kEscapeStreamFunction, or an earlier
 * ImportCB) is used by every entry not given one, with a user value of 0;
 * the host keeps it valid or clears it.
 * On 0, *result holds the metafile (the host deletes it: DeleteEnhMetaFile
 * or DeleteMetaFile as GetObjectType says), the frame in the metafile's
 * units and the units per inch (when the capture gives none: the largest
 * side / 5, for ImportEmbeddedGR 1440). On any other result the metafile is
 * 0 and there is nothing to delete. Results: 0; the capture's non-zero
 * number (the first GifImportError the import reported, kErrCancelled when
 * it was stopped, or a kQvCapture... value of gifimport/companion.h);
 * kHostNoOptionsOrSetup, kHostRefused, kHostBadRecord. */

/* A new options block to *optionsOut (kQvOptionFilterBlockMark = 0; with
 * the default persistent bytes and kQvOptionRegisterMark = 0xFF when a setup
 * can be made): kFilterInfoMade, or 0 with a null handle written. The host
 * frees the block with GlobalFree; the unused values are the host's and
 * ignored. */
enum { kFilterInfoMade = 2 /* GetFilterInfo made the options block */ };
GIFIN_API int16_t WINAPI GetFilterInfo(uint32_t unused1, uint32_t unused2, HGLOBAL* optionsOut,
                                       uint32_t unused4);
/* The companion library's preferences dialog, owned by the window
 * hostValue3 (0: nothing is shown), with hostValue2 handed on. */
GIFIN_API void WINAPI GetFilterPref(uint32_t unused1, uint32_t hostValue2, uintptr_t hostValue3,
                                    uint32_t unused4);
/* The file or memory block of `source` into a metafile (32-bit results). */
GIFIN_API int32_t WINAPI ImportGR(uint32_t hostValue, const SourceDescriptor* source,
                                  ImportResult* result, HGLOBAL options);
/* As ImportGR, from the host stream streamFunction(streamUserValue, ...)
 * when it is given; streamUserValue also goes with a stream of the block. */
GIFIN_API int32_t WINAPI ImportCB(uint32_t hostValue, const SourceDescriptor* source,
                                  ImportResult* result, HGLOBAL options, uint32_t streamUserValue,
                                  HostStreamProc streamFunction);
/* As ImportGR for a GIF embedded in the host's document: `options` must be
 * given (else kHostNoOptionsOrSetup), `inputSize` is the embedded GIF's
 * size, and the results come as 16-bit signed values. */
GIFIN_API int16_t WINAPI ImportEmbeddedGR(uint32_t hostValue, const SourceDescriptor* source,
                                          ImportResult* result, HGLOBAL options, int32_t inputSize,
                                          const char* startText);
/* kFilterInterfaceVersion, 0x02000006: the protocol's version, not the
 * release's. */
GIFIN_API uint32_t WINAPI QVRGetFilterVersion(void);

#ifdef __cplusplus
}
#endif

/* ---- Layout checks ---------------------------------------------------------- */
#define GIFIN_PTR32 (sizeof(void*) == 4)
GIFIMPORT_STATIC_ASSERT(offsetof(FileInfoRecord, width) == 16 &&
                            offsetof(FileInfoRecord, item2) == 24 &&
                            offsetof(FileInfoRecord, bitsPerPixel) == 44 &&
                            offsetof(FileInfoRecord, itemFlags) == 56,
                        "FileInfoRecord offsets");
GIFIMPORT_STATIC_ASSERT(!GIFIN_PTR32 || sizeof(HostContext) == 60, "HostContext is 60 bytes");
GIFIMPORT_STATIC_ASSERT(!GIFIN_PTR32 || (offsetof(HostContext, userValue) == 4 &&
                                         offsetof(HostContext, statusCallback) == 8 &&
                                         offsetof(HostContext, hostValue) == 20 &&
                                         offsetof(HostContext, inputMemory) == 24 &&
                                         offsetof(HostContext, results) == 28 &&
                                         offsetof(HostContext, reserved14) == 56),
                        "HostContext offsets");
GIFIMPORT_STATIC_ASSERT(!GIFIN_PTR32 || sizeof(ImportRequest) == 36, "ImportRequest is 36 bytes");
GIFIMPORT_STATIC_ASSERT(!GIFIN_PTR32 || (offsetof(ImportRequest, setupHandle) == 4 &&
                                         offsetof(ImportRequest, optionsHandle) == 8 &&
                                         offsetof(ImportRequest, docNames) == 12 &&
                                         offsetof(ImportRequest, hostContext) == 24 &&
                                         offsetof(ImportRequest, streamUserValue) == 28 &&
                                         offsetof(ImportRequest, reserved8) == 32),
                        "ImportRequest offsets");
GIFIMPORT_STATIC_ASSERT(!GIFIN_PTR32 || (sizeof(SourceDescriptor) == 272 &&
                                         offsetof(SourceDescriptor, memory) == 8 &&
                                         offsetof(SourceDescriptor, path) == 12),
                        "SourceDescriptor layout");
GIFIMPORT_STATIC_ASSERT(!GIFIN_PTR32 || (sizeof(ImportResult) == 24 &&
                                         offsetof(ImportResult, unitsPerInch) == 20),
                        "ImportResult layout");
GIFIMPORT_STATIC_ASSERT(sizeof(void*) != 8 ||
                            (sizeof(HostContext) == 72 &&
                             offsetof(HostContext, inputMemory) == 32 &&
                             sizeof(ImportRequest) == 64 &&
                             offsetof(ImportRequest, hostContext) == 48 &&
                             sizeof(SourceDescriptor) == 280 && sizeof(ImportResult) == 32),
                        "64-bit layouts");

#endif

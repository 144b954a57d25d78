/* gifimport: the companion library's input streams, over which the filter
 * reads every GIF: a file, a global memory block holding the whole file, or
 * a host stream function (gifimport/host_stream.h).
 *
 * Plain C, C linkage; stands alone. Record layouts are exact on 32-bit
 * targets; on 64-bit ones, pointer fields are pointer-sized in the same
 * order.
 */
#ifndef GIFIMPORT_INPUT_STREAM_H
#define GIFIMPORT_INPUT_STREAM_H

#include <stddef.h>
#include <stdint.h>

#include "gifimport/host_stream.h"
#include "gifimport/layout_check.h"
#include "gifimport/win_platform.h"

#ifndef QV_API
#define QV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QvStreamRec* QvStream; /* an open input stream */

/* Input that is not a file (24 bytes on 32-bit targets; all fields 0 unless
 * set):
 *   +0  source: memory input - address of the variable that holds the locked
 *                 block's address; host stream - the stream's user value
 *   +4  size:   memory input - the block's size in bytes (GlobalSize)
 *   +8, +12     reserved, 0
 *   +16 streamFunction: host stream input - the host stream function
 *   +20         reserved, 0
 * On 64-bit Linux: source +0 (8), size +8, reserved +12 +16,
 * streamFunction +24 (8), reserved +32; 40 bytes. */
typedef struct StreamOpenDescriptor {
  uintptr_t source;
  uint32_t size;
  uint32_t reserved2;
  uint32_t reserved3;
  HostStreamProc streamFunction;
  uint32_t reserved5;
} StreamOpenDescriptor;

/* path: a file to open, or null/ignored when `descriptor` is given. With a
 * descriptor: host stream input when its streamFunction is set (path is then
 * only carried along), else memory input. Returns null on failure. */
QV_API QvStream WINAPI QvStreamOpen(const char* path, const StreamOpenDescriptor* descriptor,
                                    int32_t reserved);
QV_API void WINAPI QvStreamClose(QvStream stream);
/* Bytes read into destination (0 for a null stream). */
QV_API int32_t WINAPI QvStreamRead(QvStream stream, void* destination, int32_t count);
/* 8-bit values read. */
QV_API int32_t WINAPI QvStreamReadChars(QvStream stream, void* destination, int32_t count);
/* 16-bit little-endian values read, stored in host order. */
QV_API int32_t WINAPI QvStreamReadShorts(QvStream stream, void* destination, int32_t count);
/* Structured read: `count` records described by `format` (decimal counts and
 * letters: c = 8-bit, s = 16-bit little-endian stored at the next even record
 * offset). Returns the records read whole; 0 for a null stream; a bad format
 * string reads nothing and returns 0. */
QV_API int32_t WINAPI QvStreamReadFormat(QvStream stream, const char* format, void* record,
                                         int32_t count);
/* Seek origins. */
enum { kQvSeekStart = 0, kQvSeekCurrent = 1, kQvSeekEnd = 2 };
/* From `origin`; the new position, or -1 (before the start is a failure). */
QV_API int32_t WINAPI QvStreamSeek(QvStream stream, int32_t offset, int32_t origin);

#ifdef __cplusplus
}
#endif

GIFIMPORT_STATIC_ASSERT(sizeof(void*) != 4 ||
                            (sizeof(StreamOpenDescriptor) == 24 &&
                             offsetof(StreamOpenDescriptor, size) == 4 &&
                             offsetof(StreamOpenDescriptor, streamFunction) == 16),
                        "StreamOpenDescriptor layout");
GIFIMPORT_STATIC_ASSERT(sizeof(void*) != 8 ||
                            (sizeof(StreamOpenDescriptor) == 40 &&
                             offsetof(StreamOpenDescriptor, streamFunction) == 24),
                        "StreamOpenDescriptor 64-bit layout");

#endif

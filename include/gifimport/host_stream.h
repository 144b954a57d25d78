/* gifimport: the host stream protocol.
 *
 * A host that delivers the GIF itself passes a stream function and a 32-bit
 * user value (GetFileInfo, ImportCB, or the persistent bytes through
 * EscapeSetup's kEscapeStreamFunction). The companion library calls the function for every read and
 * seek of the stream it opened over it:
 *
 *   result = streamFunction(userValue, operation, buffer, value, origin)
 *
 *   kHostStreamRead: copy up to `value` bytes to `buffer`; return the number
 *                    copied (0 at the end), or -1 on failure.
 *   kHostStreamSeek: move to `value` bytes from `origin` (0 start, 1 current,
 *                    2 end); return the new position, or -1 on failure
 *                    (a position before the start is a failure). `buffer`
 *                    is null.
 *   kHostStreamTell: return the current position, or -1 when the stream
 *                    cannot tell; `buffer` is null, `value` and `origin` 0.
 *
 * The function is called on the importing thread only and must return to
 * its caller: no exception, longjmp or structured exception may leave it
 * (what a host loses then: "Leaving a callback" in gifimport/filter_api.h).
 * Plain C; stands alone.
 */
#ifndef GIFIMPORT_HOST_STREAM_H
#define GIFIMPORT_HOST_STREAM_H

#include <stdint.h>

#include "gifimport/win_platform.h"

enum { kHostStreamRead = 1, kHostStreamSeek = 2, kHostStreamTell = 3 };

typedef int32_t(WINAPI* HostStreamProc)(uint32_t userValue, int32_t operation, void* buffer,
                                        int32_t value, int32_t origin);

#endif

/* The Windows calls the filter, the companion library and the host make.
 *
 * On Windows this is the system header and the real kernel32, user32 and
 * gdi32. Elsewhere it declares our stand-in with the same names, types and
 * signatures (libWinPlatform), so the design folders compile unchanged on
 * both. Plain C: the public header and a C test include it.
 */
#ifndef GIFIMPORT_PLATFORM_WIN_API_H
#define GIFIMPORT_PLATFORM_WIN_API_H

#if defined(_WIN32)
#include <windows.h>
#else
#include "platform/linux/win_stand_in.h"
#endif

#endif

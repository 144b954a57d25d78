/* gifimport: the Windows types and calls that the filter, the companion
 * library and a host use.
 *
 * On Windows this is <windows.h>: the system's kernel32, user32 and gdi32.
 * Elsewhere it declares libWinPlatform, our stand-in for the calls this
 * project makes, with the same names, types and signatures (handle types are
 * pointer-sized, as on Windows); a host on Linux links it for the calls it
 * makes itself (GlobalAlloc for memory input, GlobalFree for an options
 * block, GetEnhMetaFileBits and DeleteEnhMetaFile for a metafile). The
 * behaviour the filter relies on is documented per call.
 *
 * Plain C, C linkage; stands alone.
 */
#ifndef GIFIMPORT_WIN_PLATFORM_H
#define GIFIMPORT_WIN_PLATFORM_H

#if defined(_WIN32)
#include <windows.h>
#else

#include <stddef.h>
#include <stdint.h>

#ifndef WINPLATFORM_API
#define WINPLATFORM_API
#endif

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD; /* 32 bits as on Windows, not unsigned long */
typedef unsigned int UINT;
typedef int32_t LONG;
typedef size_t SIZE_T;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;

typedef void* HANDLE;
typedef void* HGLOBAL;
typedef void* HLOCAL;
typedef void* HGDIOBJ;
/* Windows' own tag names, reserved or not, so that the types match its. */
/* NOLINTBEGIN(bugprone-reserved-identifier) */
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__* HWND;
typedef struct HENHMETAFILE__* HENHMETAFILE;
typedef struct HMETAFILE__* HMETAFILE;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
/* NOLINTEND(bugprone-reserved-identifier) */

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

#define GENERIC_READ 0x80000000u
#define OPEN_EXISTING 3u
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define OBJ_METAFILE 9
#define OBJ_ENHMETAFILE 13

#ifdef __cplusplus
extern "C" {
#endif

/* Global memory. A handle is not an address: GlobalLock gives the address
 * (null for a freed or foreign handle) and counts locks. A single block
 * larger than a 32-bit process could get fails. A fixed block is its own
 * handle and never counts locks; a zero-size moveable block is a discarded
 * one (a live handle that locks to null). Blocks without ZEROINIT start
 * filled with 0xCD. Global and Local handles are foreign to each other. */
WINPLATFORM_API HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
WINPLATFORM_API LPVOID WINAPI GlobalLock(HGLOBAL block);
WINPLATFORM_API BOOL WINAPI GlobalUnlock(HGLOBAL block);
WINPLATFORM_API HGLOBAL WINAPI GlobalFree(HGLOBAL block); /* null on success */
WINPLATFORM_API SIZE_T WINAPI GlobalSize(HGLOBAL block);  /* 0 for a bad handle */

/* Local memory: the same rules. LocalHandle maps a locked address back. */
WINPLATFORM_API HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
WINPLATFORM_API LPVOID WINAPI LocalLock(HLOCAL block);
WINPLATFORM_API HLOCAL WINAPI LocalHandle(LPCVOID address);
WINPLATFORM_API BOOL WINAPI LocalUnlock(HLOCAL block);
WINPLATFORM_API HLOCAL WINAPI LocalFree(HLOCAL block);

/* Module resources and path. An instance is what the module's entry routine
 * received; the string table is the module's own (resources/). */
WINPLATFORM_API int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
WINPLATFORM_API DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
/* $WINDIR when set, else the configuration directory fixed at build time. */
WINPLATFORM_API UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size);

/* INI profiles, read from the named file; section and key names without
 * regard to case, blanks around '=' dropped, one pair of matching outer
 * quotes removed, the value cut to size - 1; result = characters copied.
 * A file name without a separator is looked up in the Windows directory.
 * A null section or key gives 0 and an empty buffer (no name lists). */
WINPLATFORM_API DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key,
                                                      LPCSTR defaultValue, LPSTR buffer, DWORD size,
                                                      LPCSTR fileName);

/* Files: only the open test is used (open for reading, then close): other
 * access or disposition values fail; only regular files open.
 * File names: '\\' separates like '/', and a last component that differs
 * only in case is found, as on Windows. */
WINPLATFORM_API HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                          LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                          DWORD flags, HANDLE templateFile);
WINPLATFORM_API BOOL WINAPI CloseHandle(HANDLE handle);

/* Windows and metafiles. There is no active window on Linux. */
WINPLATFORM_API HWND WINAPI GetActiveWindow(void);
WINPLATFORM_API DWORD WINAPI GetObjectType(HGDIOBJ object);
WINPLATFORM_API BOOL WINAPI DeleteEnhMetaFile(HENHMETAFILE metafile);
WINPLATFORM_API BOOL WINAPI DeleteMetaFile(HMETAFILE metafile);
/* Metafile handles over a copy of the file's bytes, as gdi32 makes them. */
WINPLATFORM_API HENHMETAFILE WINAPI SetEnhMetaFileBits(UINT size, const BYTE* bytes);
WINPLATFORM_API UINT WINAPI GetEnhMetaFileBits(HENHMETAFILE metafile, UINT size, BYTE* buffer);
WINPLATFORM_API HMETAFILE WINAPI SetMetaFileBitsEx(UINT size, const BYTE* bytes);

#ifdef __cplusplus
}
#endif

#endif /* !_WIN32 */

#endif

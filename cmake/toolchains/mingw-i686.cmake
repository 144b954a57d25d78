# Windows modules with mingw-w64 (i686-w64-mingw32), the win32 thread model.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(GIFIMPORT_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

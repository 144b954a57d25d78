# Windows modules with mingw-w64 (x86_64-w64-mingw32), the win32 thread model.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(GIFIMPORT_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Release packages (cpack, or `cmake --build --preset release-* --target package`):
# a ZIP of the Windows product, a .tar.gz and a .deb on Linux. The version is
# the project's; the modules' version resource and `gifimport --version`
# take it from there too.

set(CPACK_PACKAGE_NAME gifimport)
set(CPACK_PACKAGE_VENDOR gifimport)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "GIF import filter with a companion library stand-in and a command-line host")
set(CPACK_PACKAGE_CONTACT "gifimport developers <gifimport@users.noreply.github.com>")
set(CPACK_STRIP_FILES OFF)  # stripped at build time, beside their debug files

if(WIN32)
  # The product for Windows host writers: the module with its .def and import
  # libraries, the public headers, the examples, and (marked as such) the
  # companion stand-in and the sample host.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  endif()
  install(FILES filter/gifin.def DESTINATION lib)
  if(TARGET gifin_stdcall_imports)
    # For mingw (GNU import library) and for MSVC (gifin.lib), both mapping
    # the stdcall names a C host calls onto the module's plain exports.
    set(msvc_lib ${CMAKE_BINARY_DIR}/filter/gifin.lib)
    add_custom_command(OUTPUT ${msvc_lib}
      COMMAND ${GIFIMPORT_MINGW_TRIPLE}-dlltool -k -d ${CMAKE_BINARY_DIR}/filter/gifin_stdcall.def
              -D gifin.dll -l ${msvc_lib}
      DEPENDS ${CMAKE_BINARY_DIR}/filter/gifin_stdcall.def VERBATIM)
    add_custom_target(gifin_msvc_imports ALL DEPENDS ${msvc_lib})
    install(FILES ${CMAKE_BINARY_DIR}/filter/libgifin_stdcall.a DESTINATION lib
      RENAME libgifin.dll.a)
    install(FILES ${msvc_lib} DESTINATION lib)
  endif()
  install(FILES packaging/README-windows.txt DESTINATION . RENAME README.txt)
  install(FILES examples/host.c examples/metafile_host.c examples/sample.gif
          examples/plaintext.gif examples/transparent.gif DESTINATION examples)
else()
  set(CPACK_GENERATOR "TGZ;DEB")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  # The stand-ins are private libraries of the package: only the system's
  # are dependencies.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libgcc-s1, libpng16-16, libdeflate0, libuemf0")
  set(CPACK_PACKAGE_DESCRIPTION "The GIF import filter module gifin.so; the stand-in for its \
companion graphics library, libQvGdi32.so, which records and renders the picture; the Linux \
stand-in for the Windows calls, libWinPlatform.so; the gifimport command line; the public \
headers, pkg-config and CMake files.")
  install(FILES examples/host.c examples/metafile_host.c examples/sample.gif
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()
include(CPack)

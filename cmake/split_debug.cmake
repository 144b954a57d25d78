# Release builds keep their symbols beside them, in BUILD/debug/NAME.debug
# (linked from the stripped file), and ship the stripped modules.
option(GIFIMPORT_SPLIT_DEBUG "Strip the modules and the host into separate debug files" OFF)
if(GIFIMPORT_SPLIT_DEBUG AND NOT CMAKE_OBJCOPY AND GIFIMPORT_MINGW_TRIPLE)
  set(CMAKE_OBJCOPY ${GIFIMPORT_MINGW_TRIPLE}-objcopy)
endif()
if(GIFIMPORT_SPLIT_DEBUG AND NOT CMAKE_OBJCOPY)
  message(FATAL_ERROR "GIFIMPORT_SPLIT_DEBUG needs objcopy")
endif()

# gifimport_split_debug(target): called where the target is made.
function(gifimport_split_debug target)
  if(NOT GIFIMPORT_SPLIT_DEBUG)
    return()
  endif()
  set(debug_file ${CMAKE_BINARY_DIR}/debug/$<TARGET_FILE_NAME:${target}>.debug)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debug
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug_file}
    COMMAND ${CMAKE_OBJCOPY} --strip-unneeded --add-gnu-debuglink=${debug_file} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

# Every test of a Windows build runs in one wine prefix: made by a setup
# fixture, its server stopped by a cleanup fixture whatever the tests gave.
# A test that cannot run on this machine (wine-run's exit status 77 and its
# "skipped" line) is reported skipped, never passed.
add_test(NAME wine_start COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --start)
add_test(NAME wine_stop COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --stop)
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180
  PASS_REGULAR_EXPRESSION "wine-run: prefix ready")
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60
  PASS_REGULAR_EXPRESSION "wine-run: server stopped")
set_tests_properties(wine_start wine_stop PROPERTIES
  SKIP_RETURN_CODE 77 SKIP_REGULAR_EXPRESSION "wine-run: skipped")

# Called from any directory that adds tests: at the end of that directory,
# its tests need the prefix and know the skip signs.
function(gifimport_wine_directory)
  get_property(done DIRECTORY PROPERTY GIFIMPORT_WINE_DEFERRED)
  if(NOT done)
    set_property(DIRECTORY PROPERTY GIFIMPORT_WINE_DEFERRED ON)
    cmake_language(DEFER CALL gifimport_wine_test_properties)
  endif()
endfunction()

function(gifimport_wine_test_properties)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test IN LISTS tests)
    get_test_property(${test} LABELS labels)
    if(labels MATCHES "static")
      continue()  # reads the modules without running them
    endif()
    get_test_property(${test} FIXTURES_REQUIRED required)
    if(NOT required)
      set(required "")
    endif()
    list(APPEND required wine)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED "${required}"
      SKIP_RETURN_CODE 77 SKIP_REGULAR_EXPRESSION "wine-run: skipped")
  endforeach()
endfunction()

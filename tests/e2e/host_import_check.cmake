# Checks what the `gifimport import` tests wrote into OUT (the pictures
# when PICTURES is true); with PREPARE set, empties OUT for them first.
if(PREPARE)
  file(REMOVE_RECURSE ${OUT})
  file(MAKE_DIRECTORY ${OUT})
  return()
endif()

function(fail message)
  message(FATAL_ERROR "${message}")
endfunction()

if(PICTURES)
  foreach(png sample.png plaintext.PNG)
    if(NOT EXISTS ${OUT}/${png})
      fail("${png} was not written")
    endif()
    file(READ ${OUT}/${png} signature LIMIT 8 HEX)
    if(NOT signature STREQUAL "89504e470d0a1a0a")
      fail("${png} is not a PNG (${signature})")
    endif()
  endforeach()

  file(READ ${OUT}/transparent.svg svg)
  if(NOT svg MATCHES "<svg[^>]*width=\"80\"" OR NOT svg MATCHES "<image")
    fail("transparent.svg is not an 80-pixel SVG with embedded bitmaps")
  endif()
endif()

# Every companion call of the import, in order, one JSON object a line.
file(STRINGS ${OUT}/sample.jsonl trace)
list(GET trace -1 last)
if(NOT last MATCHES "^{\"op\":\"QvStreamClose\"")
  fail("the trace does not end with the stream's close: ${last}")
endif()
string(JOIN "\n" joined ${trace})
if(NOT joined MATCHES "QvStreamOpen.*QvDocCreate.*QvBitmapBegin.*QvBitmapBand.*QvBitmapEnd.*QvDocDestroy")
  fail("the trace lacks calls of the import:\n${joined}")
endif()

# One line per bitmap: number, left, top, width, height, depth, transparent,
# back colour index; one PGM of palette indices per bitmap.
file(READ ${OUT}/bitmaps/bitmaps.tsv table)
if(NOT table STREQUAL "1\t0\t0\t192\t128\t8\t0\t0\n")
  fail("sample bitmaps.tsv: '${table}'")
endif()
file(READ ${OUT}/bitmaps/bitmap-001.pgm header LIMIT 15 HEX)
if(NOT header STREQUAL "50350a313932203132380a3235350a")  # "P5\n192 128\n255\n"
  fail("bitmap-001.pgm header: ${header}")
endif()
file(SIZE ${OUT}/bitmaps/bitmap-001.pgm size)
math(EXPR expected "15 + 192 * 128")
if(NOT size EQUAL expected)
  fail("bitmap-001.pgm holds ${size} bytes, not ${expected}")
endif()

file(READ ${OUT}/transparent/bitmaps.tsv table)
if(NOT table STREQUAL "1\t0\t0\t80\t80\t4\t0\t0\n2\t10\t10\t60\t60\t4\t1\t0\n")
  fail("transparent bitmaps.tsv: '${table}'")
endif()

foreach(unwritten no.png sample.bmp)
  if(EXISTS ${OUT}/${unwritten})
    fail("${unwritten} was written by an import that failed")
  endif()
endforeach()

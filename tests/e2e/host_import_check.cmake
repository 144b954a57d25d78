# Checks what the `gifimport import` tests wrote into OUT (the pictures
# when PICTURES is true); with PREPARE set, empties OUT for them first.
# Reading a file that was not written fails the check too.
if(PREPARE)
  file(REMOVE_RECURSE ${OUT})
  file(MAKE_DIRECTORY ${OUT})
  return()
endif()

# Under wine the runs are skipped where the kernel cannot run the build's
# programs (the 32-bit product on a 64-bit-only kernel): nothing to check.
if(SKIP_IF_NOT_RUN AND NOT EXISTS ${OUT}/sample.jsonl)
  message("wine-run: skipped: the import runs did not run")
  return()
endif()

if(PICTURES)
  foreach(png sample.png plaintext.PNG)
    file(READ ${OUT}/${png} signature LIMIT 8 HEX)
    if(NOT signature STREQUAL "89504e470d0a1a0a")
      message(FATAL_ERROR "${png} is not a PNG (${signature})")
    endif()
  endforeach()
  file(READ ${OUT}/transparent.svg svg)
  if(NOT svg MATCHES "<svg[^>]*width=\"80\"" OR NOT svg MATCHES "<image")
    message(FATAL_ERROR "transparent.svg is not an 80-pixel SVG with embedded bitmaps")
  endif()
endif()

# Every companion call of the import, in order, one JSON object a line,
# the stream's close last.
file(STRINGS ${OUT}/sample.jsonl trace)
string(JOIN "\n" joined ${trace})
if(NOT joined MATCHES "QvStreamOpen.*QvDocCreate.*QvBitmapBegin.*QvBitmapBand.*QvBitmapEnd.*QvDocDestroy.*\n{\"op\":\"QvStreamClose\"[^\n]*$")
  message(FATAL_ERROR "the trace lacks calls of the import:\n${joined}")
endif()

# One line per bitmap: number, left, top, width, height, depth, transparent,
# back colour index; one PGM of palette indices per bitmap, its header
# "P5\n192 128\n255\n" and 192 x 128 bytes.
file(READ ${OUT}/bitmaps/bitmaps.tsv sample)
file(READ ${OUT}/transparent/bitmaps.tsv transparent)
file(READ ${OUT}/bitmaps/bitmap-001.pgm header LIMIT 15 HEX)
file(SIZE ${OUT}/bitmaps/bitmap-001.pgm size)
if(NOT sample STREQUAL "1\t0\t0\t192\t128\t8\t0\t0\n" OR
   NOT transparent STREQUAL "1\t0\t0\t80\t80\t4\t0\t0\n2\t10\t10\t60\t60\t4\t1\t0\n" OR
   NOT header STREQUAL "50350a313932203132380a3235350a" OR NOT size EQUAL 24591)
  message(FATAL_ERROR "bitmap dumps: sample '${sample}', transparent '${transparent}', "
                      "PGM header ${header} and ${size} bytes")
endif()

foreach(unwritten no.png sample.bmp)
  if(EXISTS ${OUT}/${unwritten})
    message(FATAL_ERROR "${unwritten} was written by an import that failed")
  endif()
endforeach()

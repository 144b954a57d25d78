# The Windows modules checked without running them (objdump -p):
#  - gifin.dll exports exactly the names of gifin.def, undecorated;
#  - it imports every companion operation from QvGdi32.dll by ordinal, none
#    by name, and QvGdi32.dll names none of its operations;
#  - no module needs a GCC runtime DLL;
#  - gifin.dll holds a string table and a version resource.
# cmake -DOBJDUMP=... -DBIN=<folder of the modules> -DDEF=<gifin.def> -P product_check.cmake
function(dump module out)
  execute_process(COMMAND ${OBJDUMP} -p ${BIN}/${module} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objdump cannot read ${BIN}/${module}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The lines after `start` up to the next blank line.
function(text_block text start out)
  string(FIND "${text}" "${start}" at)
  if(at EQUAL -1)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  string(SUBSTRING "${text}" ${at} -1 rest)
  string(FIND "${rest}" "\n\n" end)
  string(SUBSTRING "${rest}" 0 ${end} rest)
  set(${out} "${rest}" PARENT_SCOPE)
endfunction()

function(export_names text out)
  text_block("${text}" "[Ordinal/Name Pointer] Table" names)
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" names "${names}")
  list(TRANSFORM names REPLACE "^\\[ *[0-9]+\\] " "")
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

set(errors "")
dump(gifin.dll filter)
dump(QvGdi32.dll companion)
dump(gifimport.exe host)

file(STRINGS ${DEF} wanted REGEX "^  [A-Za-z]+$")
list(TRANSFORM wanted STRIP)
list(SORT wanted)
export_names("${filter}" exported)
if(NOT exported STREQUAL wanted)
  string(APPEND errors "gifin.dll exports [${exported}], not [${wanted}]\n")
endif()

text_block("${filter}" "DLL Name: QvGdi32.dll" imports)
string(REGEX MATCHALL "\n\t[0-9a-f]+\t[^\n]*" entries "${imports}")
list(LENGTH entries count)
string(REGEX MATCHALL "<none>" by_ordinal "${imports}")
list(LENGTH by_ordinal ordinals)
if(count EQUAL 0 OR NOT ordinals EQUAL count)
  string(APPEND errors "gifin.dll imports ${count} QvGdi32 entries, ${ordinals} by ordinal:${imports}\n")
endif()
export_names("${companion}" named)
list(FILTER named INCLUDE REGEX "^_?Qv")
if(named)
  string(APPEND errors "QvGdi32.dll exports operations by name: ${named}\n")
endif()

foreach(module filter companion host)
  string(REGEX MATCHALL "DLL Name: [^\n]*(libgcc|libstdc|libwinpthread)[^\n]*" runtime "${${module}}")
  if(runtime)
    string(APPEND errors "${module} needs ${runtime}\n")
  endif()
endforeach()

text_block("${filter}" "The .rsrc Resource Directory section:" resources)
foreach(type "0x000006;string table" "0x000010;version resource")
  list(GET type 0 id)
  list(GET type 1 what)
  if(NOT resources MATCHES "\n[0-9a-f]+   Entry: ID: ${id},")
    string(APPEND errors "gifin.dll has no ${what}\n")
  endif()
endforeach()

if(errors)
  message(FATAL_ERROR "${errors}")
endif()
message("product check passed: ${count} companion imports by ordinal, exports ${exported}")

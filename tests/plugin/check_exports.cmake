# Fails unless the library exports exactly the five WebUI_ entry points by
# their plain names: its dynamic symbols on Linux, its PE export table on
# Windows (OBJDUMP set to the cross objdump).
if(OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE table RESULT_VARIABLE status)
  # "\t[   0] WebUI_Deinitialize" lines after "[Ordinal/Name Pointer] Table", up to a blank line.
  # The brackets go first: inside them CMake would not split a list.
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([^\n]+\n)*)" table_part "${table}")
  string(REGEX REPLACE "[][]" " " lines "${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "[^ \t\n]+\n" names "${lines}")
else()
  execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  string(REGEX MATCHALL "[^ \n]+\n" names "${symbols}")
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "could not read the exports of ${LIBRARY}")
endif()
set(defined "")
foreach(line IN LISTS names)
  string(STRIP "${line}" name)
  list(APPEND defined "${name}")
endforeach()
list(SORT defined)
set(expected WebUI_Deinitialize WebUI_Free WebUI_HandleSystemMessage WebUI_Initialize WebUI_UIRequest)
if(NOT "${defined}" STREQUAL "${expected}")
  message(FATAL_ERROR "exported: ${defined}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${defined}")

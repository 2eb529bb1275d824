# Usage: cmake -DNM=<nm> -DLIBRARY=<shared object> -P check_exports.cmake
set(expected
  DecoderGetFrame DecoderGetInfo DecoderGetLastError DecoderGetSeiNAL DecoderInit
  DecoderOnNewData DecoderSetLoggerCallback DecoderShutdown)

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()

set(exported)
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; version-node entries (type A) are not symbols.
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^ ]+)$" AND NOT CMAKE_MATCH_1 STREQUAL "A")
    list(APPEND exported ${CMAKE_MATCH_2})
  endif()
endforeach()
list(SORT exported)

if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exported: ${exported}\nexpected: ${expected}")
endif()

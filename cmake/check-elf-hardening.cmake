# Checks that a shared library of ours still carries its hardening (cmake/KestoCompilerOptions.cmake):
#   - Debian's hardening-check: stack protector, fortified functions (when FORTIFY is on),
#     read-only relocations, immediate binding. Its control-flow check reads the CET property
#     note, which the linker drops because Debian 12's crti.o and crtn.o lack it; so instead
#   - the exported function FUNCTION begins with endbr64 (-fcf-protection);
#   - with debug information, every compile unit's producer string names
#     -fstack-protector-strong, -fstack-clash-protection and -fcf-protection (stack-clash
#     probes only show in the code of frames larger than a page, which we may not have).
#
# Usage: cmake -DHARDENING_CHECK=<path> -DOBJDUMP=<objdump> -DREADELF=<readelf> -DMODULE=<so>
#              -DFUNCTION=<export> -DFORTIFY=ON|OFF -P check-elf-hardening.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT HARDENING_CHECK)
  message(FATAL_ERROR "hardening-check not found (Debian package devscripts; scripts/install-deps)")
endif()
set(failures "")

set(options --nocfprotection)
if(NOT FORTIFY)
  list(APPEND options --nofortify)
endif()
execute_process(COMMAND ${HARDENING_CHECK} ${options} ${MODULE}
  OUTPUT_VARIABLE report ERROR_VARIABLE report RESULT_VARIABLE result)
message(STATUS "${report}")
if(NOT result EQUAL 0)
  string(APPEND failures "hardening-check ${options} failed\n")
endif()

execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn --disassemble=${FUNCTION} ${MODULE}
  OUTPUT_VARIABLE code RESULT_VARIABLE result)
if(NOT code MATCHES "<${FUNCTION}>:\n[^\n]*endbr64")
  string(APPEND failures "${FUNCTION} does not begin with endbr64 (-fcf-protection lost)\n")
endif()

execute_process(COMMAND ${READELF} -p .debug_str ${MODULE}
  OUTPUT_VARIABLE strings ERROR_QUIET)
string(REGEX MATCHALL "GNU C[^\n]*" producers "${strings}")
list(REMOVE_DUPLICATES producers)
foreach(producer IN LISTS producers)
  foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
    string(FIND "${producer}" "${flag}" at)
    if(at EQUAL -1)
      string(APPEND failures "compiled without ${flag}: ${producer}\n")
    endif()
  endforeach()
endforeach()
list(LENGTH producers units)
message(STATUS "${MODULE}: ${units} producer strings checked (none without debug information)")

if(failures)
  message(FATAL_ERROR "${MODULE}:\n${failures}")
endif()

# Checks a Windows DLL's export and import tables (objdump -p):
#   - it exports exactly the names in the "global:" section of VERSION_SCRIPT, undecorated;
#   - it imports only DLLs that every Windows installation has, so nothing of the mingw
#     runtime (libstdc++-6, libgcc_s_seh-1, libwinpthread-1, libgomp-1, libssp-0) must ship
#     beside it;
#   - its hardening (cmake/KestoCompilerOptions.cmake): DllCharacteristics with ASLR
#     (DYNAMIC_BASE), high-entropy ASLR (HIGH_ENTROPY_VA) and NX (NX_COMPAT), and the stack
#     protector's guard and failure handler in its symbol table, which the linker takes from
#     the static libssp only when protected code refers to them.
#
# Usage: cmake -DOBJDUMP=<objdump> -DMODULE=<dll> -DVERSION_SCRIPT=<map> -P check-pe-module.cmake

cmake_minimum_required(VERSION 3.25)

set(system_dlls
  advapi32.dll bcrypt.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll user32.dll ws2_32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${MODULE}
  OUTPUT_VARIABLE listing RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${MODULE} failed: ${errors}")
endif()

set(expected)
file(STRINGS "${VERSION_SCRIPT}" lines)
set(in_global FALSE)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line MATCHES "^global:")
    set(in_global TRUE)
  elseif(line MATCHES "^(local:|})")
    set(in_global FALSE)
  elseif(in_global AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*);$")
    list(APPEND expected ${CMAKE_MATCH_1})
  endif()
endforeach()

set(exported)
set(imported)
set(in_names FALSE)
string(REPLACE "\n" ";" listing_lines "${listing}")
foreach(line IN LISTS listing_lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^[ \t]+\\[ *[0-9]+\\] (.+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  elseif(in_names)
    set(in_names FALSE)
  endif()
  if(line MATCHES "DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND imported "${dll}")
  endif()
endforeach()

list(SORT expected)
list(SORT exported)
set(failures "")
if(NOT exported STREQUAL expected)
  string(APPEND failures "exports differ from ${VERSION_SCRIPT}\n  exported: ${exported}\n"
                         "  expected: ${expected}\n")
endif()
foreach(dll IN LISTS imported)
  if(NOT dll IN_LIST system_dlls)
    string(APPEND failures "imports ${dll}, which is not a system DLL\n")
  endif()
endforeach()
foreach(flag DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT)
  if(NOT listing MATCHES "DllCharacteristics[^\n]*\n([\t ]+[A-Z_]+\n)*[\t ]+${flag}\n")
    string(APPEND failures "DllCharacteristics lack ${flag}\n")
  endif()
endforeach()
execute_process(COMMAND ${OBJDUMP} -t ${MODULE} OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
foreach(symbol __stack_chk_guard __stack_chk_fail)
  if(NOT symbols MATCHES "[ \t]${symbol}\n")
    string(APPEND failures "no ${symbol}: built without the stack protector\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${MODULE}:\n${failures}")
endif()
message(STATUS "${MODULE}: ${exported}; imports ${imported}")

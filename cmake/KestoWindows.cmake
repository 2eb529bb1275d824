# What the Windows build needs besides the toolchain (cmake/mingw-w64-x86_64.cmake): Wine as
# the emulator for test programs, FFmpeg and GoogleTest cross-compiled from Debian's sources,
# the stb header, and export lists for the DLLs. Included from the top-level CMakeLists.txt
# when the target is Windows.

include_guard(GLOBAL)

if(NOT MINGW)
  message(FATAL_ERROR "The Windows build is made with mingw-w64 (the windows-x64 preset)")
endif()
if(NOT KESTO_MINGW_TRIPLET)
  set(KESTO_MINGW_TRIPLET x86_64-w64-mingw32)
endif()
find_program(KESTO_OBJDUMP NAMES ${KESTO_MINGW_TRIPLET}-objdump objdump REQUIRED)

# DLLs are named as they ship ("KestoVideoClient.dll", not mingw's default "libKestoVideoClient.dll").
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_SHARED_MODULE_PREFIX "")

# FindOpenMP names libgomp's import library (libgomp.dll.a) by its full path, and a full path
# is linked as given, -static or not: the modules would import libgomp-1.dll. Pointing the
# cache entry at the static archive first keeps the OpenMP runtime inside each module.
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libgomp.a
                OUTPUT_VARIABLE _kw_gomp OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT IS_ABSOLUTE "${_kw_gomp}" OR NOT EXISTS "${_kw_gomp}")
  message(FATAL_ERROR "No static libgomp.a for ${CMAKE_C_COMPILER}")
endif()
set(OpenMP_gomp_LIBRARY "${_kw_gomp}" CACHE FILEPATH "libgomp, static for the Windows modules" FORCE)

# -- Wine: test discovery and CTest run every Windows program through the wrapper.
if(CMAKE_CROSSCOMPILING)
  set(KESTO_WINEPREFIX "${CMAKE_BINARY_DIR}/wine-prefix" CACHE PATH
      "Wine prefix the test programs run in (made on first use)")
  configure_file("${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in" "${CMAKE_BINARY_DIR}/wine-run" @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
endif()

# Paths handed to test programs at compile time get this in front. Wine maps the Unix root to
# drive Z:, so "Z:/work/..." names the same file for a Windows program whatever its current
# drive is (a bare "/work/..." would be taken as relative to the current drive).
if(CMAKE_CROSSCOMPILING)
  set(KESTO_TEST_PATH_PREFIX "Z:")
else()
  set(KESTO_TEST_PATH_PREFIX "")
endif()

# -- stb_image_write (and stb_image, with which tests read snapshots back): header only, so
# Debian's libstb-dev serves the cross build too. Only these headers are copied into a folder
# of their own: putting /usr/include on a mingw include path would let glibc's headers shadow
# the Windows C runtime's.
foreach(_kw_stb stb_image_write stb_image)
  string(TOUPPER "KESTO_${_kw_stb}" _kw_var)
  find_file(${_kw_var} stb/${_kw_stb}.h PATHS /usr/include NO_DEFAULT_PATH
            NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  configure_file("${${_kw_var}}" "${CMAKE_BINARY_DIR}/_deps/stb/include/stb/${_kw_stb}.h" COPYONLY)
endforeach()
set(KESTO_STB_INCLUDE_DIR "${CMAKE_BINARY_DIR}/_deps/stb/include" CACHE PATH
    "Folder holding stb/stb_image_write.h" FORCE)

# -- FFmpeg for the stand-in decoder.
include(ffmpeg-mingw)

# -- GoogleTest from Debian's googletest package (the sources under /usr/src), built with the
# cross compiler as part of this tree. It defines GTest::gtest, GTest::gmock and
# GTest::gtest_main like the installed package's CMake config does on Linux.
if(KESTO_BUILD_TESTS)
  set(KESTO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS "${KESTO_GOOGLETEST_SOURCE}/CMakeLists.txt")
    message(FATAL_ERROR "No GoogleTest sources in ${KESTO_GOOGLETEST_SOURCE} "
                        "(Debian package googletest; scripts/install-deps installs it)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory("${KESTO_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/_deps/googletest"
                   EXCLUDE_FROM_ALL SYSTEM)
endif()

# Gives a DLL the export list of a GNU ld version script as a module-definition file, so that
# one file names the exports of both targets. Names are taken from the "global:" section; the
# .def is rewritten (and the DLL relinked) only when the list changes, and editing the version
# script reconfigures.
function(kesto_exports_from_version_script target version_script)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${version_script}")
  file(STRINGS "${version_script}" lines)
  set(in_global FALSE)
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*$" "" line "${line}")
    string(STRIP "${line}" line)
    if(line MATCHES "^global:")
      set(in_global TRUE)
    elseif(line MATCHES "^local:" OR line MATCHES "^}")
      set(in_global FALSE)
    elseif(in_global AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*);$")
      list(APPEND names "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  if(NOT names)
    message(FATAL_ERROR "${version_script} exports nothing")
  endif()
  list(JOIN names "\n  " body)
  set(def "${CMAKE_CURRENT_BINARY_DIR}/${target}.def")
  file(CONFIGURE OUTPUT "${def}" CONTENT "EXPORTS\n  ${body}\n" @ONLY)
  target_sources(${target} PRIVATE "${def}")
endfunction()

# Gives a DLL its version resource (cmake/version.rc.in, compiled by windres) and links it
# without a time stamp in its headers, so that the same sources give the same DLL.
enable_language(RC)
function(kesto_add_version_resource target description)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(KESTO_RC_NAME "${name}")
  set(KESTO_RC_FILE "${name}.dll")
  set(KESTO_RC_DESCRIPTION "${description}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
  target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
endfunction()

# Adds a test that checks a built DLL with objdump: it exports exactly the names of a version
# script (undecorated), and imports nothing but DLLs that come with Windows.
function(kesto_add_pe_check test_name target version_script)
  add_test(NAME ${test_name}
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${KESTO_OBJDUMP} -DMODULE=$<TARGET_FILE:${target}>
            -DVERSION_SCRIPT=${version_script}
            -P ${PROJECT_SOURCE_DIR}/cmake/check-pe-module.cmake)
  set_tests_properties(${test_name} PROPERTIES LABELS "windows;exports" TIMEOUT 30)
endfunction()

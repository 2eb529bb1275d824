# KISS FFT in double precision with OpenMP, built from Debian's source package.
#
# Debian ships KISS FFT only as a float library, so we take the very source Debian builds from
# (orig tarball plus its patch series), and build it ourselves: static, position-independent,
# double precision, OpenMP, optimised. The result is the imported target kesto::kissfft and
# the custom target kesto_kissfft_build that produces it.
#
#   KESTO_DEBIAN_SOURCE_CACHE  folder of downloaded source packages; point several build trees
#                              at one folder to download once. A filled folder works offline.
#
# The download runs at configure time (cmake/fetch-debian-source.sh: apt-get source, needs
# root the first time); the unpacked, patched tree lives in the build tree and is redone only
# when the source package changes. ExternalProject keeps KISS FFT's own warning flags and
# its build out of our -Werror targets.

include_guard(GLOBAL)
include(ExternalProject)

set(KESTO_KISSFFT_VERSION 131.1.0)
set(KESTO_DEBIAN_SOURCE_CACHE "${CMAKE_BINARY_DIR}/_deps/debian-src" CACHE PATH
    "Folder that keeps downloaded Debian source packages (may be shared between build trees)")

set(_kf_script "${CMAKE_CURRENT_LIST_DIR}/fetch-debian-source.sh")
set(_kf_cache "${KESTO_DEBIAN_SOURCE_CACHE}")
set(_kf_src "${CMAKE_BINARY_DIR}/_deps/kissfft-src")
set(_kf_prefix "${CMAKE_BINARY_DIR}/_deps/kissfft")

execute_process(
  COMMAND bash "${_kf_script}" kissfft ${KESTO_KISSFFT_VERSION} "${_kf_cache}"
  RESULT_VARIABLE _kf_rc
  OUTPUT_VARIABLE _kf_out
  ERROR_VARIABLE _kf_err)
if(NOT _kf_rc EQUAL 0)
  message(FATAL_ERROR "Could not obtain Debian's kissfft ${KESTO_KISSFFT_VERSION} source package "
                      "into ${_kf_cache}:\n${_kf_out}${_kf_err}")
endif()
if(_kf_out OR _kf_err)
  message(STATUS "${_kf_out}${_kf_err}")
endif()

# The .dsc names the package's files and their checksums; apt verified it against the signed
# archive index when it downloaded it, so checking the tarballs against it catches a damaged
# or half-copied cache.
file(GLOB _kf_dscs "${_kf_cache}/kissfft_${KESTO_KISSFFT_VERSION}-*.dsc")
if(NOT _kf_dscs)
  file(GLOB _kf_dscs "${_kf_cache}/kissfft_*.dsc")
  if(_kf_dscs)
    message(WARNING "kissfft ${KESTO_KISSFFT_VERSION} is not in ${_kf_cache}; using ${_kf_dscs}. "
                    "Check the results and update KESTO_KISSFFT_VERSION.")
  else()
    message(FATAL_ERROR "No kissfft .dsc in ${_kf_cache}")
  endif()
endif()
list(SORT _kf_dscs COMPARE NATURAL ORDER DESCENDING)
list(GET _kf_dscs 0 _kf_dsc)

file(STRINGS "${_kf_dsc}" _kf_dsc_lines)
set(_kf_in_sha256 FALSE)
set(_kf_orig "")
set(_kf_debian "")
foreach(_line IN LISTS _kf_dsc_lines)
  if(_line MATCHES "^Checksums-Sha256:")
    set(_kf_in_sha256 TRUE)
  elseif(_kf_in_sha256 AND _line MATCHES "^ ([0-9a-f]+) [0-9]+ (.+)$")
    set(_hash "${CMAKE_MATCH_1}")
    set(_name "${CMAKE_MATCH_2}")
    file(SHA256 "${_kf_cache}/${_name}" _actual)
    if(NOT _actual STREQUAL _hash)
      message(FATAL_ERROR "${_kf_cache}/${_name} does not match its checksum in ${_kf_dsc}; "
                          "delete the file and configure again")
    endif()
    if(_name MATCHES "\\.orig\\.tar\\.")
      set(_kf_orig "${_kf_cache}/${_name}")
    elseif(_name MATCHES "\\.debian\\.tar\\.")
      set(_kf_debian "${_kf_cache}/${_name}")
    endif()
  elseif(_kf_in_sha256)
    set(_kf_in_sha256 FALSE)
  endif()
endforeach()
if(NOT _kf_orig)
  message(FATAL_ERROR "${_kf_dsc} lists no orig tarball")
endif()

# Unpack and patch once per source package: the stamp names what the tree was made from.
get_filename_component(_kf_id "${_kf_dsc}" NAME)
set(_kf_stamp "${_kf_src}/.kesto-unpacked")
set(_kf_have "")
if(EXISTS "${_kf_stamp}")
  file(READ "${_kf_stamp}" _kf_have)
endif()
if(NOT _kf_have STREQUAL _kf_id)
  set(_kf_tmp "${CMAKE_BINARY_DIR}/_deps/kissfft-unpack")
  file(REMOVE_RECURSE "${_kf_src}" "${_kf_tmp}")
  file(ARCHIVE_EXTRACT INPUT "${_kf_orig}" DESTINATION "${_kf_tmp}/orig")
  file(GLOB _kf_top LIST_DIRECTORIES true "${_kf_tmp}/orig/*")
  list(LENGTH _kf_top _kf_count)
  if(NOT _kf_count EQUAL 1 OR NOT IS_DIRECTORY "${_kf_top}")
    message(FATAL_ERROR "Unexpected layout of ${_kf_orig}")
  endif()
  file(RENAME "${_kf_top}" "${_kf_src}")

  # Debian's patch series: upstream fixes for size overflows in the allocators, libm linking
  # and build-system portability. They all apply to this version; one that stops applying
  # means the source package changed under us, which must not pass unnoticed.
  if(_kf_debian)
    file(ARCHIVE_EXTRACT INPUT "${_kf_debian}" DESTINATION "${_kf_tmp}/debian")
    set(_kf_patches "${_kf_tmp}/debian/debian/patches")
    if(EXISTS "${_kf_patches}/series")
      file(STRINGS "${_kf_patches}/series" _kf_series)
      foreach(_entry IN LISTS _kf_series)
        string(STRIP "${_entry}" _entry)
        if(_entry STREQUAL "" OR _entry MATCHES "^#")
          continue()
        endif()
        separate_arguments(_entry UNIX_COMMAND "${_entry}")
        list(POP_FRONT _entry _patch)
        set(_level -p1)
        if(_entry MATCHES "^-p[0-9]+$")
          set(_level "${_entry}")
        endif()
        execute_process(
          COMMAND patch ${_level} --forward --batch --no-backup-if-mismatch
                  -i "${_kf_patches}/${_patch}"
          WORKING_DIRECTORY "${_kf_src}"
          RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
        if(NOT _rc EQUAL 0)
          file(REMOVE_RECURSE "${_kf_src}")
          message(FATAL_ERROR "Debian patch ${_patch} does not apply to ${_kf_orig}:\n${_out}")
        endif()
      endforeach()
    endif()
  endif()
  file(REMOVE_RECURSE "${_kf_tmp}")
  file(WRITE "${_kf_stamp}" "${_kf_id}")
  message(STATUS "KISS FFT source unpacked from ${_kf_id}")
endif()

find_package(OpenMP REQUIRED COMPONENTS C CXX)

# Sanitizer builds instrument KISS FFT as well, so that an out-of-bounds access or a race
# inside the transform is reported like one in our own code.
set(_kf_c_flags "${CMAKE_C_FLAGS}")
if(KESTO_SANITIZE)
  string(APPEND _kf_c_flags " -fsanitize=${KESTO_SANITIZE} -fno-omit-frame-pointer")
endif()

set(_kf_lib "${_kf_prefix}/lib/${CMAKE_STATIC_LIBRARY_PREFIX}kissfft-double-openmp${CMAKE_STATIC_LIBRARY_SUFFIX}")
ExternalProject_Add(kesto_kissfft_build
  SOURCE_DIR "${_kf_src}"
  BINARY_DIR "${CMAKE_BINARY_DIR}/_deps/kissfft-build"
  INSTALL_DIR "${_kf_prefix}"
  PREFIX "${CMAKE_BINARY_DIR}/_deps/kissfft-ep"
  DOWNLOAD_COMMAND ""
  UPDATE_COMMAND ""
  CMAKE_ARGS
    # Names the unpacked source so that a new source package reconfigures and rebuilds.
    -DKESTO_SOURCE_PACKAGE=${_kf_id}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
    -DCMAKE_C_FLAGS=${_kf_c_flags}
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON
    -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
    -DCMAKE_INSTALL_LIBDIR=lib
    -DCMAKE_INSTALL_INCLUDEDIR=include
    -DKISSFFT_DATATYPE=double
    -DKISSFFT_OPENMP=ON
    -DKISSFFT_STATIC=ON
    -DKISSFFT_TEST=OFF
    -DKISSFFT_TOOLS=OFF
    -DKISSFFT_PKGCONFIG=OFF
    -Wno-dev
  BUILD_BYPRODUCTS "${_kf_lib}"
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_INSTALL ON
  LOG_OUTPUT_ON_FAILURE ON)

# The include folder must exist when the imported target is defined, before the first build.
file(MAKE_DIRECTORY "${_kf_prefix}/include/kissfft")

add_library(kesto::kissfft STATIC IMPORTED GLOBAL)
set_target_properties(kesto::kissfft PROPERTIES
  IMPORTED_LOCATION "${_kf_lib}"
  INTERFACE_INCLUDE_DIRECTORIES "${_kf_prefix}/include/kissfft"
  # KISS FFT's headers pick their scalar type from this macro; it must match the build.
  INTERFACE_COMPILE_DEFINITIONS "kiss_fft_scalar=double"
  # The library's parallel regions need the OpenMP runtime (only at link time: none of our
  # own code is compiled as OpenMP), and its transforms need libm.
  INTERFACE_LINK_LIBRARIES "$<LINK_ONLY:OpenMP::OpenMP_C>;m")
add_dependencies(kesto::kissfft kesto_kissfft_build)

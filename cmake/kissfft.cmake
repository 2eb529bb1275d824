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
include(DebianSource)

set(KESTO_KISSFFT_VERSION 131.1.0)
set(_kf_src "${CMAKE_BINARY_DIR}/_deps/kissfft-src")
set(_kf_prefix "${CMAKE_BINARY_DIR}/_deps/kissfft")

# Debian's patch series for this version: upstream fixes for size overflows in the allocators,
# libm linking and build-system portability.
kesto_debian_source(kissfft ${KESTO_KISSFFT_VERSION} "${_kf_src}" _kf_id)

find_package(OpenMP REQUIRED COMPONENTS C CXX)

# Sanitizer builds instrument KISS FFT as well, so that an out-of-bounds access or a race
# inside the transform is reported like one in our own code.
# It is part of the client library, so it is built hardened like the client's own code.
set(_kf_c_flags "${CMAKE_C_FLAGS} ${KESTO_HARDENING_THIRD_PARTY_FLAGS}")
if(KESTO_SANITIZE)
  string(APPEND _kf_c_flags " -fsanitize=${KESTO_SANITIZE} -fno-omit-frame-pointer")
endif()

# A cross build hands its toolchain on (the compiler alone would not tell CMake the target).
set(_kf_toolchain "")
if(CMAKE_TOOLCHAIN_FILE)
  set(_kf_toolchain "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}")
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
    ${_kf_toolchain}
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

# libavcodec, libswscale and libavutil for the Windows stand-in decoder, cross-compiled with
# mingw-w64 from Debian's ffmpeg source package (the very source Debian's Linux build uses).
#
# Only what the decoder needs is enabled: the H.264 parser and decoder and swscale, as static
# libraries, so that Corvexa.Kesto.VideoDecoderFF.dll carries them inside and imports system
# DLLs only. The build is LGPL (no GPL parts, no external libraries: --disable-autodetect).
# Threads are Win32 threads (the decoder runs single-threaded anyway), x86 assembly is on
# (nasm). The result is the imported target PkgConfig::FFMPEG, the name the Linux build gets
# from pkg-config, so the decoder's CMakeLists is the same for both targets.
#
# Configure takes about a minute and a half here (every check runs the cross compiler) and the
# build about as long. Both live in the build tree under ExternalProject's stamps, so a
# reconfigure or rebuild of the project does not redo them; only a new source package or new
# configure options do.

include_guard(GLOBAL)
include(ExternalProject)
include(DebianSource)

set(KESTO_FFMPEG_VERSION 7:5.1.9 CACHE STRING "Debian version of the ffmpeg source package")

set(_ff_src "${CMAKE_BINARY_DIR}/_deps/ffmpeg-src")
set(_ff_prefix "${CMAKE_BINARY_DIR}/_deps/ffmpeg")
kesto_debian_source(ffmpeg ${KESTO_FFMPEG_VERSION} "${_ff_src}" _ff_id)

find_program(KESTO_NASM nasm)
if(KESTO_NASM)
  set(_ff_asm --x86asmexe=${KESTO_NASM})
else()
  message(WARNING "nasm not found: FFmpeg is built without its x86 assembly (slower decoding)")
  set(_ff_asm --disable-x86asm)
endif()

include(ProcessorCount)
ProcessorCount(_ff_jobs)
if(_ff_jobs EQUAL 0)
  set(_ff_jobs 2)
endif()

get_filename_component(_ff_cc "${CMAKE_C_COMPILER}" NAME)
set(_ff_libs
  "${_ff_prefix}/lib/libavcodec.a"
  "${_ff_prefix}/lib/libswscale.a"
  "${_ff_prefix}/lib/libavutil.a")

ExternalProject_Add(kesto_ffmpeg_build
  SOURCE_DIR "${_ff_src}"
  BINARY_DIR "${CMAKE_BINARY_DIR}/_deps/ffmpeg-build"
  INSTALL_DIR "${_ff_prefix}"
  PREFIX "${CMAKE_BINARY_DIR}/_deps/ffmpeg-ep"
  DOWNLOAD_COMMAND ""
  UPDATE_COMMAND ""
  # The source package's name is part of the command, so a new one configures and builds anew.
  CONFIGURE_COMMAND
    env KESTO_SOURCE_PACKAGE=${_ff_id}
    <SOURCE_DIR>/configure
      --prefix=<INSTALL_DIR>
      --enable-cross-compile --target-os=mingw32 --arch=x86_64
      --cross-prefix=${KESTO_MINGW_TRIPLET}- --cc=${_ff_cc} --cxx=${CMAKE_CXX_COMPILER}
      --pkg-config=false
      --disable-everything --disable-autodetect
      --enable-decoder=h264 --enable-parser=h264 --enable-swscale
      --disable-avdevice --disable-avformat --disable-avfilter --disable-swresample
      --disable-postproc --disable-network --disable-programs --disable-doc
      --enable-static --disable-shared --disable-debug
      --enable-w32threads
      # Built like the client's own code (cmake/KestoCompilerOptions.cmake): it parses every
      # byte from the network. Debian's Linux FFmpeg has the stack protector as well.
      --extra-cflags=-fstack-protector-strong --extra-ldflags=-fstack-protector-strong
      ${_ff_asm}
  BUILD_COMMAND make -j${_ff_jobs}
  INSTALL_COMMAND make install
  BUILD_BYPRODUCTS ${_ff_libs}
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_INSTALL ON
  LOG_OUTPUT_ON_FAILURE ON)

file(MAKE_DIRECTORY "${_ff_prefix}/include")
add_library(PkgConfig::FFMPEG INTERFACE IMPORTED GLOBAL)
set_target_properties(PkgConfig::FFMPEG PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${_ff_prefix}/include"
  # libavutil's random seed uses bcrypt; libavcodec's Win32 thread and error code use ole32 and
  # user32 (FFmpeg's own .pc files list the same).
  INTERFACE_LINK_LIBRARIES "${_ff_libs};bcrypt;ole32;user32")
add_dependencies(PkgConfig::FFMPEG kesto_ffmpeg_build)

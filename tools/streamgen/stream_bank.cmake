# Test streams for the Windows build, encoded at build time by kesto-streamgen built for the
# build machine (host/), and replayed by replay_encoder.cpp with the azimuth records the tests
# ask for. Each entry is one set of generator options; a test that asks for options without an
# entry fails with the file name it looked for.

include(ExternalProject)

ExternalProject_Add(kesto_host_streamgen
  SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/host"
  BINARY_DIR "${CMAKE_BINARY_DIR}/_deps/host-streamgen"
  PREFIX "${CMAKE_BINARY_DIR}/_deps/host-streamgen-ep"
  # No toolchain file: the host's own compiler and Debian's libavcodec with libx264.
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS "${CMAKE_BINARY_DIR}/_deps/host-streamgen/kesto-streamgen"
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_OUTPUT_ON_FAILURE ON)

set(KESTO_STREAM_BANK_DIR "${CMAKE_BINARY_DIR}/stream-bank")
set(_bank_tool "${CMAKE_BINARY_DIR}/_deps/host-streamgen/kesto-streamgen")
set(_bank_files "")

# kesto_stream_bank(SIDE n GOP n [SLICES n] [KEEP_ENCODER_SEI]): 60 pictures (whole IDR
# intervals) at the generator's default rate and quality. The file name must match
# BankFileName() in replay_encoder.cpp.
function(kesto_stream_bank)
  cmake_parse_arguments(ARG "KEEP_ENCODER_SEI" "SIDE;GOP;SLICES" "" ${ARGN})
  if(NOT ARG_SLICES)
    set(ARG_SLICES 1)
  endif()
  math(EXPR frames "((60 + ${ARG_GOP} - 1) / ${ARG_GOP}) * ${ARG_GOP}")
  set(name "s${ARG_SIDE}-g${ARG_GOP}-f30-c23-b0-n${ARG_SLICES}")
  set(extra "")
  if(ARG_KEEP_ENCODER_SEI)
    string(APPEND name "-sei")
    set(extra --keep-encoder-sei)
  endif()
  set(raw "${KESTO_STREAM_BANK_DIR}/${name}.h264")
  add_custom_command(
    OUTPUT "${raw}" "${KESTO_STREAM_BANK_DIR}/${name}._pkt_sizes.bin"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${KESTO_STREAM_BANK_DIR}"
    COMMAND "${_bank_tool}" --side ${ARG_SIDE} --gop ${ARG_GOP} --slices ${ARG_SLICES}
            --frames ${frames} --no-azimuth ${extra} --out "${raw}"
    DEPENDS kesto_host_streamgen "${_bank_tool}"
    COMMENT "Encoding test stream ${name}"
    VERBATIM)
  set(_bank_files ${_bank_files} "${raw}" PARENT_SCOPE)
endfunction()

# What the tests generate (tests/decoder_ff, tests/integration).
kesto_stream_bank(SIDE 64 GOP 2)
kesto_stream_bank(SIDE 64 GOP 4)
kesto_stream_bank(SIDE 100 GOP 3 SLICES 2 KEEP_ENCODER_SEI)
kesto_stream_bank(SIDE 128 GOP 10)

add_custom_target(kesto_stream_bank DEPENDS ${_bank_files})

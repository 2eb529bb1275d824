# Where the Windows client finds its decoder, with decoys planted where it must never look.
# Stages under WORK: app/ (the host executable), client/ (the client DLL), cwd/ (the working
# directory) and path/ (a folder on PATH); cwd/ and path/ hold a decoy decoder whose
# DecoderInit fails with a recognisable text. Cases:
#   beside  the decoder beside the client DLL: loaded from there, the stream plays;
#   exe     the decoder beside the executable only: loaded from there, the stream plays;
#   nowhere no decoder but the decoy on PATH: "Unable to load <name>: <system text>".
#
# cmake -DEMULATOR=<wine-run> -DHOST=<exe> -DCLIENT=<dll> -DDECODER=<dll> -DDECOY=<dll>
#       -DWORK=<dir> -P check_decoder_location.cmake
cmake_minimum_required(VERSION 3.25)
set(name Corvexa.Kesto.VideoDecoderFF.dll)
set(failures "")

foreach(case beside exe nowhere)
  set(root "${WORK}/${case}")
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}/app" "${root}/client" "${root}/cwd" "${root}/path")
  file(COPY_FILE "${HOST}" "${root}/app/host.exe")
  file(COPY_FILE "${CLIENT}" "${root}/client/KestoVideoClient.dll")
  file(COPY_FILE "${DECOY}" "${root}/path/${name}")
  if(NOT case STREQUAL "nowhere")  # there the one on PATH would be next in line
    file(COPY_FILE "${DECOY}" "${root}/cwd/${name}")
  endif()
  if(case STREQUAL "beside")
    file(COPY_FILE "${DECODER}" "${root}/client/${name}")
  elseif(case STREQUAL "exe")
    file(COPY_FILE "${DECODER}" "${root}/app/${name}")
  endif()

  # Wine adds WINEPATH to the Windows PATH.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "WINEPATH=Z:${root}/path"
            ${EMULATOR} "Z:${root}/app/host.exe" "Z:${root}/client/KestoVideoClient.dll" "Z:${root}"
    WORKING_DIRECTORY "${root}/cwd"
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 60)
  message(STATUS "${case}: exit ${status}\n${output}")

  if(output MATCHES "decoy decoder" OR output MATCHES "[Cc]wd\\\\${name}|path\\\\${name}")
    string(APPEND failures "${case}: a decoy was loaded\n")
  endif()
  if(case STREQUAL "nowhere")
    if(NOT output MATCHES "message 4: Unable to load ${name}: [^\n]+" OR status EQUAL 0)
      string(APPEND failures "${case}: no \"Unable to load ${name}: ...\" failure\n")
    endif()
  elseif(NOT status EQUAL 0)
    string(APPEND failures "${case}: the stream did not play (exit ${status})\n")
  elseif(case STREQUAL "beside" AND NOT output MATCHES "loaded from: [^\n]*client\\\\${name}")
    string(APPEND failures "${case}: the decoder was not the one beside the client\n")
  elseif(case STREQUAL "exe" AND NOT output MATCHES "loaded from: [^\n]*app\\\\${name}")
    string(APPEND failures "${case}: the decoder was not the one beside the executable\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()

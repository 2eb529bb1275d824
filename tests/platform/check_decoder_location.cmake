# Where the Windows client finds its decoder, with decoys planted where it must never look.
# Stages under WORK: app/ (the host executable), client/ (the client DLL), cwd/ (the working
# directory) and path/ (a folder on PATH); cwd/ and path/ hold a decoy decoder whose
# DecoderInit fails with a recognisable text. Cases:
#   beside  the decoder beside the client DLL: loaded from there, the stream plays;
#   exe     the decoder beside the executable only: loaded from there, the stream plays;
#   nowhere no decoder but the decoy on PATH: "Unable to load <name>: <system text>";
#   toolkit   beside the client a decoder that imports KestoToolkit.dll from toolkit/, which
#             the host adds with AddDllDirectory: loaded, the stream plays;
#   notoolkit the same without the host's AddDllDirectory: "Unable to load <full path>: ...".
# In the last two, cwd/ and path/ hold a working KestoToolkit.dll, which must never be used.
#
# cmake -DEMULATOR=<wine-run> -DHOST=<exe> -DCLIENT=<dll> -DDECODER=<dll> -DDECOY=<dll>
#       -DTOOLKIT=<dll> -DTOOLKIT_DECODER=<dll> -DWORK=<dir> -P check_decoder_location.cmake
cmake_minimum_required(VERSION 3.25)
set(name Corvexa.Kesto.VideoDecoderFF.dll)
set(failures "")

foreach(case beside exe nowhere toolkit notoolkit)
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
  elseif(case MATCHES "toolkit")
    file(COPY_FILE "${TOOLKIT_DECODER}" "${root}/client/${name}")
    file(MAKE_DIRECTORY "${root}/toolkit")
    foreach(folder toolkit cwd path)
      file(COPY_FILE "${TOOLKIT}" "${root}/${folder}/KestoToolkit.dll")
    endforeach()
  endif()
  set(dll_folder "")
  if(case STREQUAL "toolkit")
    set(dll_folder "Z:${root}/toolkit")
  endif()

  # Wine adds WINEPATH to the Windows PATH.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "WINEPATH=Z:${root}/path"
            ${EMULATOR} "Z:${root}/app/host.exe" "Z:${root}/client/KestoVideoClient.dll" "Z:${root}"
            ${dll_folder}
    WORKING_DIRECTORY "${root}/cwd"
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 60)
  message(STATUS "${case}: exit ${status}\n${output}")

  if(output MATCHES "decoy decoder" OR
     output MATCHES "([Cc]wd|path)\\\\(${name}|KestoToolkit.dll)")
    string(APPEND failures "${case}: a decoy was loaded\n")
  endif()
  if(case STREQUAL "nowhere")
    if(NOT output MATCHES "message 4: Unable to load ${name}: [^\n]+" OR status EQUAL 0)
      string(APPEND failures "${case}: no \"Unable to load ${name}: ...\" failure\n")
    endif()
  elseif(case STREQUAL "notoolkit")
    if(NOT output MATCHES "message 4: Unable to load [^\n]*client\\\\${name}: [^\n]+" OR
       status EQUAL 0)
      string(APPEND failures "${case}: no \"Unable to load <client folder>\\${name}: ...\"\n")
    endif()
  elseif(NOT status EQUAL 0)
    string(APPEND failures "${case}: the stream did not play (exit ${status})\n")
  elseif(case MATCHES "beside|toolkit" AND NOT output MATCHES "loaded from: [^\n]*client\\\\${name}")
    string(APPEND failures "${case}: the decoder was not the one beside the client\n")
  elseif(case STREQUAL "exe" AND NOT output MATCHES "loaded from: [^\n]*app\\\\${name}")
    string(APPEND failures "${case}: the decoder was not the one beside the executable\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()

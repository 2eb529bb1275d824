# Third-party source taken from Debian's source packages: the orig tarball plus the package's
# patch series, downloaded once into a cache folder and unpacked into the build tree.
#
#   kesto_debian_source(NAME VERSION SOURCE_DIR OUT_ID)
#
# Downloads NAME (upstream VERSION, or a full Debian version) into KESTO_DEBIAN_SOURCE_CACHE
# with cmake/fetch-debian-source.sh at configure time (root and the network the first time, a
# filled cache works offline), checks the files against the .dsc, and unpacks and patches the
# source into SOURCE_DIR. OUT_ID receives the .dsc's file name: it names exactly what the tree
# was made from, so an ExternalProject that passes it on rebuilds when the package changes.
# The tree is unpacked again only when the .dsc changes.

include_guard(GLOBAL)

# The environment variable of the same name, when set at the first configure, chooses the
# folder too: CI and the test scripts configure through presets, which take no -D.
if(NOT "$ENV{KESTO_DEBIAN_SOURCE_CACHE}" STREQUAL "")
  set(_kds_default "$ENV{KESTO_DEBIAN_SOURCE_CACHE}")
else()
  set(_kds_default "${CMAKE_BINARY_DIR}/_deps/debian-src")
endif()
set(KESTO_DEBIAN_SOURCE_CACHE "${_kds_default}" CACHE PATH
    "Folder that keeps downloaded Debian source packages (may be shared between build trees)")

function(kesto_debian_source name version source_dir out_id)
  set(cache "${KESTO_DEBIAN_SOURCE_CACHE}")
  execute_process(
    COMMAND bash "${PROJECT_SOURCE_DIR}/cmake/fetch-debian-source.sh" ${name} ${version} "${cache}"
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Could not obtain Debian's ${name} ${version} source package "
                        "into ${cache}:\n${out}${err}")
  endif()
  if(out OR err)
    message(STATUS "${out}${err}")
  endif()

  # The upstream part of the version names the .dsc (an epoch is not part of file names).
  string(REGEX REPLACE "^[0-9]+:" "" upstream "${version}")
  string(REGEX REPLACE "-[^-]*$" "" upstream "${upstream}")
  file(GLOB dscs "${cache}/${name}_${upstream}-*.dsc")
  if(NOT dscs)
    file(GLOB dscs "${cache}/${name}_*.dsc")
    if(dscs)
      message(WARNING "${name} ${version} is not in ${cache}; using ${dscs}. "
                      "Check the results and update the version.")
    else()
      message(FATAL_ERROR "No ${name} .dsc in ${cache}")
    endif()
  endif()
  list(SORT dscs COMPARE NATURAL ORDER DESCENDING)
  list(GET dscs 0 dsc)

  # The .dsc names the package's files and their checksums; apt verified it against the signed
  # archive index when it downloaded it, so checking the tarballs against it catches a damaged
  # or half-copied cache.
  file(STRINGS "${dsc}" dsc_lines)
  set(in_sha256 FALSE)
  set(orig "")
  set(debian "")
  foreach(line IN LISTS dsc_lines)
    if(line MATCHES "^Checksums-Sha256:")
      set(in_sha256 TRUE)
    elseif(in_sha256 AND line MATCHES "^ ([0-9a-f]+) [0-9]+ (.+)$")
      set(hash "${CMAKE_MATCH_1}")
      set(file_name "${CMAKE_MATCH_2}")
      if(NOT EXISTS "${cache}/${file_name}")
        if(file_name MATCHES "\\.asc$")
          continue()  # the upstream signature is not needed to build
        endif()
        message(FATAL_ERROR "${cache}/${file_name}, listed in ${dsc}, is missing")
      endif()
      file(SHA256 "${cache}/${file_name}" actual)
      if(NOT actual STREQUAL hash)
        message(FATAL_ERROR "${cache}/${file_name} does not match its checksum in ${dsc}; "
                            "delete the file and configure again")
      endif()
      if(file_name MATCHES "\\.orig\\.tar\\.[a-z0-9]+$")
        set(orig "${cache}/${file_name}")
      elseif(file_name MATCHES "\\.debian\\.tar\\.")
        set(debian "${cache}/${file_name}")
      endif()
    elseif(in_sha256)
      set(in_sha256 FALSE)
    endif()
  endforeach()
  if(NOT orig)
    message(FATAL_ERROR "${dsc} lists no orig tarball")
  endif()

  # Unpack and patch once per source package: the stamp names what the tree was made from.
  get_filename_component(id "${dsc}" NAME)
  set(stamp "${source_dir}/.kesto-unpacked")
  set(have "")
  if(EXISTS "${stamp}")
    file(READ "${stamp}" have)
  endif()
  if(NOT have STREQUAL id)
    set(tmp "${source_dir}-unpack")
    file(REMOVE_RECURSE "${source_dir}" "${tmp}")
    file(ARCHIVE_EXTRACT INPUT "${orig}" DESTINATION "${tmp}/orig")
    file(GLOB top LIST_DIRECTORIES true "${tmp}/orig/*")
    list(LENGTH top count)
    if(NOT count EQUAL 1 OR NOT IS_DIRECTORY "${top}")
      message(FATAL_ERROR "Unexpected layout of ${orig}")
    endif()
    file(RENAME "${top}" "${source_dir}")

    # Debian's patch series. A patch that stops applying means the source package changed
    # under us, which must not pass unnoticed.
    if(debian)
      file(ARCHIVE_EXTRACT INPUT "${debian}" DESTINATION "${tmp}/debian")
      set(patches "${tmp}/debian/debian/patches")
      if(EXISTS "${patches}/series")
        file(STRINGS "${patches}/series" series)
        foreach(entry IN LISTS series)
          string(STRIP "${entry}" entry)
          if(entry STREQUAL "" OR entry MATCHES "^#")
            continue()
          endif()
          separate_arguments(entry UNIX_COMMAND "${entry}")
          list(POP_FRONT entry patch)
          set(level -p1)
          if(entry MATCHES "^-p[0-9]+$")
            set(level "${entry}")
          endif()
          execute_process(
            COMMAND patch ${level} --forward --batch --no-backup-if-mismatch
                    -i "${patches}/${patch}"
            WORKING_DIRECTORY "${source_dir}"
            RESULT_VARIABLE rc OUTPUT_VARIABLE patch_out ERROR_VARIABLE patch_out)
          if(NOT rc EQUAL 0)
            file(REMOVE_RECURSE "${source_dir}")
            message(FATAL_ERROR "Debian patch ${patch} does not apply to ${orig}:\n${patch_out}")
          endif()
        endforeach()
      endif()
    endif()
    file(REMOVE_RECURSE "${tmp}")
    file(WRITE "${stamp}" "${id}")
    message(STATUS "${name} source unpacked from ${id}")
  endif()
  set(${out_id} "${id}" PARENT_SCOPE)
endfunction()

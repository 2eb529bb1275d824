# What `cmake --install` puts into a prefix for hosts: the client library with the decoder
# library beside it (the client finds it through RUNPATH $ORIGIN), the public header, a CMake
# package (find_package(KestoVideoClient) -> Kesto::VideoClient), a pkg-config file
# (kesto-video-client), and the simulator and viewer commands.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KESTO_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KestoVideoClient)

set_target_properties(KestoVideoClient PROPERTIES EXPORT_NAME VideoClient)
install(TARGETS KestoVideoClient EXPORT KestoVideoClientTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Same folder as the client on every platform: on Windows both DLLs go to bin/.
install(TARGETS kesto_decoder_ff
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kesto/video_client.h
  ${PROJECT_BINARY_DIR}/include/kesto/video_client_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kesto)

install(EXPORT KestoVideoClientTargets
  NAMESPACE Kesto::
  FILE KestoVideoClientTargets.cmake
  DESTINATION ${KESTO_CMAKE_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KestoVideoClientConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KestoVideoClientConfig.cmake
  INSTALL_DESTINATION ${KESTO_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestoVideoClientConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestoVideoClientConfig.cmake
  ${PROJECT_BINARY_DIR}/KestoVideoClientConfigVersion.cmake
  DESTINATION ${KESTO_CMAKE_PACKAGE_DIR})

# The .pc file finds the prefix from its own place, so the install stays relocatable (and
# `cmake --install --prefix` elsewhere than the configured prefix still gives a valid file).
file(RELATIVE_PATH KESTO_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" KESTO_PC_TO_PREFIX "${KESTO_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/kesto-video-client.pc.in
  ${PROJECT_BINARY_DIR}/kesto-video-client.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kesto-video-client.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

foreach(tool kesto-camsim kesto-viewer kesto-streamgen)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The Windows backends of src/platform/, and what the client library imports for them. Included
# from src/CMakeLists.txt when building for Windows. d3d9.dll is not linked: the display loads
# it at run time (display_system_win32.cpp); dxguid is a static library holding the interface
# ids (IID_IDirect3D9, ...) that the display's QueryInterface calls name.
target_sources(kesto_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/display_system_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dynamic_library_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/environment_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_system_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/library_unload_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/socket_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/thread_win32.cpp
)
target_link_libraries(kesto_core PUBLIC ws2_32 advapi32 user32 gdi32 dxguid)
# The min/max macros of windows.h would break std::min and std::max in every file that sees
# d3d9.h (which includes windows.h).
target_compile_definitions(kesto_core PUBLIC NOMINMAX)

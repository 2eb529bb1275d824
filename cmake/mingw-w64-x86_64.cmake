# Cross toolchain for the Windows x86-64 DLL: Debian's mingw-w64 GCC, POSIX thread model.
#
# The POSIX flavour (g++-mingw-w64-x86-64-posix) is the one whose libstdc++ has std::thread,
# std::mutex and a libgomp; the win32 flavour lacks both. Everything is linked with -static so
# that the DLLs and test programs import system DLLs only: libgcc, libstdc++, libgomp and
# winpthread end up inside each module instead of beside it.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...   (or the windows-x64 preset)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTO_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${KESTO_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KESTO_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KESTO_MINGW_TRIPLET}-windres)
find_program(CMAKE_OBJDUMP NAMES ${KESTO_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static makes the driver pick libstdc++.a, libgcc.a/libgcc_eh.a, libgomp.a and
# libwinpthread.a; the system import libraries (ws2_32, user32, ...) stay imports because
# they only exist as import libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

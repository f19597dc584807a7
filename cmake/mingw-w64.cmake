# Cross-compiling for 64-bit Windows with Debian's mingw-w64 toolchain
# (g++-mingw-w64-x86-64): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake.
# .ci/windows.sh uses it for the libraries and the program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KOVREL_MINGW_TRIPLE x86_64-w64-mingw32)

# The POSIX threads flavour: the C++ runtime's threads need it, and it is
# the one Debian links statically without a DLL.
find_program(CMAKE_C_COMPILER NAMES ${KOVREL_MINGW_TRIPLE}-gcc-posix ${KOVREL_MINGW_TRIPLE}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${KOVREL_MINGW_TRIPLE}-g++-posix ${KOVREL_MINGW_TRIPLE}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${KOVREL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KOVREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests that run a built program do so under wine.
find_program(CMAKE_CROSSCOMPILING_EMULATOR NAMES wine64 wine)
# The libraries .ci/windows.sh builds for the toolchain.
if(KOVREL_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KOVREL_WINDOWS_DEPS})
endif()
# Every program self-contained: the C++ runtime's DLLs are not on a Windows
# machine.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

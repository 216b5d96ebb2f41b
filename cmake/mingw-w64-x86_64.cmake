# Cross build of the Windows executables with Debian's mingw-w64 (the posix
# thread model, for std::thread in quelvar-send):
#
#   apt-get install g++-mingw-w64-x86-64-posix
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DQUELVAR_TESTS=OFF -DQUELVAR_BENCH=OFF
#   cmake --build build-windows -j2
#
# gives build-windows/quelvar.exe and build-windows/quelvar-send.exe. Both are
# linked statically against the compiler's own libraries, so each runs from a
# folder of its own, under Windows or Wine, without further DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUELVAR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUELVAR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUELVAR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUELVAR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUELVAR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread go into the executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Programs built here run under Wine when this machine runs them (tests).
find_program(QUELVAR_WINE NAMES wine64 wine)
if(QUELVAR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUELVAR_WINE})
endif()

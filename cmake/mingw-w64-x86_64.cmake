# Cross-compiling Kalvex for 64-bit Windows on Debian with mingw-w64. The posix thread model
# gives std::thread and std::mutex (GCC 12's win32 model has neither), and -static links the
# C++ runtime and winpthreads in, so that kalvex.exe needs nothing but Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KALVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KALVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KALVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KALVEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KALVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

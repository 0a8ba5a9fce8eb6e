# Cross build for 64-bit Windows with mingw-w64 (posix thread model, so that
# std::thread and std::mutex are available). The runtime is linked statically
# so VantorOvix.exe runs on a clean Windows without extra DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OVIX_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${OVIX_MINGW_PREFIX}-gcc-posix ${OVIX_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${OVIX_MINGW_PREFIX}-g++-posix ${OVIX_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${OVIX_MINGW_PREFIX}-windres windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OVIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest runs the cross-built test executables through wine.
find_program(OVIX_WINE NAMES wine wine64)
if(OVIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OVIX_WINE})
endif()

# Cross-compiling for 64-bit Windows with mingw-w64 (posix threads variant, whose
# C++ runtime has std::thread and std::mutex). Used by scripts/build-windows for
# the program, libxml2 and GoogleTest alike.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

# Libraries and headers come from the mingw sysroot and the prefixes named in
# CMAKE_FIND_ROOT_PATH (the cache of cross-built libraries); programs from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under wine when ctest runs them.
find_program(DORVANA_WINE NAMES wine64 wine)
if(DORVANA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DORVANA_WINE})
endif()

# Cross-compiling for 32-bit Windows with mingw-w64 (posix threads variant, as the
# 64-bit build): the program for 32-bit application pools and 32-bit client
# libraries. Used by scripts/build-windows --arch 32 for the program, libxml2 and
# GoogleTest alike.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under wine (its 32-bit loader) when ctest runs them.
find_program(DORVANA_WINE NAMES wine)
if(DORVANA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DORVANA_WINE})
endif()

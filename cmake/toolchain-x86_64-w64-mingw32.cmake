# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers
# (g++-mingw-w64-x86-64-posix, binutils-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ARGB_MINGW_TRIPLET x86_64-w64-mingw32)

# The posix thread flavour is the one the package list installs; the unsuffixed names are whatever
# the alternatives system points at.
find_program(CMAKE_C_COMPILER NAMES ${ARGB_MINGW_TRIPLET}-gcc-posix ${ARGB_MINGW_TRIPLET}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ARGB_MINGW_TRIPLET}-g++-posix ${ARGB_MINGW_TRIPLET}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ARGB_MINGW_TRIPLET}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${ARGB_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

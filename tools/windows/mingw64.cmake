# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix thread model,
# which Qt needs). Used for Qt itself and, through Qt's own toolchain file, for Pantrimo.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PANTRIMO_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${PANTRIMO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PANTRIMO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${PANTRIMO_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PANTRIMO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

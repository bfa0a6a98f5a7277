# Cross-compiles for Windows x86-64 with Debian's mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(HK_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HK_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HK_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HK_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${HK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Consumers find the installed package through CMAKE_PREFIX_PATH.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Programs built here run under Wine through this script.
set(CMAKE_CROSSCOMPILING_EMULATOR env HK_BUILD_DIR=${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

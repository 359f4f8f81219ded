# What both Windows flavours share: mingw-w64 with posix threads for the
# triple VOST_MINGW_TRIPLE, fully static, the test programs run under Wine in
# a prefix of the build tree (of the kind VOST_WINE_ARCH).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VOST_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOST_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VOST_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VOST_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or libwinpthread DLLs next to the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest (and gtest_discover_tests in PRE_TEST mode) start the programs through
# this wrapper, which owns the build tree's Wine prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}")

# Cross toolchain for the 64-bit Windows flavour, tested under a 64-bit
# (WoW64) Wine prefix, which runs 32-bit programs too.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VOST_MINGW_TRIPLE x86_64-w64-mingw32)
set(VOST_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Cross toolchain for the 32-bit Windows flavour, tested under a 32-bit Wine
# prefix.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VOST_MINGW_TRIPLE i686-w64-mingw32)
set(VOST_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Cross toolchain: 32-bit Windows PE files (i686), run under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(UK_MINGW_TRIPLE i686-w64-mingw32)
set(UK_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

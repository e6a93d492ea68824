# Cross toolchain: 64-bit Windows PE files (x86-64), run under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(UK_MINGW_TRIPLE x86_64-w64-mingw32)
set(UK_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Shared part of the MinGW-w64 cross toolchains. The including file sets UK_MINGW_TRIPLE and
# UK_WINE_LOADER; everything else is the same for both architectures: posix compilers (for
# std::thread and GoogleTest in the test programs), Wine as the emulator that ctest runs every
# Windows test program through.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${UK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${UK_MINGW_TRIPLE}-windres)
set(UK_DLLTOOL ${UK_MINGW_TRIPLE}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${UK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Debian's `wine` wrapper always picks the 32-bit loader when it is installed, even on machines
# that cannot execute it; each tree names its own loader.
set(CMAKE_CROSSCOMPILING_EMULATOR ${UK_WINE_LOADER})

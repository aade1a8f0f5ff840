# Shared by the MinGW-w64 toolchain files: set MINGW_TRIPLE and WINE_LOADER first.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix variants give std::thread and std::mutex (winpthreads, linked statically).
find_program(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# ctest runs the .exe files under Wine.
find_program(WINE_PROGRAM NAMES ${WINE_LOADER} PATHS /usr/lib/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})

# Cross-compiling for 64-bit Windows with Debian's mingw-w64. The "posix" thread model is the one
# whose C++ runtime has std::mutex and std::thread; the default "win32" model lacks them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALVENOOK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALVENOOK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVENOOK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVENOOK_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${TALVENOOK_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${TALVENOOK_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "Archive indexer")

# Headers and libraries come from the cross sysroot only; programs (cmake, tclsh, wine) from here.
set(CMAKE_FIND_ROOT_PATH /usr/${TALVENOOK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

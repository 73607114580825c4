# What the Windows build uses in place of the Linux packages.

# SQLite, as the shared library the program loads: sqlite3.dll made with mingw-w64 from Debian's
# sqlite3 source package by tools/windows/sqlite3-dll.sh, which `make windows` runs before this
# configure (it may add apt source entries and fetch sources; configure itself only looks). The
# Makefile names the folder the script made; otherwise the newest one in the cache folder is used.
set(TALVENOOK_WINDOWS_CACHE "${PROJECT_SOURCE_DIR}/.cache" CACHE PATH
    "Folder where the Windows dependencies built from sources are kept between builds")
set(TALVENOOK_SQLITE3_DIR "" CACHE PATH
    "Folder of sqlite3.dll made by tools/windows/sqlite3-dll.sh (bin/, lib/, include/)")
if(NOT TALVENOOK_SQLITE3_DIR)
  file(GLOB sqlite3_candidates LIST_DIRECTORIES true "${TALVENOOK_WINDOWS_CACHE}/sqlite3-*-mingw64")
  if(sqlite3_candidates)
    list(SORT sqlite3_candidates COMPARE NATURAL ORDER DESCENDING)
    list(GET sqlite3_candidates 0 TALVENOOK_SQLITE3_DIR)
  endif()
endif()
if(NOT EXISTS "${TALVENOOK_SQLITE3_DIR}/bin/sqlite3.dll" OR NOT EXISTS "${TALVENOOK_SQLITE3_DIR}/lib/libsqlite3.dll.a")
  message(FATAL_ERROR "sqlite3.dll not found in ${TALVENOOK_WINDOWS_CACHE}: make it first with "
                      "`make windows` or tools/windows/sqlite3-dll.sh ${TALVENOOK_WINDOWS_CACHE}")
endif()
message(STATUS "sqlite3.dll: ${TALVENOOK_SQLITE3_DIR}")

add_library(SQLite::SQLite3 SHARED IMPORTED GLOBAL)
set_target_properties(SQLite::SQLite3 PROPERTIES
  IMPORTED_LOCATION ${TALVENOOK_SQLITE3_DIR}/bin/sqlite3.dll
  IMPORTED_IMPLIB ${TALVENOOK_SQLITE3_DIR}/lib/libsqlite3.dll.a
  INTERFACE_INCLUDE_DIRECTORIES ${TALVENOOK_SQLITE3_DIR}/include)

# Every program carries its own C and C++ runtime and winpthread, so that sqlite3.dll is the only
# library that ships beside talvenook.exe (and the test programs run under Wine as they are).
add_link_options(-static)

# Test programs run under Wine: CTest and test discovery start every .exe through this wrapper,
# which keeps a Wine prefix of its own inside the build folder and finds sqlite3.dll.
set(TALVENOOK_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
configure_file(${PROJECT_SOURCE_DIR}/tools/windows/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
# The test programs are listed when CTest starts rather than after each link, so building needs no
# Wine; the prefix is made first, once, by the script that CTest reads before the listings.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
file(WRITE ${CMAKE_BINARY_DIR}/wine-prepare.cmake
     "execute_process(COMMAND ${CMAKE_BINARY_DIR}/wine-run --prepare TIMEOUT 900)\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/wine-prepare.cmake)

# GoogleTest from Debian's sources (libgtest-dev, libgmock-dev), built with the cross compiler,
# under the names the Linux build gets from find_package(GTest).
macro(talvenook_googletest_from_sources)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(library gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${library})
      add_library(GTest::${library} ALIAS ${library})
    endif()
  endforeach()
endmacro()

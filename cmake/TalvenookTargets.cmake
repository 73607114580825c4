# The shape every source folder and its test folder share.

# talvenook_folder_library(<name> <dependency>...): the library talvenook_<name>, made of every
# .cpp file in the calling folder, with the project root on its include path.
function(talvenook_folder_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(talvenook_${name} STATIC ${sources})
  target_include_directories(talvenook_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(talvenook_${name} PUBLIC ${ARGN})
endfunction()

# talvenook_folder_tests(<name> <library>...): the test executable <name>_tests, made of every
# *Test.cpp file in the calling folder, linked with the given libraries and registered in CTest.
function(talvenook_folder_tests name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE ${ARGN} talvenook_test_support GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60)
endfunction()

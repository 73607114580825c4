# The shape every source folder shares (the test folders' shape is in tests/CMakeLists.txt).

# talvenook_folder_library(<name> <dependency>...): the library talvenook_<name>, made of every
# .cpp file in the calling folder, with the project root on its include path.
function(talvenook_folder_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(talvenook_${name} STATIC ${sources})
  target_include_directories(talvenook_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(talvenook_${name} PUBLIC ${ARGN})
endfunction()

# The icon extraction benchmark builds its executables with the test PE writer and writes ICO
# files through the icon object, so it needs the test support and imaging libraries.
if(TARGET talvenook_test_support)
  add_executable(pe_icons_bench ${source})
  target_link_libraries(pe_icons_bench PRIVATE benchmark::benchmark talvenook_imaging talvenook_platform
                        talvenook_test_support)
endif()

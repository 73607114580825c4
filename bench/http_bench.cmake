# The HTTP client benchmark: against the scripted loopback server of the test support.
if(TARGET talvenook_test_support)
  add_executable(http_bench ${source})
  target_link_libraries(http_bench PRIVATE benchmark::benchmark talvenook_http talvenook_test_support)
endif()

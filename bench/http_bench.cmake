# The HTTP client benchmark: against the scripted loopback server of the test support, side by
# side with Debian's libcurl (a comparison peer only) when it is installed.
if(TARGET talvenook_test_support)
  add_executable(http_bench ${source})
  target_link_libraries(http_bench PRIVATE benchmark::benchmark talvenook_http talvenook_test_support)
  find_package(CURL QUIET)
  if(CURL_FOUND)
    target_link_libraries(http_bench PRIVATE CURL::libcurl)
    target_compile_definitions(http_bench PRIVATE TALVENOOK_BENCH_CURL=1)
  endif()
endif()

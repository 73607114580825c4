# The whole upload pass of the real program over 2,000 pending rows against a fast loopback
# responder, side by side with an I/O floor (plain sockets, files and SQLite). The responder takes
# the program's own service address when it is free; otherwise the program's connects reach the
# responder's port through the end-to-end tests' preload library.
if(TARGET talvenook_test_support)
  add_library(pass_bench_redirect MODULE ${PROJECT_SOURCE_DIR}/tests/e2e/ConnectRedirect.c)
  target_link_libraries(pass_bench_redirect PRIVATE ${CMAKE_DL_LIBS})
  add_executable(pass_bench ${source})
  target_link_libraries(pass_bench PRIVATE talvenook_test_support talvenook_runtime SQLite::SQLite3)
  target_compile_definitions(pass_bench PRIVATE TALVENOOK_BINARY="$<TARGET_FILE:talvenook>"
                                                PASS_BENCH_REDIRECT="$<TARGET_FILE:pass_bench_redirect>"
                                                TALVENOOK_SERVICE_BASE="${TALVENOOK_SERVICE_BASE}")
  add_dependencies(pass_bench talvenook pass_bench_redirect)
endif()

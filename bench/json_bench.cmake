# The JSON reader benchmark.
add_executable(json_bench ${source})
target_link_libraries(json_bench PRIVATE benchmark::benchmark talvenook_json)

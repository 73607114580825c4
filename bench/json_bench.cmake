# The JSON reader benchmark, side by side with Debian's nlohmann-json (a comparison peer only).
add_executable(json_bench ${source})
target_link_libraries(json_bench PRIVATE benchmark::benchmark talvenook_json)
find_package(nlohmann_json 3 QUIET)
if(nlohmann_json_FOUND)
  target_link_libraries(json_bench PRIVATE nlohmann_json::nlohmann_json)
  target_compile_definitions(json_bench PRIVATE TALVENOOK_BENCH_NLOHMANN=1)
endif()

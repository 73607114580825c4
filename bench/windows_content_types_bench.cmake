# The per-upload content-type lookup, timed beside the full table's answer: a plain program (no
# Google Benchmark), built on both platforms; bench/windows_content_types.sh runs the Windows one
# under Wine over registries of growing size.
add_executable(windows_content_types_bench ${source})
target_link_libraries(windows_content_types_bench PRIVATE talvenook_service)

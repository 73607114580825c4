# The catalogue benchmark needs the catalogue library (and through it SQLite).
add_executable(catalog_bench ${source})
target_link_libraries(catalog_bench PRIVATE benchmark::benchmark talvenook_catalog)

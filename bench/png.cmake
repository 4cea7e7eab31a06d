# Our PNG reading and writing against libspng used directly on the same
# bytes with the same settings.
find_package(ZLIB REQUIRED)
add_executable(png_bench ${CMAKE_CURRENT_LIST_DIR}/png_bench.cpp)
target_link_libraries(png_bench PRIVATE sigillon_png PkgConfig::SPNG ZLIB::ZLIB benchmark::benchmark)

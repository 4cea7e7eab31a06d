# Our JPEG load and save against libjpeg used directly on the same bytes.
add_executable(files_bench ${CMAKE_CURRENT_LIST_DIR}/files_bench.cpp)
target_link_libraries(files_bench PRIVATE sigillon_pictures benchmark::benchmark)

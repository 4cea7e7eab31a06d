add_executable(stamping_bench ${CMAKE_CURRENT_LIST_DIR}/stamping_bench.cpp)
target_link_libraries(stamping_bench PRIVATE sigillon_stamping benchmark::benchmark)

# Painting a large picture in the main view and the overview, and the
# program's peak memory with it.
add_executable(app_bench ${CMAKE_CURRENT_LIST_DIR}/app_bench.cpp)
target_link_libraries(app_bench PRIVATE sigillon_windows benchmark::benchmark)
set_target_properties(app_bench PROPERTIES AUTOUIC OFF)

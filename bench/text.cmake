add_executable(text_bench ${CMAKE_CURRENT_LIST_DIR}/text_bench.cpp)
target_link_libraries(text_bench PRIVATE sigillon_textstamp sigillon_toolkit sigillon_stamping
                      benchmark::benchmark)
set_target_properties(text_bench PROPERTIES AUTOUIC OFF)

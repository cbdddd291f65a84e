add_executable(bench_encode ${CMAKE_CURRENT_LIST_DIR}/EncodeBench.cpp)
target_link_libraries(bench_encode PRIVATE codec benchmark::benchmark)

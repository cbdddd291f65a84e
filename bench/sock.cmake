# Socket component: SendStream throughput to a discarding loopback peer, and the CPU
# a ReadLn uses while it waits for a slow reply.
add_executable(bench_sock ${CMAKE_CURRENT_LIST_DIR}/SockBench.cpp)
target_link_libraries(bench_sock PRIVATE sock testsupport Qt6::Core benchmark::benchmark)

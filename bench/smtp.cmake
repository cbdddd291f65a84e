if(TARGET smtp)
  add_executable(bench_smtp ${CMAKE_CURRENT_LIST_DIR}/BenchSmtp.cpp)
  target_link_libraries(bench_smtp PRIVATE smtp Qt6::Core)
endif()

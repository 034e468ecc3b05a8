# The upload benchmark (`make bench`); not part of the tests.
find_package(benchmark QUIET)
if(benchmark_FOUND AND NOT VEXA_SANITIZE)
  add_executable(vexa_bench ${CMAKE_SOURCE_DIR}/bench/upload_bench.cpp)
  target_link_libraries(vexa_bench PRIVATE vexa_program vexa_platform vexa_sim benchmark::benchmark)
endif()

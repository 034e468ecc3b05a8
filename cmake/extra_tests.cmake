# The libFuzzer target tests/fuzz_midi_input.cpp. libFuzzer needs clang while the main build uses g++,
# so the project is configured a second time with clang in <build>/fuzz, where only the fuzzer is built:
# the program, the Linux layer and the simulated unit are compiled there with coverage for the fuzzer
# and ASan+UBSan. The CTest test `fuzz_midi_input` runs it for 60 s; a crash, a sanitizer report or a
# leak fails it. Sanitizer builds leave it out (they run the other tests under their own sanitizer).
if(VEXA_FUZZ_BUILD)
  add_executable(fuzz_midi_input ${CMAKE_SOURCE_DIR}/tests/fuzz_midi_input.cpp)
  target_link_libraries(fuzz_midi_input PRIVATE vexa_program vexa_platform vexa_sim)
  target_link_options(fuzz_midi_input PRIVATE -fsanitize=fuzzer)
  return()
endif()

find_program(VEXA_CLANGXX NAMES clang++ clang++-14)
find_program(VEXA_CLANG NAMES clang clang-14)
if(VEXA_CLANGXX AND VEXA_CLANG AND NOT VEXA_SANITIZE)
  include(ExternalProject)
  set(VEXA_FUZZ_DIR ${CMAKE_BINARY_DIR}/fuzz)
  ExternalProject_Add(vexa_fuzz_build
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${VEXA_FUZZ_DIR}
    CMAKE_ARGS
      -DCMAKE_CXX_COMPILER=${VEXA_CLANGXX}
      -DCMAKE_C_COMPILER=${VEXA_CLANG}
      -DCMAKE_BUILD_TYPE=RelWithDebInfo
      -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
      -DVEXA_SANITIZE=address,undefined
      -DVEXA_FUZZ_BUILD=ON
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${VEXA_FUZZ_DIR} --target fuzz_midi_input
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  add_test(NAME fuzz_midi_input
    COMMAND ${VEXA_FUZZ_DIR}/fuzz_midi_input -max_total_time=60 -print_final_stats=1 -detect_leaks=1)
  set_tests_properties(fuzz_midi_input PROPERTIES LABELS fuzz TIMEOUT 300)
endif()

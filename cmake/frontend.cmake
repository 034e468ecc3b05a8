# The terminal front end (`vexa`), the simulated unit as a MIDI device of its own (`vexa-sim`) and the
# system tests that use them over a real MIDI service and a real terminal.
find_package(PkgConfig REQUIRED)
pkg_check_modules(NCURSESW IMPORTED_TARGET ncursesw)

# Drawing and input mapping need no terminal: the unit tests (tests/tui_*.cpp) link them as well.
add_library(vexa_tui STATIC ${CMAKE_SOURCE_DIR}/platform/frontend_tui.cpp)
target_link_libraries(vexa_tui PUBLIC vexa_platform)
cmake_language(DEFER CALL target_link_libraries vexa_tests PRIVATE vexa_tui)

if(NCURSESW_FOUND)
  add_executable(vexa ${CMAKE_SOURCE_DIR}/platform/main_tui.cpp ${CMAKE_SOURCE_DIR}/platform/frontend_tui_curses.cpp)
  target_link_libraries(vexa PRIVATE vexa_tui vexa_program vexa_platform PkgConfig::NCURSESW)
endif()

if(RTMIDI_FOUND)
  add_executable(vexa-sim ${CMAKE_SOURCE_DIR}/sim/main_vexa_sim.cpp)
  target_link_libraries(vexa-sim PRIVATE vexa_sim PkgConfig::RTMIDI Threads::Threads)

  # The program under the headless driver, talking to vexa-sim over JACK; run by tests/system/jack_e2e.sh.
  add_executable(vexa_jack_e2e ${CMAKE_SOURCE_DIR}/tests/system/jack_e2e.cpp)
  target_link_libraries(vexa_jack_e2e PRIVATE vexa_program vexa_platform GTest::gtest GTest::gtest_main)
endif()

# System tests: a private JACK server and a tmux session each; `make check` leaves them out (label system).
enable_testing()
set(VEXA_SYSTEM_TESTS)
find_program(VEXA_JACKD jackd)
find_program(VEXA_TMUX tmux)
if(RTMIDI_FOUND AND VEXA_JACKD)
  add_test(NAME system.jack_e2e
           COMMAND ${CMAKE_SOURCE_DIR}/tests/system/jack_e2e.sh ${VEXA_JACKD} $<TARGET_FILE:vexa-sim>
                   $<TARGET_FILE:vexa_jack_e2e>)
  list(APPEND VEXA_SYSTEM_TESTS system.jack_e2e)
endif()
if(NCURSESW_FOUND AND VEXA_TMUX)
  add_test(NAME system.tui_tmux COMMAND ${CMAKE_SOURCE_DIR}/tests/system/tui_tmux.sh ${VEXA_TMUX} $<TARGET_FILE:vexa>)
  list(APPEND VEXA_SYSTEM_TESTS system.tui_tmux)
endif()
if(VEXA_SYSTEM_TESTS)
  set_tests_properties(${VEXA_SYSTEM_TESTS} PROPERTIES LABELS system TIMEOUT 600 SKIP_RETURN_CODE 77 RUN_SERIAL ON)
endif()

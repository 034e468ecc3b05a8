# Linux build: the program over our own Win32 layer in platform/.
set(VEXA_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined or thread)")
if(VEXA_SANITIZE)
  add_compile_options(-fsanitize=${VEXA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VEXA_SANITIZE})
endif()

find_package(Threads REQUIRED)
include(cmake/resources.cmake)   # vexa.res and its embedding: target vexa_resources

# The simulated unit: pure protocol logic, shared with vexa-sim and the Windows driver DLL.
file(GLOB SIM_SOURCES CONFIGURE_DEPENDS sim/*.cpp)
list(FILTER SIM_SOURCES EXCLUDE REGEX ".*/sim/(main|driver)_.*\\.cpp$")
add_library(vexa_sim STATIC ${SIM_SOURCES})
target_include_directories(vexa_sim PUBLIC ${CMAKE_SOURCE_DIR})

# The Linux layer: USER32, COMCTL32, KERNEL32, WINMM and the MIDI back-ends.
file(GLOB PLATFORM_SOURCES CONFIGURE_DEPENDS platform/*.cpp)
list(FILTER PLATFORM_SOURCES EXCLUDE REGEX ".*/platform/(main_|frontend_|midi_rtmidi).*\\.cpp$")
add_library(vexa_platform STATIC ${PLATFORM_SOURCES})
target_include_directories(vexa_platform PUBLIC ${CMAKE_SOURCE_DIR}/platform/include ${CMAKE_SOURCE_DIR}/platform ${CMAKE_SOURCE_DIR})
target_link_libraries(vexa_platform PUBLIC vexa_sim vexa_resources Threads::Threads)
include(cmake/rtmidi.cmake OPTIONAL)

# The program itself.
add_library(vexa_program STATIC ${PROGRAM_SOURCES})
target_include_directories(vexa_program PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(vexa_program PUBLIC vexa_platform)

include(cmake/frontend.cmake OPTIONAL)

enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB TEST_SOURCES CONFIGURE_DEPENDS tests/*.cpp)
list(FILTER TEST_SOURCES EXCLUDE REGEX ".*/tests/fuzz_.*\\.cpp$")
add_executable(vexa_tests ${TEST_SOURCES})
target_link_libraries(vexa_tests PRIVATE vexa_program vexa_platform vexa_sim GTest::gtest GTest::gtest_main)
# Every test runs in a process of its own: the program keeps its state in globals.
gtest_discover_tests(vexa_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

include(cmake/extra_tests.cmake OPTIONAL)
include(cmake/bench.cmake OPTIONAL)

# Windows build: the real 32-bit program, cross-compiled with mingw-w64.
add_executable(vexa WIN32 ${PROGRAM_SOURCES} ${RESOURCE_SCRIPT})
target_include_directories(vexa PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/res)
set_source_files_properties(${RESOURCE_SCRIPT} PROPERTIES OBJECT_DEPENDS "${RESOURCE_INPUTS}")
target_link_options(vexa PRIVATE -static -static-libgcc -static-libstdc++ -mwindows)
target_link_libraries(vexa PRIVATE winmm)
include(cmake/windows_extra.cmake OPTIONAL)

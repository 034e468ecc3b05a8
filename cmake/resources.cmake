# Resources on Linux: windres compiles a resource script into a .res file, exactly the bytes that the
# Windows build links into the executable, and the .res is embedded whole as a byte array
# (cmake/embed.cmake). The KERNEL32 stand-in parses it at run time, so FindResourceA & co. see the same
# template, bitmap, icons and firmware image as on Windows.
find_program(VEXA_WINDRES NAMES i686-w64-mingw32-windres x86_64-w64-mingw32-windres windres REQUIRED)
file(GLOB VEXA_RESOURCE_INPUTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/*)

# Compiles `script` into ${CMAKE_CURRENT_BINARY_DIR}/<name>.res and writes <name>_res.cpp beside it, which
# defines `const unsigned char <name>_res[]` and `<name>_res_size`. With REGISTER the file also makes the
# bytes the executable's own resources (platform_set_program_resources) when it is loaded.
function(vexa_embedded_res name script)
  cmake_parse_arguments(ARG "REGISTER" "" "" ${ARGN})
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${name}.res)
  set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${name}_res.cpp)
  add_custom_command(OUTPUT ${res}
    COMMAND ${VEXA_WINDRES} -I ${PROJECT_SOURCE_DIR}/res -I ${VEXA_GENERATED_DIR} -O res -i ${script} -o ${res}
    DEPENDS ${script} ${VEXA_RESOURCE_INPUTS} ${VEXA_GENERATED_DIR}/vexa_version.h
    COMMENT "Compiling ${name}.res"
    VERBATIM)
  add_custom_command(OUTPUT ${cpp}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${res} -DOUTPUT=${cpp} -DSYMBOL=${name}_res -DREGISTER=${ARG_REGISTER}
            -P ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
    DEPENDS ${res} ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
    COMMENT "Embedding ${name}.res"
    VERBATIM)
endfunction()

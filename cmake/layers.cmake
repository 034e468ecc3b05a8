# The linker keeps the layers apart. Each library is linked whole, with nothing but the libraries that it
# names in target_link_libraries, into a shared object that may leave no symbol undefined: a library that
# calls into a layer above it, or into one that it does not name, fails to build. Sanitizer builds skip the
# check (their runtimes are linked only into executables), and so does the browser build (WebAssembly has
# no shared objects).
if(NOT EMSCRIPTEN)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()
file(WRITE ${CMAKE_BINARY_DIR}/layer_check.cpp "// Empty: the layer checks link libraries only.\n")

function(vexa_check_layer library)
  if(VEXA_SANITIZE OR EMSCRIPTEN)
    return()
  endif()
  add_library(${library}_layer_check SHARED ${CMAKE_BINARY_DIR}/layer_check.cpp)
  target_link_libraries(${library}_layer_check PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${library}>")
  target_link_options(${library}_layer_check PRIVATE -Wl,--no-undefined)
endfunction()

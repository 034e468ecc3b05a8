# Generators of the committed resource files. Not part of the normal build: run
#   cmake --build <dir> --target regenerate_resources
# to rewrite res/firmware.bin, res/picture.bmp and res/app.ico, then review and commit them.
add_executable(gen_firmware EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/gen_firmware.cpp)
target_include_directories(gen_firmware PRIVATE ${CMAKE_SOURCE_DIR})
add_executable(gen_images EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/gen_images.cpp)

add_custom_target(regenerate_resources
  COMMAND gen_firmware ${CMAKE_SOURCE_DIR}/res/firmware.bin
  COMMAND gen_images ${CMAKE_SOURCE_DIR}/res/picture.bmp ${CMAKE_SOURCE_DIR}/res/app.ico
  DEPENDS gen_firmware gen_images
  COMMENT "Regenerating the firmware stand-in, the picture and the icon in res/"
  VERBATIM)

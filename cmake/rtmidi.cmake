# Real MIDI devices on Linux: the WINMM layer's back-end over RtMidi (ALSA and JACK), when the library is
# installed. Without it, VEXA_MIDI=alsa or jack finds no back-end and the layer reports no devices.
find_package(PkgConfig REQUIRED)
pkg_check_modules(RTMIDI IMPORTED_TARGET rtmidi)
if(RTMIDI_FOUND)
  target_sources(vexa_platform PRIVATE ${CMAKE_SOURCE_DIR}/platform/midi_rtmidi.cpp)
  target_compile_definitions(vexa_platform PRIVATE VEXA_HAVE_RTMIDI)
  target_link_libraries(vexa_platform PRIVATE PkgConfig::RTMIDI)
endif()

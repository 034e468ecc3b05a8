# Test tools of the Windows build: the simulated unit as a WinMM MIDI driver (winevexa.drv) and the UI
# probe that drives the real dialog from outside. tests/wine/run.sh runs both against vexa.exe under Wine.
add_library(winevexa SHARED sim/driver_winevexa.cpp sim/unit.cpp sim/driver_winevexa.def)
set_target_properties(winevexa PROPERTIES PREFIX "" SUFFIX ".drv")
target_include_directories(winevexa PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(winevexa PRIVATE -static -static-libgcc -static-libstdc++)
target_link_libraries(winevexa PRIVATE winmm)

add_executable(uiprobe tools/uiprobe.cpp)
target_link_options(uiprobe PRIVATE -static -static-libgcc -static-libstdc++)
target_link_libraries(uiprobe PRIVATE user32 comctl32)

# The console backend of the window layer, and the tests of the folder scan,
# the shell's status services and the window layer.
#
# Programs link vudcore before vud_window_console: the backend provides the
# window-layer functions that vudcore's shell code calls.
add_library(vud_window_console STATIC
  ${CMAKE_SOURCE_DIR}/platform/window_console/console_dialog.cpp
  ${CMAKE_SOURCE_DIR}/platform/window_console/console_dispatch.cpp
  ${CMAKE_SOURCE_DIR}/platform/window_console/console_loop.cpp
  ${CMAKE_SOURCE_DIR}/platform/window_console/console_output.cpp)
target_include_directories(vud_window_console PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vud_window_console PUBLIC Threads::Threads)

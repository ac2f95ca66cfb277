# The console backend of the window layer, and the tests of the folder scan,
# the shell's status services and the window layer.
#
# Programs link vudcore before vud_window_console: the backend provides the
# window-layer functions that vudcore's shell code calls.
add_library(vud_window_console STATIC
  ${CMAKE_SOURCE_DIR}/platform/window_console/console_dialog.cpp
  ${CMAKE_SOURCE_DIR}/platform/window_console/console_loop.cpp
  ${CMAKE_SOURCE_DIR}/platform/window_console/console_output.cpp)
target_include_directories(vud_window_console PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vud_window_console PUBLIC Threads::Threads)

# Test access to the window layer and the console backend; tests only.
if(VUD_BUILD_TESTS)
  add_library(vud_console_test_hooks STATIC
    ${CMAKE_SOURCE_DIR}/tests/window/window_test_hooks.cpp
    ${CMAKE_SOURCE_DIR}/tests/window/console_test_hooks.cpp)
  target_link_libraries(vud_console_test_hooks PUBLIC vudcore vud_window_console)
endif()

vud_add_test(NAME scan_tests
  SOURCES tests/scan/source_scan_test.cpp tests/scan/directory_search_test.cpp
  LIBS vudcore LABELS unit)

vud_add_test(NAME shell_status_order_test
  SOURCES tests/shell/status_services_order_test.cpp tests/shell/recording_window_layer.cpp
  LIBS vudcore LABELS unit)

vud_add_test(NAME shell_console_tests
  SOURCES tests/shell/console_fixture.cpp tests/shell/console_window_test.cpp
          tests/shell/status_services_test.cpp
  LIBS vudcore vud_window_console vud_console_test_hooks LABELS unit)

# The window layer's contract over the console backend, and over the core
# alone with a backend that has no user interface.
vud_add_test(NAME shell_window_contract_test
  SOURCES tests/shell/console_contract_test.cpp
  LIBS vudcore vud_window_console vud_console_test_hooks LABELS threaded)

vud_add_test(NAME window_core_test
  SOURCES tests/window/window_core_test.cpp tests/window/fake_window_backend.cpp
          tests/window/window_test_hooks.cpp
  LIBS vudcore LABELS threaded)

vud_add_test(NAME shell_platform_test
  SOURCES tests/shell/platform_test.cpp
  LIBS vudcore LABELS threaded)

# vudconv, the command-line converter over the console backend, built into
# the build root beside GOGO.DLL.
add_executable(vudconv
  ${CMAKE_SOURCE_DIR}/app/cli/vudconv.cpp
  ${CMAKE_SOURCE_DIR}/app/cli/command_line.cpp)
target_include_directories(vudconv PRIVATE ${CMAKE_SOURCE_DIR})
# vudcore before the backend: the backend provides the window-layer calls.
target_link_libraries(vudconv PRIVATE vudcore vud_window_console)
if(TARGET GOGO.DLL)
  add_dependencies(vudconv GOGO.DLL)
endif()
install(TARGETS vudconv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

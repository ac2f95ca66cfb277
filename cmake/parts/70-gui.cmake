# The window program vud-converter: the Qt backend of the window layer, the
# program with its icon and desktop entry, install rules, and its tests.
include(GNUInstallDirs)

if(VUD_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

  # Every Qt class of the project lives here.
  file(GLOB VUD_WINDOW_QT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/window_qt/*.cpp)
  add_library(vud_window_qt STATIC ${VUD_WINDOW_QT_SOURCES})
  target_include_directories(vud_window_qt PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(vud_window_qt PUBLIC Qt6::Widgets Threads::Threads)
  if(VUD_BUILD_TESTS)
    # Test access to the window layer and the Qt backend; tests only.
    add_library(vud_qt_test_hooks STATIC
      ${CMAKE_SOURCE_DIR}/tests/window/window_test_hooks.cpp
      ${CMAKE_SOURCE_DIR}/tests/window/qt_test_hooks.cpp)
    target_link_libraries(vud_qt_test_hooks PUBLIC vudcore vud_window_qt)
  endif()

  # Start-up, loop and shutdown, shared by the program and its tests. vudcore
  # comes before the backend: the backend provides the window-layer
  # functions that vudcore's shell code calls.
  add_library(vud_window_program STATIC
    ${CMAKE_SOURCE_DIR}/app/gui/window_program.cpp)
  target_link_libraries(vud_window_program PUBLIC vudcore vud_window_qt)

  add_executable(vud-converter
    ${CMAKE_SOURCE_DIR}/app/gui/main.cpp
    ${CMAKE_SOURCE_DIR}/app/resources/vud-converter.qrc)
  set_target_properties(vud-converter PROPERTIES AUTORCC ON)
  target_link_libraries(vud-converter PRIVATE vud_window_program)
  if(TARGET GOGO.DLL)
    # The program finds the encoder library beside itself.
    add_dependencies(vud-converter GOGO.DLL)
  endif()

  # Tests run headless on Qt's offscreen platform; the screen size comes
  # from its configuration where a test needs one.
  set(VUD_GUI_TEST_ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_SOURCE_DIR}/tests/gui/offscreen-1024.json")
  vud_add_test(NAME gui_layer_test
    SOURCES tests/gui/gui_layer_test.cpp tests/gui/gui_support.cpp
            tests/gui/qt_contract_test.cpp
    LIBS vud_window_program vud_qt_test_hooks Qt6::Test
    LABELS gui
    ENVIRONMENT ${VUD_GUI_TEST_ENVIRONMENT})

  vud_add_test(NAME gui_dialog_test
    SOURCES tests/gui/gui_dialog_test.cpp tests/gui/gui_support.cpp
    LIBS vud_window_program vud_qt_test_hooks Qt6::Test fake_encoder
    LABELS gui
    ENVIRONMENT ${VUD_GUI_TEST_ENVIRONMENT})

  # The whole program in the test's process; a second start runs the real
  # vud-converter, and the finished archive is verified with vudinfo.
  vud_add_test(NAME gui_program_test
    SOURCES tests/gui/gui_program_test.cpp tests/gui/gui_support.cpp
            app/resources/vud-converter.qrc
    LIBS vud_window_program vud_qt_test_hooks Qt6::Test fake_encoder vud_source_writer
    LABELS gui
    ENVIRONMENT ${VUD_GUI_TEST_ENVIRONMENT})
  if(TARGET gui_program_test)
    set_target_properties(gui_program_test PROPERTIES AUTORCC ON)
    add_dependencies(gui_program_test vud-converter vudinfo)
    # The centring examples on an 800-pixel screen too.
    add_test(NAME gui_program_centring_800_test
      COMMAND gui_program_test --gtest_filter=*Centring*
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(gui_program_centring_800_test PROPERTIES LABELS gui TIMEOUT 120
      ENVIRONMENT "VUD_SOURCE_DIR=${CMAKE_SOURCE_DIR};VUD_BUILD_DIR=${CMAKE_BINARY_DIR};QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_SOURCE_DIR}/tests/gui/offscreen-800.json")
  endif()

  install(TARGETS vud-converter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/app/resources/icon-32.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME vud-converter.png)
  install(FILES ${CMAKE_SOURCE_DIR}/app/resources/icon-16.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/16x16/apps RENAME vud-converter.png)
  # The entry names the installed program by its full path, under the
  # prefix given at install time.
  install(CODE "
    set(VUD_DESKTOP_EXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vud-converter\")
    configure_file(\"${CMAKE_SOURCE_DIR}/app/resources/vud-converter.desktop.in\"
      \"${CMAKE_BINARY_DIR}/vud-converter.desktop\" @ONLY)")
  install(FILES ${CMAKE_BINARY_DIR}/vud-converter.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

# vudinfo has no install rule of its own; it goes beside the other programs.
if(TARGET vudinfo)
  install(TARGETS vudinfo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

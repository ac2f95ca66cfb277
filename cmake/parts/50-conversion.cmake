# Tests of the output archive and of converting one source archive, and of
# vudinfo's view of output archives.

if(VUD_BUILD_TESTS)
  set(VUD_CONVERSION_SUPPORT ${CMAKE_SOURCE_DIR}/tests/conversion/conversion_support.cpp)
  set(VUD_CONVERSION_LIBS vudcore vud_window_console vud_source_writer fake_encoder)

  vud_add_test(NAME conversion_layout_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/conversion/output_layout_test.cpp ${VUD_CONVERSION_SUPPORT}
    LIBS ${VUD_CONVERSION_LIBS}
    LABELS unit)

  vud_add_test(NAME conversion_failure_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/conversion/conversion_failure_test.cpp ${VUD_CONVERSION_SUPPORT}
    LIBS ${VUD_CONVERSION_LIBS}
    LABELS unit)

  vud_add_test(NAME output_info_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/conversion/output_info_test.cpp
            ${CMAKE_SOURCE_DIR}/tools/vudinfo/output_archive_info.cpp ${VUD_CONVERSION_SUPPORT}
    LIBS ${VUD_CONVERSION_LIBS}
    LABELS unit)

  # Whole runs of the worker over a folder holding a pipe under an archive's name.
  vud_add_test(NAME hostile_source_run_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/conversion/hostile_source_run_test.cpp
            ${CMAKE_SOURCE_DIR}/tests/worker/worker_support.cpp
    LIBS ${VUD_CONVERSION_LIBS}
    LABELS threaded
    TIMEOUT 120)

  # End to end through the real stand-in library; libmpg123 decodes the streams.
  if(NOT TARGET PkgConfig::VUD_MPG123)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(VUD_MPG123 REQUIRED IMPORTED_TARGET libmpg123)
  endif()
  vud_add_test(NAME conversion_end_to_end_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/conversion/conversion_end_to_end_test.cpp
            ${CMAKE_SOURCE_DIR}/tools/vudinfo/output_archive_info.cpp ${VUD_CONVERSION_SUPPORT}
    LIBS vudcore vud_window_console vud_source_writer PkgConfig::VUD_MPG123
    LABELS integration)
  add_dependencies(conversion_end_to_end_test GOGO.DLL vudinfo)
endif()

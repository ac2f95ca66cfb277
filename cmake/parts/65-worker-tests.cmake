# Tests of the conversion worker, the main dialog procedure and vudconv, and
# the corpus maker of the end-to-end benchmark.

add_executable(make-corpus ${CMAKE_SOURCE_DIR}/tools/make-corpus/make_corpus.cpp)
target_link_libraries(make-corpus PRIVATE vud_source_writer)
target_include_directories(make-corpus PRIVATE ${CMAKE_SOURCE_DIR})
# The baseline: the same PCM through encodeEntry alone.
add_executable(encode-alone ${CMAKE_SOURCE_DIR}/tools/make-corpus/encode_alone.cpp)
target_link_libraries(encode-alone PRIVATE vudcore)
target_include_directories(encode-alone PRIVATE ${CMAKE_SOURCE_DIR})

if(VUD_BUILD_TESTS)
  set(VUD_WORKER_SUPPORT ${CMAKE_SOURCE_DIR}/tests/worker/worker_support.cpp)
  # vudcore before the backend: the backend provides the window-layer calls.
  set(VUD_WORKER_LIBS vudcore vud_window_console vud_console_test_hooks vud_source_writer
    fake_encoder)

  vud_add_test(NAME worker_run_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/worker/worker_run_test.cpp ${VUD_WORKER_SUPPORT}
    LIBS ${VUD_WORKER_LIBS}
    LABELS threaded)

  vud_add_test(NAME worker_race_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/worker/worker_race_test.cpp ${VUD_WORKER_SUPPORT}
    LIBS ${VUD_WORKER_LIBS}
    LABELS threaded)

  vud_add_test(NAME worker_scale_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/worker/worker_scale_test.cpp ${VUD_WORKER_SUPPORT}
    LIBS ${VUD_WORKER_LIBS}
    LABELS unit)

  vud_add_test(NAME main_dialog_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/dialog/main_dialog_test.cpp ${VUD_WORKER_SUPPORT}
    LIBS ${VUD_WORKER_LIBS}
    LABELS unit)

  vud_add_test(NAME vudconv_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/cli/vudconv_test.cpp
            ${CMAKE_SOURCE_DIR}/app/cli/command_line.cpp ${VUD_WORKER_SUPPORT}
    LIBS ${VUD_WORKER_LIBS}
    LABELS unit)
  if(TARGET vudconv_test)
    add_dependencies(vudconv_test vudconv GOGO.DLL fake_encoder)
    target_compile_definitions(vudconv_test PRIVATE
      VUDCONV_PATH="$<TARGET_FILE:vudconv>"
      STAND_IN_ENCODER_PATH="$<TARGET_FILE:GOGO.DLL>")
  endif()
endif()

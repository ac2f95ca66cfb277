# The encoder library: the stand-in GOGO.DLL on libmp3lame, the recording
# fake used by the tests, and the encoder tests.

# Recording fake of the encoder library (tests/fake_encoder/fake_encoder.h).
# Linking it gives a test both the controls and, through
# FAKE_ENCODER_LIBRARY_PATH, the file to hand to loadEncoderLibraryFrom.
add_library(fake_encoder SHARED ${CMAKE_SOURCE_DIR}/tests/fake_encoder/fake_encoder.cpp)
target_include_directories(fake_encoder PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(fake_encoder PRIVATE Threads::Threads)
target_compile_definitions(fake_encoder INTERFACE
  FAKE_ENCODER_LIBRARY_PATH="$<TARGET_FILE:fake_encoder>")

# The same fake without MPGE_processTrack: a library lacking one of the ten names.
add_library(fake_encoder_nine SHARED ${CMAKE_SOURCE_DIR}/tests/fake_encoder/fake_encoder.cpp)
target_include_directories(fake_encoder_nine PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(fake_encoder_nine PRIVATE Threads::Threads)
target_compile_definitions(fake_encoder_nine PRIVATE FAKE_ENCODER_OMIT_PROCESS_TRACK)

# Nine names of its own, the tenth only in a library it depends on: still a
# library lacking one of the ten names.
add_library(fake_process_track SHARED ${CMAKE_SOURCE_DIR}/tests/fake_encoder/process_track_only.cpp)
target_include_directories(fake_process_track PRIVATE ${CMAKE_SOURCE_DIR})
add_library(fake_encoder_nine_linked SHARED ${CMAKE_SOURCE_DIR}/tests/fake_encoder/fake_encoder.cpp)
target_include_directories(fake_encoder_nine_linked PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(fake_encoder_nine_linked PRIVATE FAKE_ENCODER_OMIT_PROCESS_TRACK)
# --no-as-needed: the dependency is recorded although nothing of it is used.
target_link_libraries(fake_encoder_nine_linked PRIVATE Threads::Threads
  -Wl,--no-as-needed fake_process_track)

vud_add_test(NAME encoder_entry_encoding_test
  SOURCES ${CMAKE_SOURCE_DIR}/tests/encoder/entry_encoding_test.cpp
  LIBS vudcore fake_encoder
  LABELS unit)

# The stand-in encoder library: a shared object named exactly GOGO.DLL in the
# build root, beside the programs, exporting only the ten entry points.
include(GNUInstallDirs)
find_library(VUD_MP3LAME_LIBRARY mp3lame REQUIRED)
add_library(GOGO.DLL SHARED ${CMAKE_SOURCE_DIR}/platform/mp3_encoder/mp3_encoder.cpp)
target_include_directories(GOGO.DLL PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(GOGO.DLL PRIVATE ${VUD_MP3LAME_LIBRARY})
target_compile_options(GOGO.DLL PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
target_link_options(GOGO.DLL PRIVATE
  -Wl,--version-script=${CMAKE_SOURCE_DIR}/platform/mp3_encoder/exports.map -Wl,--no-undefined)
set_target_properties(GOGO.DLL PROPERTIES
  OUTPUT_NAME "GOGO.DLL" PREFIX "" SUFFIX ""
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/platform/mp3_encoder/exports.map)
install(TARGETS GOGO.DLL LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR})

find_package(PkgConfig REQUIRED)
pkg_check_modules(VUD_MPG123 REQUIRED IMPORTED_TARGET libmpg123)
vud_add_test(NAME encoder_stand_in_test
  SOURCES ${CMAKE_SOURCE_DIR}/tests/encoder/mp3_encoder_test.cpp
  LIBS vudcore PkgConfig::VUD_MPG123
  LABELS unit)
if(TARGET encoder_stand_in_test)
  add_dependencies(encoder_stand_in_test GOGO.DLL)
endif()

# The binding test lives in a folder of its own so that no GOGO.DLL is found
# beside it; a second run puts a folder holding one on LD_LIBRARY_PATH.
vud_add_test(NAME encoder_binding_test
  SOURCES ${CMAKE_SOURCE_DIR}/tests/encoder/encoder_library_test.cpp
  LIBS vudcore
  LABELS unit)
if(TARGET encoder_binding_test)
  set(VUD_BINDING_TEST_DIR ${CMAKE_BINARY_DIR}/encoder-binding-test)
  set_target_properties(encoder_binding_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VUD_BINDING_TEST_DIR})
  add_dependencies(encoder_binding_test fake_encoder fake_encoder_nine fake_encoder_nine_linked)
  add_custom_command(TARGET encoder_binding_test POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VUD_BINDING_TEST_DIR}/search
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:fake_encoder> ${VUD_BINDING_TEST_DIR}/search/GOGO.DLL)
  add_test(NAME encoder_binding_search_test
    COMMAND encoder_binding_test --gtest_filter=BindingTest.BareName*
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(encoder_binding_search_test PROPERTIES LABELS unit TIMEOUT 120
    ENVIRONMENT "VUD_SOURCE_DIR=${CMAKE_SOURCE_DIR};VUD_BUILD_DIR=${CMAKE_BINARY_DIR};VUD_SEARCH_LIBRARY_DIR=${VUD_BINDING_TEST_DIR}/search;LD_LIBRARY_PATH=${VUD_BINDING_TEST_DIR}/search")
endif()

vud_add_test(NAME encoder_fake_gate_test
  SOURCES ${CMAKE_SOURCE_DIR}/tests/encoder/fake_encoder_test.cpp
  LIBS vudcore fake_encoder
  LABELS unit threaded)

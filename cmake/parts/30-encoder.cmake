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

vud_add_test(NAME encoder_entry_encoding_test
  SOURCES ${CMAKE_SOURCE_DIR}/tests/encoder/entry_encoding_test.cpp
  LIBS vudcore fake_encoder
  LABELS unit)

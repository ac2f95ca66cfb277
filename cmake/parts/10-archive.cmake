# Tests of the source archive reader, the block decoder and the archive writer.
vud_add_test(NAME source_archive_tests
  SOURCES
    ${CMAKE_SOURCE_DIR}/tests/archive/source_archive_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/archive/block_decoder_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/archive/block_decoder_paths_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/archive/writer_round_trip_test.cpp
  LIBS vudcore vud_source_writer
  LABELS unit)

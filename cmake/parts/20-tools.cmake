# Tools around source voice archives: the archive writer that tests, the
# benchmark and the sample maker use, vudpack (WAV -> archive) and vudinfo.

add_library(vud_source_writer STATIC
  ${CMAKE_SOURCE_DIR}/tools/source_writer/source_writer.cpp
  ${CMAKE_SOURCE_DIR}/tools/source_writer/wav_file.cpp)
target_include_directories(vud_source_writer PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(vudpack ${CMAKE_SOURCE_DIR}/tools/vudpack/vudpack.cpp)
target_link_libraries(vudpack PRIVATE vud_source_writer)

# vudinfo: lists source archives (and, through output_archive_info.cpp,
# output archives).
add_executable(vudinfo
  ${CMAKE_SOURCE_DIR}/tools/vudinfo/vudinfo.cpp
  ${CMAKE_SOURCE_DIR}/tools/vudinfo/source_archive_info.cpp
  ${CMAKE_SOURCE_DIR}/tools/vudinfo/output_archive_info.cpp)
target_link_libraries(vudinfo PRIVATE vudcore vud_source_writer)

vud_add_test(NAME vudinfo_tests
  SOURCES ${CMAKE_SOURCE_DIR}/tests/archive/vudinfo_test.cpp
  LIBS vud_source_writer
  LABELS unit)
if(TARGET vudinfo_tests)
  add_dependencies(vudinfo_tests vudinfo)
endif()

# Tools around source voice archives: the archive writer that tests, the
# benchmark and the sample maker use, vudpack (WAV -> archive) and vudinfo.

add_library(vud_source_writer STATIC
  ${CMAKE_SOURCE_DIR}/tools/source_writer/source_writer.cpp
  ${CMAKE_SOURCE_DIR}/tools/source_writer/wav_file.cpp)
target_include_directories(vud_source_writer PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(vudpack ${CMAKE_SOURCE_DIR}/tools/vudpack/vudpack.cpp)
target_link_libraries(vudpack PRIVATE vud_source_writer)

# libFuzzer targets (clang only, -DVUD_BUILD_FUZZ=ON), built into the build
# root as fuzz_*. vudcore is built without fuzzer instrumentation, so each
# target compiles the sources it exercises itself.
if(VUD_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VUD_BUILD_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  file(GLOB VUD_FUZZ_DECODER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/archive/block_decoder*.cpp)
  set(VUD_FUZZ_ARCHIVE_SOURCES ${CMAKE_SOURCE_DIR}/archive/source_archive.cpp ${VUD_FUZZ_DECODER_SOURCES})
  foreach(target fuzz_source_archive fuzz_block_decoder)
    add_executable(${target} ${CMAKE_SOURCE_DIR}/fuzz/${target}.cpp ${VUD_FUZZ_ARCHIVE_SOURCES})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined
      -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
  endforeach()
endif()

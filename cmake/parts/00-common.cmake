# Shared helpers for the fragments that follow.

if(VUD_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# vud_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [ENVIRONMENT ...])
# One GoogleTest program registered as one ctest test (so the labels and
# environment apply to it whole). Label "threaded" also runs under
# ThreadSanitizer in CI.
function(vud_add_test)
  if(NOT VUD_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "VUD_SOURCE_DIR=${CMAKE_SOURCE_DIR};VUD_BUILD_DIR=${CMAKE_BINARY_DIR};${T_ENVIRONMENT}")
endfunction()

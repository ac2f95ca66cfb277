# The order of the layers, checked over the sources: a file may include the
# headers of its own layer and of the layers below it, never one above.
#   cmake -DSOURCE_DIR=<repository> -P cmake/check_layers.cmake
# Prints every include of a higher layer as FILE:LINE and fails when there is
# one. Registered in ctest as layers_check.

# From the bottom up; a folder's layer is that of its longest prefix here.
set(layers
  "platform/"                              # 0 the OS services
  "archive/"                               # 1 the formats
  "encoder/"                               # 2 the encoder library's binding, entry encoding, helpers
  "window/window_"                         # 3 the window layer's contract and core
  "worker/,app/"                           # 4 the worker and the shell
  "window/console/,window/qt/,window/win32/" # 5 the window layer's backends
  "app/cli/,app/gui/")                     # 6 the programs

# The seams of the design, by name: a file with a layer of its own.
#   The conversion of one archive is compiled with the shell: it calls the
#   status services and reads the shell's values.
#   The stand-in encoder library is built on nothing of ours but the library
#   interface it implements (encoder/mpge.h, allowed below).
set(seam_files "archive/archive_conversion.cpp=4" "archive/archive_conversion.h=4")
set(seam_folders "encoder/stand_in/=0")
set(seam_includes "encoder/stand_in/>encoder/mpge.h")

# The layer of a path relative to the repository, or -1 for folders the order
# does not cover (tools, tests, benchmarks, fuzzers: they may use any layer).
function(layer_of path result)
  foreach(seam IN LISTS seam_files seam_folders)
    string(REPLACE "=" ";" parts "${seam}")
    list(GET parts 0 prefix)
    list(GET parts 1 rank)
    string(FIND "${path}" "${prefix}" at)
    if(at EQUAL 0)
      set(${result} ${rank} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(best -1)
  set(best_length 0)
  set(rank 0)
  foreach(group IN LISTS layers)
    string(REPLACE "," ";" prefixes "${group}")
    foreach(prefix IN LISTS prefixes)
      string(FIND "${path}" "${prefix}" at)
      string(LENGTH "${prefix}" length)
      if(at EQUAL 0 AND length GREATER best_length)
        set(best ${rank})
        set(best_length ${length})
      endif()
    endforeach()
    math(EXPR rank "${rank} + 1")
  endforeach()
  set(${result} ${best} PARENT_SCOPE)
endfunction()

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<repository> -P check_layers.cmake")
endif()
file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}"
  "${SOURCE_DIR}/platform/*.h" "${SOURCE_DIR}/platform/*.cpp"
  "${SOURCE_DIR}/archive/*.h" "${SOURCE_DIR}/archive/*.cpp"
  "${SOURCE_DIR}/encoder/*.h" "${SOURCE_DIR}/encoder/*.cpp"
  "${SOURCE_DIR}/window/*.h" "${SOURCE_DIR}/window/*.cpp"
  "${SOURCE_DIR}/worker/*.h" "${SOURCE_DIR}/worker/*.cpp"
  "${SOURCE_DIR}/app/*.h" "${SOURCE_DIR}/app/*.cpp")
list(SORT sources)

set(violations 0)
foreach(source IN LISTS sources)
  layer_of("${source}" own)
  file(STRINGS "${SOURCE_DIR}/${source}" lines)
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\"")
      continue()
    endif()
    set(included "${CMAKE_MATCH_1}")
    set(allowed FALSE)
    foreach(seam IN LISTS seam_includes)
      string(REPLACE ">" ";" parts "${seam}")
      list(GET parts 0 prefix)
      list(GET parts 1 header)
      string(FIND "${source}" "${prefix}" at)
      if(at EQUAL 0 AND included STREQUAL header)
        set(allowed TRUE)
      endif()
    endforeach()
    layer_of("${included}" theirs)
    if(NOT allowed AND theirs GREATER own)
      message("${source}:${number}: includes ${included} (layer ${theirs}) from layer ${own}")
      math(EXPR violations "${violations} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH sources checked)
if(violations GREATER 0)
  message(FATAL_ERROR "layers: ${violations} include(s) of a higher layer in ${checked} files")
endif()
message("layers: ${checked} files, every include within its layer or below")

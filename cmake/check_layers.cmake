# Fails when a source file includes a header of a layer above its own.
# Layers, lowest first; folders on one line are peers and do not include
# each other:
#   common
#   settings, log, data
#   control
#   writers
#   delivery
#   workers
#   app
# src/testing/ is test support: it may include any layer, and only tests
# (*_test.cc) and test support may include it.
# Usage: cmake -DSOURCE_DIR=<repository> -P check_layers.cmake
set(rank_common 0)
set(rank_settings 1)
set(rank_log 1)
set(rank_data 1)
set(rank_control 2)
set(rank_writers 3)
set(rank_delivery 4)
set(rank_workers 5)
set(rank_app 6)

file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR}/src ${SOURCE_DIR}/src/*.cc ${SOURCE_DIR}/src/*.h)
set(violations "")
foreach(file ${files})
  string(REGEX REPLACE "/.*" "" layer "${file}")
  if(layer STREQUAL "testing")
    continue()
  endif()
  if(NOT DEFINED rank_${layer})
    string(APPEND violations "\n  src/${file}: folder ${layer} has no place in the layer order")
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/src/${file} includes REGEX "^#include \"[a-z_]+/")
  foreach(line ${includes})
    string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" target "${line}")
    if(target STREQUAL layer)
      continue()
    endif()
    if(target STREQUAL "testing")
      if(NOT file MATCHES "_test\\.cc$")
        string(APPEND violations "\n  src/${file}: ${line} (test support outside a test)")
      endif()
      continue()
    endif()
    if(NOT DEFINED rank_${target} OR NOT rank_${target} LESS rank_${layer})
      string(APPEND violations "\n  src/${file}: ${line} (${layer} may not include ${target})")
    endif()
  endforeach()
endforeach()
if(violations)
  message(FATAL_ERROR "includes that cross the layers:${violations}")
endif()

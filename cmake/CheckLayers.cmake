# Fails when a source includes a project header from a layer it may not use.
#   cmake -DROOT=<source dir> -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.18)
# Layers, lowest first. Each may include its own headers and those of the layers listed
# with it; "nodra/" is the generated interface module. The counting library (analysis/)
# stands on the standard library alone, and its tests on it alone. The catalogue of a
# fleet's files (catalogue/) stands on the standard library and the databases' client
# libraries: no ORB, no interface module.
set(layers
  "analysis:"
  "host/utility:nodra/"
  "host/framework:nodra/,host/utility/,analysis/"
  "rpc3/format:nodra/,host/utility/,host/framework/"
  "rpc3/servants:nodra/,host/utility/,host/framework/,rpc3/format/,analysis/"
  "catalogue:"
  "clients/cpp:analysis/,nodra/,host/utility/,host/framework/,rpc3/format/,rpc3/servants/,catalogue/"
  "clients/python:analysis/,nodra/,host/utility/,host/framework/,rpc3/format/,rpc3/servants/,clients/cpp/,catalogue/"
  "apps:analysis/,nodra/,host/utility/,host/framework/,rpc3/format/,rpc3/servants/,clients/cpp/,catalogue/"
  "tests/analysis:analysis/"
  "tests/catalogue:catalogue/,tests/support/ScratchDir.h"
  "tests/support:nodra/,host/utility/,host/framework/,rpc3/format/,rpc3/servants/"
  "tests:analysis/,nodra/,host/utility/,host/framework/,rpc3/format/,rpc3/servants/,clients/cpp/,apps/,tests/,catalogue/"
  "tools:tests/support/"
  "bench:analysis/,nodra/,host/utility/,host/framework/,rpc3/format/,rpc3/servants/,clients/cpp/,catalogue/,apps/,tests/support/"
  "fuzz:nodra/,host/utility/,host/framework/,rpc3/format/")

set(failures "")
foreach(layer IN LISTS layers)
  string(REPLACE ":" ";" parts "${layer}")
  list(GET parts 0 dir)
  list(LENGTH parts partCount)
  set(allowed "")
  if(partCount GREATER 1)
    list(GET parts 1 allowed)
  endif()
  string(REPLACE "," ";" allowed "${allowed}")
  list(APPEND allowed "${dir}/")
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.cpp)
  foreach(source IN LISTS sources)
    # A file of a deeper layer listed separately is checked by its own rule.
    set(own TRUE)
    foreach(other IN LISTS layers)
      string(REGEX REPLACE ":.*" "" otherDir "${other}")
      string(LENGTH "${otherDir}" otherLength)
      string(LENGTH "${dir}" length)
      if(otherLength GREATER length AND source MATCHES "^${otherDir}/")
        set(own FALSE)
      endif()
    endforeach()
    if(NOT own)
      continue()
    endif()
    file(STRINGS ${ROOT}/${source} includes REGEX "^#include \"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^\"]*)\".*" "\\1" header "${line}")
      if(NOT header MATCHES "/")
        continue()  # a header beside the source
      endif()
      set(ok FALSE)
      foreach(prefix IN LISTS allowed)
        string(FIND "${header}" "${prefix}" at)
        if(at EQUAL 0)
          set(ok TRUE)
        endif()
      endforeach()
      if(NOT ok)
        string(APPEND failures "  ${source} includes ${header}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Includes that reach a layer above their own:\n${failures}")
endif()

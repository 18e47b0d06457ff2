# Fails when a source includes a project header from a layer it may not use, or when a part
# that must stand on the standard library alone includes any other library's header.
#   cmake -DROOT=<source dir> -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.18)
# Layers, lowest first, as KEY:ALLOWED[:std]. KEY is a folder, or a file's path without its
# extension (its .h and .cpp); a source is checked by the longest KEY it lies under. It may
# include headers beside it, under its KEY and those under the ALLOWED prefixes; "nodra/" is
# the generated interface module. With ":std", its <...> includes must be standard headers.
# The counting library (analysis/) stands on the standard library alone, and its tests on
# it alone; so do the byte functions of the sample coding. The catalogue of a fleet's files
# (catalogue/) stands on the standard library and the databases' client libraries.
set(below_clients "analysis/,nodra/,host/utility/,host/files/,host/framework/,rpc3/format/,rpc3/servants/,catalogue/")
set(layers
  "analysis::std"
  "host/utility:nodra/"
  "host/files:nodra/,host/utility/"
  "host/framework:nodra/,host/utility/,host/files/,analysis/"
  "rpc3/format:nodra/,host/utility/,host/files/,host/framework/"
  "rpc3/format/RPC3Encoding::std"
  "rpc3/format/RPC3SampleCoding:rpc3/format/RPC3Encoding.h:std"
  "rpc3/servants:nodra/,host/utility/,host/files/,host/framework/,rpc3/format/,analysis/"
  "catalogue:"
  "clients/cpp:${below_clients}"
  "clients/python:${below_clients},clients/cpp/"
  "apps/web:${below_clients},clients/cpp/"
  "apps/options:${below_clients},clients/cpp/,apps/web/"
  "apps:${below_clients},clients/cpp/,apps/web/,apps/options/"
  "tests/analysis:analysis/"
  "tests/catalogue:catalogue/,tests/support/ScratchDir.h"
  "tests/support:nodra/,host/utility/,host/files/,host/framework/,rpc3/format/,rpc3/servants/"
  "tests:${below_clients},clients/cpp/,apps/,tests/"
  "tools:tests/support/"
  "bench:${below_clients},clients/cpp/,apps/,tests/support/"
  "fuzz:nodra/,host/utility/,host/files/,host/framework/,rpc3/format/")

# Each layer's key, allowed prefixes and whether it is held to the standard library.
set(keys "")
foreach(layer IN LISTS layers)
  string(REPLACE ":" ";" parts "${layer}")
  list(GET parts 0 key)
  list(APPEND keys "${key}")
  set(allowed "")
  list(LENGTH parts partCount)
  if(partCount GREATER 1)
    list(GET parts 1 allowed)
  endif()
  string(REPLACE "," ";" allowed "${allowed}")
  set(allowed_${key} "${allowed}")
  set(std_${key} FALSE)
  if(partCount GREATER 2)
    set(std_${key} TRUE)
  endif()
endforeach()

# The sources under the layers' top folders (never a build tree).
set(tops "")
foreach(key IN LISTS keys)
  string(REGEX REPLACE "/.*" "" top "${key}")
  list(APPEND tops ${ROOT}/${top}/*.h ${ROOT}/${top}/*.cpp)
endforeach()
list(REMOVE_DUPLICATES tops)
file(GLOB_RECURSE sources RELATIVE ${ROOT} ${tops})
set(failures "")
foreach(source IN LISTS sources)
  # The longest key the source lies under: a folder, or the file's own path without extension.
  set(owner "")
  string(REGEX REPLACE "\\.[^./]*$" "" stem "${source}")
  foreach(key IN LISTS keys)
    string(LENGTH "${key}" keyLength)
    string(LENGTH "${owner}" ownerLength)
    if((stem STREQUAL key OR source MATCHES "^${key}/") AND keyLength GREATER ownerLength)
      set(owner "${key}")
    endif()
  endforeach()
  if(owner STREQUAL "")
    continue()
  endif()
  set(allowed ${allowed_${owner}})
  if(stem STREQUAL owner)
    list(APPEND allowed "${owner}.")  # a file's own header
  else()
    list(APPEND allowed "${owner}/")
  endif()
  file(STRINGS ${ROOT}/${source} includes REGEX "^#include [\"<]")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include [\"<]([^\">]*)[\">].*" "\\1" header "${line}")
    if(line MATCHES "^#include <")
      # A standard header has neither a folder nor an extension.
      if(std_${owner} AND header MATCHES "[./]")
        string(APPEND failures "  ${source} includes <${header}>, not a standard header\n")
      endif()
      continue()
    endif()
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
if(failures)
  message(FATAL_ERROR "Includes that reach a layer above their own:\n${failures}")
endif()

# The layer check against trees of one source each: every include that reaches up, or a
# library header where only the standard library may be used, fails it, naming the file;
# includes the layers allow pass.
#   cmake -DCHECK=<cmake/CheckLayers.cmake> -DSCRATCH=<dir> -P test_check_layers.cmake
# Cases: SOURCE|INCLUDE|the failure's text, or "" where the tree must pass.
cmake_minimum_required(VERSION 3.18)
set(cases
  "analysis/Counter.h|\"host/utility/CStringU.h\"|analysis/Counter.h includes host/utility/CStringU.h"
  "analysis/Counter.cpp|<omniORB4/CORBA.h>|analysis/Counter.cpp includes <omniORB4/CORBA.h>, not a standard header"
  "rpc3/format/RPC3SampleCoding.h|\"rpc3/format/CRPC3Header.h\"|RPC3SampleCoding.h includes rpc3/format/CRPC3Header.h"
  "rpc3/format/RPC3SampleCoding.cpp|<ace/OS.h>|RPC3SampleCoding.cpp includes <ace/OS.h>"
  "host/files/CFilePool.cpp|\"host/framework/CBaseImpl.h\"|host/files/CFilePool.cpp includes host/framework/CBaseImpl.h"
  "host/framework/CBaseImpl.cpp|\"rpc3/format/CRPC3Header.h\"|host/framework/CBaseImpl.cpp includes rpc3/format/CRPC3Header.h"
  "apps/web/CWebApi.cpp|\"apps/options/WebOptions.h\"|apps/web/CWebApi.cpp includes apps/options/WebOptions.h"
  "apps/options/WebOptions.cpp|\"apps/nodra-browse.h\"|apps/options/WebOptions.cpp includes apps/nodra-browse.h"
  "rpc3/format/CRPC3Header.cpp|<ace/OS.h>|"
  "rpc3/format/RPC3SampleCoding.cpp|\"rpc3/format/RPC3Encoding.h\"|"
  "apps/options/WebOptions.h|\"apps/web/CWebApi.h\"|"
  "apps/nodra-web.cpp|\"apps/options/WebOptions.h\"|")

set(failed "")
set(index 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 source)
  list(GET parts 1 include)
  list(GET parts 2 expected)
  math(EXPR index "${index} + 1")
  set(root "${SCRATCH}/case${index}")
  file(REMOVE_RECURSE "${root}")
  file(WRITE "${root}/${source}" "#include ${include}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${root} -P ${CHECK}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX REPLACE "[ \n]+" " " out "${out}")
  if(expected STREQUAL "")
    if(NOT result EQUAL 0)
      string(APPEND failed "  ${source} with ${include} should pass: ${out}\n")
    endif()
  else()
    string(FIND "${out}" "${expected}" at)
    if(result EQUAL 0 OR at EQUAL -1)
      string(APPEND failed "  ${source} with ${include} should fail with \"${expected}\": ${out}\n")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")
if(failed)
  message(FATAL_ERROR "The layer check judged wrongly:\n${failed}")
endif()

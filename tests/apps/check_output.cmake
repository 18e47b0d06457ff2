# Runs a program and checks its exit status and, when EXPECTED is given, that its standard
# output equals that file (or matches STDOUT_MATCH); when STDERR_MATCH is given, that
# standard error matches it; when NOT_MATCH is given, that neither output matches it.
#   cmake -DPROGRAM=... -DARGS="a;b" -DSTATUS=0 [-DEXPECTED=file] [-DSTDOUT_MATCH=regex]
#         [-DSTDERR_MATCH=regex] [-DNOT_MATCH=regex] -P check_output.cmake
# Bounded: a program that should have refused its options and serves instead fails here.
execute_process(COMMAND ${PROGRAM} ${ARGS} WORKING_DIRECTORY ${WORKDIR} TIMEOUT 60
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status STREQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}\nstdout:\n${out}\nstderr:\n${err}")
endif()
if(EXPECTED)
  file(READ ${EXPECTED} expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "output differs from ${EXPECTED}:\n${out}")
  endif()
endif()
if(STDERR_MATCH AND NOT err MATCHES "${STDERR_MATCH}")
  message(FATAL_ERROR "standard error does not match ${STDERR_MATCH}:\n${err}")
endif()
if(STDOUT_MATCH AND NOT out MATCHES "${STDOUT_MATCH}")
  message(FATAL_ERROR "standard output does not match ${STDOUT_MATCH}:\n${out}")
endif()
if(NOT_MATCH AND ("${out}${err}" MATCHES "${NOT_MATCH}"))
  message(FATAL_ERROR "the output matches ${NOT_MATCH}:\nstdout:\n${out}\nstderr:\n${err}")
endif()

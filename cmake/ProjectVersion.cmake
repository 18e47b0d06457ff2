# NODRA_VERSION_TEXT: the version of this build, from the repository. At a tag vX.Y.Z it is
# X.Y.Z; past one, X.Y.Z+N.gHASH (N commits after the tag); with no tag, the project's
# version with the commit count and hash of HEAD. Outside a repository (a source archive),
# the project's version. Each later commit gives a version that Debian's ordering puts
# after the one before, so that a rebuilt package upgrades the installed one. The
# configuration is redone when HEAD moves, so that a build never keeps a stale version.
find_package(Git QUIET)
set(NODRA_VERSION_TEXT ${PROJECT_VERSION})
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --tags --match "v[0-9]*" --long
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE described
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE describeFailed ERROR_QUIET)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=8 HEAD
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE hash
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE hashFailed ERROR_QUIET)
  if(NOT describeFailed AND described MATCHES "^v([0-9][0-9.]*)-([0-9]+)-g([0-9a-f]+)$")
    if(CMAKE_MATCH_2 EQUAL 0)
      set(NODRA_VERSION_TEXT ${CMAKE_MATCH_1})
    else()
      set(NODRA_VERSION_TEXT "${CMAKE_MATCH_1}+${CMAKE_MATCH_2}.g${CMAKE_MATCH_3}")
    endif()
  elseif(NOT hashFailed)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE count
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    set(NODRA_VERSION_TEXT "${PROJECT_VERSION}+${count}.g${hash}")
  endif()
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path logs/HEAD
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE headLog
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(headLog AND EXISTS "${headLog}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${headLog}")
  endif()
endif()
message(STATUS "nodra: version ${NODRA_VERSION_TEXT}")

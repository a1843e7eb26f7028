# The include directions, checked when the build is configured: every #include "..." of the
# sources must point down the layers, and only the platform layer, tests and benchmarks include
# an operating system's header. A violation is a configuration error that names the file, the
# line and the rule. The include roots (r4690_layers.cmake) make the same arrows fail to compile,
# target by target; this check states the whole map in one place and catches an arrow that a
# target's links would happen to allow.
#
#   layer                          may include
#   contract/                      contract/
#   platform/                      platform/, contract/
#   modlib/                        modlib/, platform/, contract/
#   images/                        images/, platform/, contract/
#   updater/                       updater/, images/, platform/, contract/, modlib's public headers,
#                                  the generated version header
#   sim/ (the module model)        sim/, contract/
#   sim/ (endpoint and command:    as the model, and platform/ and images/ (the embedded images,
#     simulator.*, embedded_images.*, command.*, main.cpp)    looked up by name), and the
#                                  generated version header
#   tools/ (the image generator)   tools/, images/, contract/, modlib's public headers (the
#                                  firmware description record)
#   test code: tests/, bench/,     anything
#     examples/, */testing/, *_test.cpp
#
# modlib's public headers are the ones it installs for other programs: interfaces.h, records.h,
# error_codes.h, r4690module.h. Code outside test code includes no testing/ header, except where
# the platform implements its test facilities (posix/handles.cpp, posix/resources.cpp,
# posix/sync.cpp).

set(r4690_allowed_contract contract)
set(r4690_allowed_platform platform contract)
set(r4690_allowed_modlib modlib platform contract)
set(r4690_allowed_images images platform contract)
set(r4690_allowed_updater updater images platform contract modlib-public version)
set(r4690_allowed_sim sim contract)
set(r4690_allowed_sim-endpoint sim contract platform images version)
set(r4690_allowed_tools tools images contract modlib-public)

set(r4690_test_code "^(tests/|bench/|examples/)|/testing/|_test\\.cpp$")
set(r4690_sim_endpoint "^sim/(simulator|embedded_images|command)\\.|^sim/main\\.cpp$")
set(r4690_modlib_public "^modlib/(interfaces|records|error_codes|r4690module)\\.h$")
set(r4690_testing_implementers "^platform/posix/(handles|resources|sync)\\.cpp$")
set(r4690_os_headers
    "^(windows|winsvc|winioctl|ntifs|ntddk|wdm|unistd|pthread|dlfcn|fcntl|poll|spawn|termios)\\.h$|^(sys|netinet|arpa)/")

# The kind of an included path: its layer, "modlib-public", "version", or "" when unknown.
function(r4690_include_kind included out)
  if(included STREQUAL "r4690_version.h")
    set(kind version)
  elseif(included MATCHES "${r4690_modlib_public}")
    set(kind modlib-public)
  elseif(included MATCHES "^(contract|platform|modlib|images|updater|sim|tools|tests|bench)/")
    set(kind ${CMAKE_MATCH_1})
  else()
    set(kind "")
  endif()
  set(${out} ${kind} PARENT_SCOPE)
endfunction()

# One source file (PATH relative to the root); appends its violations to the list in *OUT.
function(r4690_check_file path out)
  set(found ${${out}})
  if(path MATCHES "${r4690_test_code}")
    set(layer test)
  elseif(path MATCHES "${r4690_sim_endpoint}")
    set(layer sim-endpoint)
  else()
    string(REGEX MATCH "^[^/]+" layer "${path}")
  endif()
  file(STRINGS ${PROJECT_SOURCE_DIR}/${path} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS lines)
    if(line MATCHES "include[ \t]*<([^>]+)>")
      set(header ${CMAKE_MATCH_1})
      if(header MATCHES "${r4690_os_headers}" AND NOT path MATCHES "^(platform|tests|bench)/")
        list(APPEND found "${path}: <${header}>: only the platform layer includes OS headers")
      endif()
      continue()
    endif()
    if(NOT line MATCHES "include[ \t]*\"([^\"]+)\"")
      continue()
    endif()
    set(included ${CMAKE_MATCH_1})
    r4690_include_kind(${included} kind)
    if(kind STREQUAL "")
      list(APPEND found "${path}: \"${included}\": not a path from the repository's root")
      continue()
    endif()
    if(layer STREQUAL "test")
      continue()
    endif()
    if(included MATCHES "/testing/" AND NOT path MATCHES "${r4690_testing_implementers}")
      list(APPEND found "${path}: \"${included}\": test support, included by shipped code")
      continue()
    endif()
    set(allowed ${r4690_allowed_${layer}})
    if(kind STREQUAL "modlib" AND "modlib-public" IN_LIST allowed
       AND NOT "modlib" IN_LIST allowed)
      list(APPEND found
           "${path}: \"${included}\": ${layer}/ sees only modlib's public headers")
    elseif(kind STREQUAL "modlib-public" AND ("modlib" IN_LIST allowed))
      # a public header of a layer that it may include whole
    elseif(NOT kind IN_LIST allowed)
      list(APPEND found "${path}: \"${included}\": ${layer} may not include ${kind}")
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(r4690_check_include_directions)
  file(GLOB_RECURSE sources RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/contract/*
       ${PROJECT_SOURCE_DIR}/platform/*
       ${PROJECT_SOURCE_DIR}/modlib/*
       ${PROJECT_SOURCE_DIR}/images/*
       ${PROJECT_SOURCE_DIR}/updater/*
       ${PROJECT_SOURCE_DIR}/sim/*
       ${PROJECT_SOURCE_DIR}/tools/*
       ${PROJECT_SOURCE_DIR}/tests/*
       ${PROJECT_SOURCE_DIR}/bench/*
       ${PROJECT_SOURCE_DIR}/examples/*)
  list(FILTER sources INCLUDE REGEX "\\.(c|cpp|h|rc)$")
  set(violations)
  foreach(path IN LISTS sources)
    r4690_check_file(${path} violations)
  endforeach()
  if(violations)
    list(JOIN violations "\n  " text)
    message(FATAL_ERROR "include directions (cmake/r4690_include_directions.cmake):\n  ${text}")
  endif()
  list(LENGTH sources count)
  message(STATUS "Include directions: ${count} files checked")
endfunction()

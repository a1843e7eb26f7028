# The layers of the source tree and what the build lets each of them see.
#
# Include roots. A file includes another by its path from the repository's root,
# "modlib/records.h". No target sees the whole tree: each layer has an include root of its own,
# a folder of the build tree that holds one link, named after the layer, to the layer's folder,
# and a layer's targets give that root to whoever links them. A target can therefore include
# only the layers that it links, and an include of any other layer fails to compile.
#
# Test support. Code that only tests use lives in a `testing/` folder of its layer (and tests
# themselves in `*_test.cpp` files and under tests/). Its targets are made with
# r4690_add_test_support, exist only when tests are built, and are marked as test support; no
# shipped program may link one (r4690_check_shipped_targets).

set(R4690_INCLUDE_ROOTS_DIR ${PROJECT_BINARY_DIR}/include-roots)

# r4690_include_root(LAYER OUT): the include root of a layer (a folder of the source tree's root),
# made at the first call.
function(r4690_include_root layer out)
  set(root ${R4690_INCLUDE_ROOTS_DIR}/${layer})
  if(NOT IS_SYMLINK ${root}/${layer})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${layer} ${root}/${layer} SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# r4690_layer_target(TARGET LAYER): TARGET belongs to LAYER: it and whoever links it see the
# layer's include root (the INTERFACE of an interface library, PUBLIC otherwise).
function(r4690_layer_target target layer)
  r4690_include_root(${layer} root)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${root}>)
  elseif(type MATCHES "EXECUTABLE|OBJECT_LIBRARY")
    target_include_directories(${target} PRIVATE ${root})
  else()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
  endif()
endfunction()

# r4690_add_test_support(NAME LAYER STATIC|INTERFACE [SOURCES...] [LIBS...]): a library of test
# support in LAYER's testing/ folder. Built only with the tests; shipped programs never link it.
function(r4690_add_test_support name layer kind)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT R4690_TESTS)
    return()
  endif()
  if(kind STREQUAL "INTERFACE")
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${T_LIBS})
  else()
    add_library(${name} ${kind} ${T_SOURCES})
    target_link_libraries(${name} PUBLIC ${T_LIBS})
  endif()
  r4690_layer_target(${name} ${layer})
  set_target_properties(${name} PROPERTIES R4690_TEST_SUPPORT ON)
endfunction()

# The targets that TARGET links, directly or through others, as a list in *OUT.
function(r4690_linked_targets target out)
  set(seen)
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(libraries ${current} ${property})
      if(NOT libraries)
        continue()
      endif()
      foreach(library IN LISTS libraries)
        # $<LINK_ONLY:x> names a target too; other generator expressions name none of ours.
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" library "${library}")
        if(TARGET ${library} AND NOT library IN_LIST seen)
          list(APPEND seen ${library})
          list(APPEND queue ${library})
        endif()
      endforeach()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# r4690_check_shipped_targets(TARGET...): none of these links test support.
function(r4690_check_shipped_targets)
  foreach(target IN LISTS ARGN)
    if(NOT TARGET ${target})
      continue()
    endif()
    r4690_linked_targets(${target} linked)
    foreach(library IN LISTS linked)
      get_target_property(test_support ${library} R4690_TEST_SUPPORT)
      if(test_support)
        message(FATAL_ERROR "${target} is shipped, but links the test support ${library}")
      endif()
    endforeach()
  endforeach()
endfunction()

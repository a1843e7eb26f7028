# Checks that the library's reference, docs/library.md, covers every public operation: each
# virtual operation of the two C++ interfaces (modlib/interfaces.h), CreateInstance and each
# function of the C interface (modlib/r4690module.h) has a heading of its own, each method of the
# Python package's Module is named, and each code of the error list (modlib/error_codes.h) has a
# row in its table. Run by CTest:
#
#   cmake -D ROOT=<source folder> -P cmake/r4690_check_library_reference.cmake

file(READ ${ROOT}/docs/library.md reference)
file(READ ${ROOT}/modlib/interfaces.h interfaces)
file(READ ${ROOT}/modlib/r4690module.h c_interface)
file(READ ${ROOT}/modlib/error_codes.h error_list)
file(READ ${ROOT}/python/r4690module/__init__.py python_package)

# Every match of REGEX in TEXT, its first group, appended to the list OUT.
function(r4690_names text regex out)
  string(REGEX MATCHALL "${regex}" matches "${text}")
  set(names ${${out}})
  foreach(match IN LISTS matches)
    string(REGEX REPLACE "${regex}" "\\1" name "${match}")
    list(APPEND names ${name})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

set(operations CreateInstance)
r4690_names("${interfaces}" "virtual [A-Za-z_]+\\*? ([A-Za-z_]+)\\(" operations)
r4690_names("${c_interface}" "R4690_CALL (r4690_[a-z_]+)\\(" operations)
set(methods)
string(REGEX REPLACE "^.*\nclass Module:" "" module_class "${python_package}")
r4690_names("${module_class}" "\n    def ([a-z][a-z_]*)\\(" methods)
set(codes)
r4690_names("${error_list}" "X\\(([0-9]+)," codes)

list(LENGTH operations operation_count)
list(LENGTH methods method_count)
list(LENGTH codes code_count)
if(operation_count LESS 30 OR method_count LESS 10 OR code_count LESS 20)
  message(FATAL_ERROR "library reference: the sources gave ${operation_count} operations, "
                      "${method_count} Python methods and ${code_count} error codes; the patterns "
                      "above no longer read them")
endif()

set(missing)
foreach(name IN LISTS operations)
  if(NOT reference MATCHES "\n#+ `${name}`\n")
    list(APPEND missing "operation ${name} (a heading #### `${name}`)")
  endif()
endforeach()
foreach(name IN LISTS methods)
  if(NOT reference MATCHES "`(module\\.|Module\\.)?${name}[(`]")
    list(APPEND missing "Python method ${name}")
  endif()
endforeach()
foreach(code IN LISTS codes)
  if(NOT reference MATCHES "\n\\| ${code} \\|")
    list(APPEND missing "error code ${code} (a row of the error table)")
  endif()
endforeach()
if(missing)
  list(JOIN missing "\n  " text)
  message(FATAL_ERROR "docs/library.md does not cover:\n  ${text}")
endif()
message(STATUS "docs/library.md covers ${operation_count} operations, ${method_count} Python "
               "methods and ${code_count} error codes")

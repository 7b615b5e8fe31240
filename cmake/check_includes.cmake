# cmake -DDIR=... -DFORBIDDEN=regex -DWHAT=name -P check_includes.cmake
# Fails when a source below DIR includes a header whose path matches FORBIDDEN.
file(GLOB_RECURSE sources ${DIR}/*.h ${DIR}/*.cpp)
set(bad "")
foreach(f IN LISTS sources)
  file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](${FORBIDDEN})")
  foreach(l IN LISTS lines)
    list(APPEND bad "${f}: ${l}")
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "platform headers in ${WHAT}:\n${bad}")
endif()

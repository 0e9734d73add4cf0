# The driver's export names, read from their one home, include/quorvex_exports.h.
# Used at configure time (the .def file and the version script) and by the
# export check, which runs as a script.
set(QUORVEX_EXPORTS_HEADER ${CMAKE_CURRENT_LIST_DIR}/../include/quorvex_exports.h)

function(quorvex_read_exports out)
  file(READ ${QUORVEX_EXPORTS_HEADER} text)
  string(REGEX MATCHALL "[ \t]X\\([A-Za-z_][A-Za-z0-9_]*\\)" entries "${text}")
  set(names "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^[ \t]X\\(([A-Za-z_][A-Za-z0-9_]*)\\)$" "\\1" name "${entry}")
    list(APPEND names ${name})
  endforeach()
  list(LENGTH names count)
  if(NOT count EQUAL 19)
    message(FATAL_ERROR "${QUORVEX_EXPORTS_HEADER}: expected 19 exports, read ${count}")
  endif()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The Python package's constants that mirror the C headers, read from the
# headers at configure time, so that a changed header changes the package.
#
# quorvex_python_constants(OUTPUT HEADER...) writes OUTPUT with each
# `#define QUORVEX_NAME <integer>` of the headers as `QUORVEX_NAME = <integer>`,
# and FORMAT_BYTES_PER_PIXEL, the bytes per pixel of each QUORVEX_FORMAT_*
# code as its comment gives them ("/* 3 bytes per pixel ...").
function(quorvex_python_constants output)
  set(text "\"\"\"Constants of the C headers, made by the build from them: do not edit.\"\"\"\n")
  set(bytes_per_pixel "")
  foreach(header IN LISTS ARGN)
    get_filename_component(header_name ${header} NAME)
    string(APPEND text "\n# ${header_name}\n")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
    file(STRINGS ${header} defines REGEX "^#define QUORVEX_[A-Z0-9_]+ ")
    foreach(define IN LISTS defines)
      # An integer, bare or in parentheses: 8, (-1), (-2147483647 - 1).
      if(NOT define MATCHES "^#define (QUORVEX_[A-Z0-9_]+) +(-?[0-9]+|\\(-?[0-9]+( - [0-9]+)?\\))( |$)")
        continue()
      endif()
      set(name ${CMAKE_MATCH_1})
      set(value ${CMAKE_MATCH_2})
      string(APPEND text "${name} = ${value}\n")
      if(name MATCHES "^QUORVEX_FORMAT_")
        if(NOT define MATCHES "/\\* ([0-9]+) bytes? per pixel")
          message(FATAL_ERROR "${header}: ${name} does not say its bytes per pixel in its comment")
        endif()
        string(APPEND bytes_per_pixel "    ${name}: ${CMAKE_MATCH_1},\n")
      endif()
    endforeach()
  endforeach()
  if(bytes_per_pixel STREQUAL "")
    message(FATAL_ERROR "no QUORVEX_FORMAT_* codes in ${ARGN}")
  endif()
  string(APPEND text "\nFORMAT_BYTES_PER_PIXEL = {\n${bytes_per_pixel}}\n")
  file(CONFIGURE OUTPUT ${output} CONTENT "${text}" @ONLY)
endfunction()

# The exports of a library with a public C header: the functions the header
# declares, read from it, and nothing else exported from the shared library
# (a .def file for the DLL, a version script on Linux).

# Sets `out` to the names of the functions that `header` declares as
# "<call> <prefix>Name(".
function(quorvex_header_exports header call prefix out)
  file(STRINGS ${header} declarations REGEX "${call} ${prefix}[A-Za-z]+\\(")
  set(names "")
  foreach(declaration IN LISTS declarations)
    string(REGEX MATCH "${prefix}[A-Za-z]+\\(" name "${declaration}")
    string(REGEX REPLACE "\\($" "" name "${name}")
    list(APPEND names ${name})
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# Makes the shared library `target` (the file `dll` on Windows) export exactly
# the names in `exports`, by their plain names; sets `out` to the .def file or
# version script written.
function(quorvex_export_only target dll exports out)
  if(WIN32)
    set(text "LIBRARY ${dll}\nEXPORTS\n")
    foreach(name IN LISTS exports)
      string(APPEND text "    ${name}\n")
    endforeach()
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    file(CONFIGURE OUTPUT ${file} CONTENT "${text}")
    target_sources(${target} PRIVATE ${file})
    set_target_properties(${target} PROPERTIES PREFIX "")
  else()
    set(text "{\n  global:\n")
    foreach(name IN LISTS exports)
      string(APPEND text "    ${name};\n")
    endforeach()
    string(APPEND text "  local:\n    *;\n};\n")
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
    file(CONFIGURE OUTPUT ${file} CONTENT "${text}")
    target_link_options(${target} PRIVATE -Wl,--version-script=${file} -Wl,--no-undefined)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${file})
  endif()
  set(${out} ${file} PARENT_SCOPE)
endfunction()

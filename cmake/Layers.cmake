# The driver is built as one library per layer: platform <- support <- link and
# ui <- camera <- driver. A layer's headers are included as "<layer>/<file>.h"
# through a folder in the build tree that holds nothing but a link named after
# the layer, and only the layer's own target puts that folder on the include
# path (PUBLIC, so the layers above that link it see it too). An include that
# runs upward or sideways therefore names a header that is not found.

# Makes <folder> the include root of <target> under the name <layer>.
function(quorvex_layer_headers target layer folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${layer})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${folder} ${root}/${layer} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# Makes the single header <file> (a path inside src/) visible to <target>.
function(quorvex_single_header target name file)
  set(root ${CMAKE_BINARY_DIR}/layers/${name})
  get_filename_component(folder ${root}/${file} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${file} ${root}/${file} SYMBOLIC)
  target_include_directories(${target} INTERFACE ${root})
endfunction()

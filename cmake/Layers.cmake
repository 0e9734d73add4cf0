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

# Makes the headers directly in <folder>, and none of its subfolders, the
# include root of <target> under the name <layer>: what lies below stays the
# layer's own. <scope> is PUBLIC, or INTERFACE for a header-only target.
function(quorvex_layer_top_headers target scope layer folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${layer})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${layer})
  file(GLOB headers CONFIGURE_DEPENDS ${folder}/*.h)
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${layer}/${name} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# Install helpers: the public headers and the pkg-config files.
#
# The installed headers are exactly the public entry headers and everything
# they include, transitively, with quoted project includes
# (`#include "vantir3/..."`). Following the includes means the list cannot
# drift from the code: a header becomes public by being included from a
# public one, and internal headers (vector kernels, FFT, depth plans, format
# parsers) stay in the source tree.
#
# vantir3_public_headers(<out-var> <entry header>...) sets <out-var> to the
# headers, as paths relative to the source root, and re-runs the configure
# step whenever one of them changes.
function(vantir3_public_headers out_var)
  set(pending ${ARGN})
  set(found)
  while(pending)
    list(POP_FRONT pending header)
    if(header IN_LIST found)
      continue()
    endif()
    set(path ${PROJECT_SOURCE_DIR}/${header})
    if(NOT EXISTS ${path})
      message(FATAL_ERROR "public header ${header} not found")
    endif()
    list(APPEND found ${header})
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(STRINGS ${path} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
      list(APPEND pending ${included})
    endforeach()
  endwhile()
  list(SORT found)
  set(${out_var} ${found} PARENT_SCOPE)
endfunction()

# Installs the headers named (relative to the source root) under the include
# directory, keeping their folders.
function(vantir3_install_headers)
  foreach(header IN LISTS ARGN)
    get_filename_component(folder ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header}
      DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${folder})
  endforeach()
endfunction()

# vantir3_pkg_config(<file> <name> <description> <requires> <libs>) writes
# and installs <file>.pc from cmake/vantir3.pc.in. The file finds the prefix
# relative to its own folder, so an install moved or made with
# `cmake --install --prefix` elsewhere still gives the right paths.
function(vantir3_pkg_config pc_file name description requires libs)
  file(RELATIVE_PATH pc_prefix_from_pcdir ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" pc_prefix_from_pcdir "${pc_prefix_from_pcdir}")
  set(pc_name ${name})
  set(pc_description ${description})
  set(pc_requires ${requires})
  set(pc_libs ${libs})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/vantir3.pc.in ${PROJECT_BINARY_DIR}/${pc_file}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc_file}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

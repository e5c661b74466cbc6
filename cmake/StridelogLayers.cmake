# Layers the build enforces. A folder's headers are reached as "<folder>/x.hpp"
# only through an include root of its own: a directory in the build tree that
# holds nothing but a link to that one folder. A target gets the roots of the
# targets it links and no other, so an include in the wrong direction (platform
# reaching into sdk, the simulator into link) fails to compile. There is no
# repository-wide include path.

set(STRIDELOG_INCLUDE_ROOTS ${PROJECT_BINARY_DIR}/include-roots)

# stridelog_layer(<target> <folder> [DEPENDS <targets>...] [SOURCES <files>...])
# A static archive of <folder>'s sources (every .cpp in it unless SOURCES is
# given) whose headers are "<folder>/...", linking DEPENDS privately but
# handing their include roots to its users only where its own headers need them
# (PUBLIC_DEPENDS).
function(stridelog_layer target folder)
  cmake_parse_arguments(LAYER "" "" "DEPENDS;PUBLIC_DEPENDS;SOURCES" ${ARGN})
  set(source_dir ${PROJECT_SOURCE_DIR}/${folder})
  if(NOT LAYER_SOURCES)
    file(GLOB LAYER_SOURCES CONFIGURE_DEPENDS ${source_dir}/*.cpp)
  endif()
  add_library(${target} STATIC ${LAYER_SOURCES})
  stridelog_include_root(${target} ${folder})
  target_link_libraries(${target} PUBLIC ${LAYER_PUBLIC_DEPENDS} PRIVATE ${LAYER_DEPENDS})
endfunction()

# Gives <target> (and its users) the include root of <folder>.
function(stridelog_include_root target folder)
  set(root ${STRIDELOG_INCLUDE_ROOTS}/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
endfunction()

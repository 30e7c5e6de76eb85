# Include views: what each library lets others include.
#
# No target puts the repository root on its include path. A library sees its
# own folder through a private view in the build tree (a link
# <build>/views/<target>/private/<folder> to the source folder), and hands
# the targets that link it a public view holding links to its public headers
# only. Includes keep their "platform/ado/ado.h" spelling; including another
# component's internal header ("platform/ado/connection.h" from the service)
# finds no such file.
#
# vq_component(<target> PUBLIC_HEADERS <h>...): the library of the current
# folder, offering the headers named.
# vq_component(<target> OPEN): the whole folder is its interface (the
# service's own libraries and tools, used by their executable and tests).
function(vq_component target)
  cmake_parse_arguments(ARG "OPEN" "" "PUBLIC_HEADERS" ${ARGN})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(views ${CMAKE_BINARY_DIR}/views/${target})
  file(REMOVE_RECURSE ${views})
  get_filename_component(parent ${views}/private/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${views}/private/${folder} SYMBOLIC)
  if(ARG_OPEN)
    target_include_directories(${target} PUBLIC ${views}/private)
  else()
    file(MAKE_DIRECTORY ${views}/public/${folder})
    foreach(header IN LISTS ARG_PUBLIC_HEADERS)
      if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${header})
        message(FATAL_ERROR "vq_component(${target}): no header ${header}")
      endif()
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${views}/public/${folder}/${header} SYMBOLIC)
    endforeach()
    target_include_directories(${target} PRIVATE ${views}/private PUBLIC ${views}/public)
  endif()
endfunction()

# cmake -DSOURCE_DIR=... -DGRAPH=... -P check_layers.cmake
#
# The layers point one way. Each folder of src/ has a rank; a source file may
# include headers of its own folder and of lower ranks only, and a target
# built in a folder may link the project's libraries of lower ranks only
# (GRAPH, written at configure time, lists each target's direct links). So
# nothing below the windows includes a window header and no two libraries
# depend on each other.

set(rank_picture 0)
set(rank_picture/platform 1)
set(rank_core 1)
set(rank_widgets 1)
set(rank_shell 2)
set(rank_cli 2)
set(rank_gallery 3)
set(rank_viewer 3)
set(rank_app 4)

set(problems "")

# The layer folder of a path below src/: picture/platform or the first part.
function(layer_of path out)
  if(path MATCHES "^picture/platform(/|$)")
    set(${out} picture/platform PARENT_SCOPE)
  else()
    string(REGEX REPLACE "/.*" "" first "${path}")
    set(${out} ${first} PARENT_SCOPE)
  endif()
endfunction()

function(require_rank layer where)
  if(NOT DEFINED rank_${layer})
    set(problems "${problems}\n  ${where}: folder ${layer} has no rank in ${CMAKE_CURRENT_LIST_FILE}"
        PARENT_SCOPE)
  endif()
endfunction()

# Includes.
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}/src ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp)
list(LENGTH sources source_count)
if(source_count EQUAL 0)
  message(FATAL_ERROR "no sources under ${SOURCE_DIR}/src")
endif()
set(include_count 0)
foreach(source IN LISTS sources)
  layer_of(${source} layer)
  require_rank(${layer} ${source})
  file(STRINGS ${SOURCE_DIR}/src/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*" "\\1" header "${line}")
    if(NOT EXISTS ${SOURCE_DIR}/src/${header})
      continue()  # a system or generated header
    endif()
    math(EXPR include_count "${include_count} + 1")
    layer_of(${header} target_layer)
    require_rank(${target_layer} ${source})
    if(target_layer STREQUAL layer OR NOT DEFINED rank_${layer} OR NOT DEFINED rank_${target_layer})
      continue()
    endif()
    if(NOT rank_${target_layer} LESS rank_${layer})
      string(APPEND problems "\n  src/${source} (${layer}) includes ${header} (${target_layer})")
    endif()
  endforeach()
endforeach()
if(include_count EQUAL 0)
  message(FATAL_ERROR "no project includes found under ${SOURCE_DIR}/src")
endif()

# Links.
file(STRINGS ${GRAPH} edges)
list(LENGTH edges edge_count)
if(edge_count EQUAL 0)
  message(FATAL_ERROR "the target graph ${GRAPH} is empty")
endif()
foreach(edge IN LISTS edges)
  # "target folder -> dependency folder"
  string(REPLACE " " ";" parts "${edge}")
  list(GET parts 0 target)
  list(GET parts 1 layer)
  list(GET parts 3 dependency)
  list(GET parts 4 dependency_layer)
  require_rank(${layer} ${target})
  require_rank(${dependency_layer} ${dependency})
  if(layer STREQUAL dependency_layer OR NOT DEFINED rank_${layer}
     OR NOT DEFINED rank_${dependency_layer})
    continue()
  endif()
  if(NOT rank_${dependency_layer} LESS rank_${layer})
    string(APPEND problems "\n  ${target} (${layer}) links ${dependency} (${dependency_layer})")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "Layers pointing the wrong way:${problems}")
endif()
message(STATUS "${source_count} sources, ${include_count} project includes, ${edge_count} links: one way")

# Fails when a file includes a header of a layer above its own, so that the
# folders depend downward only. Run by the build before any library compiles:
#   cmake -DSOURCE_DIR=... -DSTAMP=... -P CheckLayers.cmake
#
# Layers, bottom up:
#   platform, windows        nothing but themselves
#   state                    startup/ConnectionState, startup/ModBase: the shared
#                            connection state and the query helpers, over platform
#   signin, conversion, firms  platform, windows, state and their own folder;
#                            none includes another
#   startup, app             everything: the start-up procedure knows every window
cmake_minimum_required(VERSION 3.21)
set(state_files ConnectionState ModBase)

function(layer_of file out)
  file(RELATIVE_PATH rel ${SOURCE_DIR} ${file})
  string(REGEX MATCH "^[^/]+" folder ${rel})
  get_filename_component(stem ${file} NAME_WE)
  if(folder STREQUAL "startup" AND stem IN_LIST state_files)
    set(${out} state PARENT_SCOPE)
  else()
    set(${out} ${folder} PARENT_SCOPE)
  endif()
endfunction()

set(allowed_platform platform)
set(allowed_windows windows)
set(allowed_state platform state)
set(allowed_signin platform windows state signin)
set(allowed_conversion platform windows state conversion)
set(allowed_firms platform windows state firms)
set(allowed_startup platform windows state signin conversion firms startup)
set(allowed_app platform windows state signin conversion firms startup)

set(faults "")
file(GLOB_RECURSE sources
  ${SOURCE_DIR}/platform/*.cpp ${SOURCE_DIR}/platform/*.h
  ${SOURCE_DIR}/windows/*.cpp ${SOURCE_DIR}/windows/*.h
  ${SOURCE_DIR}/startup/*.cpp ${SOURCE_DIR}/startup/*.h
  ${SOURCE_DIR}/signin/*.cpp ${SOURCE_DIR}/signin/*.h
  ${SOURCE_DIR}/conversion/*.cpp ${SOURCE_DIR}/conversion/*.h
  ${SOURCE_DIR}/firms/*.cpp ${SOURCE_DIR}/firms/*.h
  ${SOURCE_DIR}/app/*.cpp)
foreach(file ${sources})
  layer_of(${file} layer)
  file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+/[^\"]+\"")
  foreach(line ${includes})
    string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" header "${line}")
    layer_of(${SOURCE_DIR}/${header} target)
    if(NOT target IN_LIST allowed_${layer})
      file(RELATIVE_PATH rel ${SOURCE_DIR} ${file})
      list(APPEND faults "${rel} (${layer}) includes ${header} (${target})")
    endif()
  endforeach()
endforeach()
if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Includes against the layering (see cmake/CheckLayers.cmake):\n  ${text}")
endif()
file(TOUCH ${STAMP})

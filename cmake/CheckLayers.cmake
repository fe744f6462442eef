# Fails when a file includes a header of a layer above its own, so that the
# folders depend downward only. A file's layer is its folder. Run by the build
# before any library compiles:
#   cmake -DSOURCE_DIR=... -DSTAMP=... -DLAYERS="platform;widgets;..." -P CheckLayers.cmake
# LAYERS lists the folders bottom up. A folder may include its own headers and
# those of the folders below it; the three subsystem folders (signin,
# conversion, firms) stand side by side, and none includes another.
cmake_minimum_required(VERSION 3.21)
set(side_by_side signin conversion firms)

set(faults "")
foreach(layer ${LAYERS})
  list(FIND LAYERS ${layer} rank)
  file(GLOB sources ${SOURCE_DIR}/${layer}/*.cpp ${SOURCE_DIR}/${layer}/*.h)
  foreach(file ${sources})
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+/[^\"]+\"")
    foreach(line ${includes})
      string(REGEX REPLACE ".*\"([^\"/]+)/[^\"]+\".*" "\\1" target "${line}")
      list(FIND LAYERS ${target} target_rank)
      if(target_rank LESS 0 OR target STREQUAL layer)
        continue()
      endif()
      if(target_rank GREATER rank OR (target IN_LIST side_by_side AND layer IN_LIST side_by_side))
        file(RELATIVE_PATH rel ${SOURCE_DIR} ${file})
        string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" header "${line}")
        list(APPEND faults "${rel} (${layer}) includes ${header} (${target})")
      endif()
    endforeach()
  endforeach()
endforeach()
if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Includes against the layering (see cmake/CheckLayers.cmake):\n  ${text}")
endif()
file(TOUCH ${STAMP})

# Writes the layer graph, as the program's own targets link, to
# ${PROJECT_BINARY_DIR}/layers.txt for scripts/check-layers: one line per
# target, "FOLDER: LINKED ... | SOURCE ...", the folder of the target, the
# folders of the program's targets it links, and the files it compiles. The
# links in each folder's CMakeLists.txt are the only record of the layering.

# Every target defined in `dir` and the folders below it.
function(quorvel_targets_below dir out)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirectories DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    quorvel_targets_below("${subdirectory}" below)
    list(APPEND targets ${below})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(quorvel_folder_of target out)
  get_target_property(dir ${target} SOURCE_DIR)
  file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${dir}")
  set(${out} "${folder}" PARENT_SCOPE)
endfunction()

quorvel_targets_below("${PROJECT_SOURCE_DIR}" quorvel_all_targets)
set(quorvel_graph "")
foreach(target IN LISTS quorvel_all_targets)
  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE)$")
    continue()
  endif()
  quorvel_folder_of(${target} folder)
  get_target_property(links ${target} LINK_LIBRARIES)
  set(linked "")
  foreach(link IN LISTS links)
    if(TARGET "${link}" AND link IN_LIST quorvel_all_targets)
      quorvel_folder_of(${link} linked_folder)
      list(APPEND linked "${linked_folder}")
    endif()
  endforeach()
  get_target_property(sources ${target} SOURCES)
  list(JOIN linked " " linked)
  list(JOIN sources " " sources)
  string(APPEND quorvel_graph "${folder}: ${linked} | ${sources}\n")
endforeach()
file(WRITE "${PROJECT_BINARY_DIR}/layers.txt" "${quorvel_graph}")

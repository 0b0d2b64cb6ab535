# One static library per layer of the core. Each layer may include only its
# own headers and those of the layers below it; configuring fails on an include
# in the wrong direction, so the layering cannot erode unnoticed.

# ondrel_layer(TARGET DIR SOURCES... ALLOW prefix... LINK target...)
function(ondrel_layer target dir)
  cmake_parse_arguments(L "" "" "SOURCES;ALLOW;LINK" ${ARGN})
  add_library(${target} STATIC ${L_SOURCES})
  target_include_directories(${target} PUBLIC ${ONDREL_SRC_DIR})
  if(L_LINK)
    target_link_libraries(${target} PUBLIC ${L_LINK})
  endif()
  ondrel_check_includes(${dir} ALLOW ${L_ALLOW})
endfunction()

# Fails when a file of DIR includes a project header from a folder that is
# neither DIR nor one of the allowed folders (each folder admits its own files,
# not its sub-folders': "fs" does not admit "fs/ntfs").
function(ondrel_check_includes dir)
  cmake_parse_arguments(C "" "" "ALLOW" ${ARGN})
  file(GLOB files ${ONDREL_SRC_DIR}/${dir}/*.h ${ONDREL_SRC_DIR}/${dir}/*.cpp)
  foreach(f ${files})
    file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" header "${line}")
      get_filename_component(folder "${header}" DIRECTORY)
      if(NOT folder IN_LIST C_ALLOW AND NOT folder STREQUAL dir)
        file(RELATIVE_PATH rel ${ONDREL_SRC_DIR} ${f})
        message(FATAL_ERROR "${rel} includes \"${header}\", which its layer may not use (allowed: ${dir} ${C_ALLOW})")
      endif()
    endforeach()
  endforeach()
endfunction()

# ondrel_folder_targets(PARENT OUT): adds each folder of src/PARENT that has a
# CMakeLists.txt (one file system, one volume system) and sets OUT to their
# targets, ondrel_PARENT_<folder>.
function(ondrel_folder_targets parent out)
  file(GLOB folders LIST_DIRECTORIES true ${ONDREL_SRC_DIR}/${parent}/*)
  set(targets)
  foreach(folder ${folders})
    if(IS_DIRECTORY ${folder} AND EXISTS ${folder}/CMakeLists.txt)
      get_filename_component(name ${folder} NAME)
      add_subdirectory(${parent}/${name})
      list(APPEND targets ondrel_${parent}_${name})
    endif()
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Adds every direct subfolder of the current source folder that has a
# CMakeLists.txt, so a new test or benchmark area needs no registration.
function(corvane_add_subfolders)
  file(GLOB areas LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(area IN LISTS areas)
    if(IS_DIRECTORY ${area} AND EXISTS ${area}/CMakeLists.txt)
      add_subdirectory(${area})
    endif()
  endforeach()
endfunction()

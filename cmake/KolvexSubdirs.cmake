# SPDX-License-Identifier: GPL-3.0-or-later
# Adds every immediate or nested folder below `root` that has a CMakeLists.txt,
# without descending into a folder that was added (it adds its own children).
function(kolvex_add_subdirs root)
  file(GLOB children LIST_DIRECTORIES true CONFIGURE_DEPENDS ${root}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${child})
      if(EXISTS ${child}/CMakeLists.txt)
        add_subdirectory(${child})
      else()
        kolvex_add_subdirs(${child})
      endif()
    endif()
  endforeach()
endfunction()

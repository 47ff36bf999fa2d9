# SPDX-License-Identifier: GPL-3.0-or-later
# kolvex_use_real_engines(<target> [MODULES]): builds RealEngines.cpp into the target and links
# every engine library this tree has, defining KOLVEX_HAVE_<ENGINE> for each, so the same code
# assembles the engines that exist today and picks up new ones as their libraries appear.
# MODULES: the engines as the application has them instead, loaded from their modules on first use.
function(kolvex_use_real_engines target)
  cmake_parse_arguments(ARG "MODULES" "" "" ${ARGN})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/bench/driver/RealEngines.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/bench/driver)
  if(ARG_MODULES)
    target_link_libraries(${target} PRIVATE kolvex-engine-modules)
    # Every engine is there; the document engine's wants a QGuiApplication.
    target_compile_definitions(${target} PRIVATE KOLVEX_ENGINE_MODULES=1 KOLVEX_HAVE_DOCUMENT=1)
    add_dependencies(${target} kolvex-resources)
    return()
  endif()
  foreach(pair IN ITEMS "kolvex-engine-image:IMAGE" "kolvex-engine-audio:AUDIO" "kolvex-engine-pdf:PDF"
                        "kolvex-engine-archive:ARCHIVE" "kolvex-engine-document:DOCUMENT")
    string(REPLACE ":" ";" parts ${pair})
    list(GET parts 0 library)
    list(GET parts 1 name)
    if(TARGET ${library})
      target_link_libraries(${target} PRIVATE ${library})
      target_compile_definitions(${target} PRIVATE KOLVEX_HAVE_${name}=1)
    endif()
  endforeach()
  if(TARGET kolvex-ffmpeg AND EXISTS ${PROJECT_SOURCE_DIR}/src/core/ffmpeg/FFmpegEngine.h)
    target_link_libraries(${target} PRIVATE kolvex-ffmpeg)
    target_compile_definitions(${target} PRIVATE KOLVEX_HAVE_FFMPEG=1)
  endif()
  add_dependencies(${target} kolvex-resources)
endfunction()

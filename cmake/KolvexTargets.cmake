# SPDX-License-Identifier: GPL-3.0-or-later
# Shared switches for every target of ours: warnings are errors in our code only.
add_library(kolvex_warnings INTERFACE)
target_compile_options(kolvex_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror
  -Wno-missing-field-initializers
  $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)

if(KOLVEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Everything is instrumented for coverage; only the harnesses link libFuzzer's main.
if(KOLVEX_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# kolvex_collect_sources(<out> <sources> <dirs>)
# The given sources plus every .cpp and .h in the given folders.
function(kolvex_collect_sources out sources dirs)
  set(srcs ${sources})
  foreach(dir IN LISTS dirs)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
    list(APPEND srcs ${found})
  endforeach()
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# kolvex_add_library(<name> [SHARED] [GLOB <dir>...] [SOURCES ...] [LIBS ...])
# A static library built from every .cpp in the given folders. SHARED: a shared library in the
# folder of the engine modules (staged and installed there), for code with state that the
# program and its modules must share.
function(kolvex_add_library name)
  cmake_parse_arguments(ARG "SHARED" "" "GLOB;SOURCES;LIBS;PUBLIC_LIBS" ${ARGN})
  kolvex_collect_sources(srcs "${ARG_SOURCES}" "${ARG_GLOB}")
  if(ARG_SHARED)
    add_library(${name} SHARED ${srcs})
    set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${KOLVEX_STAGE_LIB})
    install(TARGETS ${name} LIBRARY DESTINATION ${KOLVEX_LIB_DESTINATION} NAMELINK_SKIP)
  else()
    add_library(${name} STATIC ${srcs})
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE kolvex_warnings ${ARG_LIBS} PUBLIC ${ARG_PUBLIC_LIBS})
endfunction()

# kolvex_add_module(<name> SOURCES ... LIBS ...)
# An engine module: a library the program loads on first use (core/modules/ModuleLoader), named
# kolvex-engine-<name>.so, staged and installed beside the shared core, which it finds through
# its own folder.
function(kolvex_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(kolvex-module-${name} MODULE ${ARG_SOURCES})
  set_target_properties(kolvex-module-${name} PROPERTIES
    PREFIX "" OUTPUT_NAME kolvex-engine-${name}
    LIBRARY_OUTPUT_DIRECTORY ${KOLVEX_STAGE_LIB}
    INSTALL_RPATH "$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
  # Every symbol resolved when it is linked, so a module that could not work is not built.
  # (Sanitizer runtimes are resolved from the program instead.)
  if(NOT KOLVEX_SANITIZE AND NOT KOLVEX_FUZZ)
    target_link_options(kolvex-module-${name} PRIVATE LINKER:--no-undefined)
  endif()
  target_link_libraries(kolvex-module-${name} PRIVATE kolvex_warnings kolvex-core ${ARG_LIBS})
  install(TARGETS kolvex-module-${name} LIBRARY DESTINATION ${KOLVEX_LIB_DESTINATION})
  set_property(GLOBAL APPEND PROPERTY KOLVEX_MODULES kolvex-module-${name})
endfunction()

# kolvex_add_test(<name> [GLOB <dir>...] [SOURCES ...] [LIBS ...] [LABELS ...] [TIMEOUT s]
#                  [UNWIND_LEAKS_IN_FULL])
# One GoogleTest program per test folder; CTest learns its cases at test time.
# UNWIND_LEAKS_IN_FULL: the leak checker of the program and of those it starts unwinds every
# allocation in full, through the libraries built without frame pointers (Qt), so that a
# suppression sees the library frame that truly made a leak (Qt's D-Bus thread in the programs
# that join the session bus). It slows every allocation: only for programs that need it.
function(kolvex_add_test name)
  cmake_parse_arguments(ARG "UNWIND_LEAKS_IN_FULL" "TIMEOUT" "GLOB;SOURCES;LIBS;LABELS" ${ARGN})
  kolvex_collect_sources(srcs "${ARG_SOURCES}" "${ARG_GLOB}")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  # Sanitized code runs several times slower: its limits keep the margin a plain build has (the
  # test preset's own limit is for tests that set none).
  if(KOLVEX_SANITIZE)
    math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * 3")
  endif()
  add_executable(${name} ${srcs})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KOLVEX_STAGE_BIN})
  target_link_libraries(${name} PRIVATE kolvex_warnings kolvex-testsupport ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  # gtest_discover_tests flattens list-valued PROPERTIES (two labels, several environment
  # variables) into one list of names and values, so they are set here instead, on the tests it
  # found, by a script CTest reads after the discovered tests.
  # The leak checker of GCC 12 crashes reading the thread-local storage of libraries loaded after
  # start (the engine modules and theirs) unless it leaves that storage untracked.
  # What tests cache (FFmpeg's encoder list) stays in the build tree, not the user's cache.
  set(leak_options "suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
  if(ARG_UNWIND_LEAKS_IN_FULL)
    string(APPEND leak_options ":fast_unwind_on_malloc=0")
  endif()
  set(environment
    "QT_QPA_PLATFORM=offscreen" "KOLVEX_LOG=capture" "XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache"
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    "LSAN_OPTIONS=${leak_options}")
  set(properties ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${properties}
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES\n"
    "    LABELS \"${ARG_LABELS}\" TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT \"${environment}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties})
endfunction()

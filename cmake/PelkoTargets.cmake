# Helpers shared by every folder's CMakeLists.

# Where the Wine prefixes of this build tree live (Windows builds only).
set(PELKO_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
if(CMAKE_CROSSCOMPILING AND WIN32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run ${PELKO_WINE_ROOT})
endif()

# Tests run only where the target can run: natively always; Windows x64
# builds under the 64-bit Wine; x86 builds only where the 32-bit Wine's
# loader runs (decided by running it: it may be installed and still fail on
# a kernel without IA-32 emulation). PELKO_WINE32 names another loader,
# as the tests of this decision do.
set(PELKO_RUN_TESTS ON)
set(PELKO_TEST_LABEL native)
if(WIN32)
  set(PELKO_TEST_LABEL wine)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_wine_env ${CMAKE_COMMAND} -E env)
    if(DEFINED PELKO_WINE32)
      list(APPEND _wine_env PELKO_WINE32=${PELKO_WINE32})
    endif()
    execute_process(COMMAND ${_wine_env} ${CMAKE_SOURCE_DIR}/tools/wine-env check32
                    OUTPUT_VARIABLE _wine32_state OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE _wine32_result ERROR_QUIET)
    if(NOT _wine32_result EQUAL 0)
      set(PELKO_RUN_TESTS OFF)
      message(STATUS "x86 tests skipped: built, not run: ${_wine32_state}")
    endif()
  endif()
endif()

# pelko_gtest(NAME SOURCES... LIBS... [OWN_PREFIX] [GUI] [TIMEOUT s])
#   One GoogleTest executable; each test case becomes a ctest test labelled
#   native or wine. OWN_PREFIX runs every case in a private Wine prefix.
#   GUI cases draw windows: each runs under an X server of its own (Xvfb),
#   labelled gui.
function(pelko_gtest name)
  cmake_parse_arguments(ARG "OWN_PREFIX;GUI;E2E" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT BUILD_TESTING OR PELKO_FUZZ OR PELKO_BENCH)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  if(WIN32)
    # GoogleTest with a watchdog that says where a hung test was.
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} pelko_test_main)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  if(NOT PELKO_RUN_TESTS)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(label ${PELKO_TEST_LABEL})
  set(display)
  if(ARG_GUI)
    set(label gui)
    set(display --gui)
  endif()
  if(ARG_E2E)
    # The product as installed by its setup, end to end.
    set(label e2e)
  endif()
  set(props LABELS ${label} TIMEOUT ${ARG_TIMEOUT})
  if(WIN32)
    # The launcher tells the test's watchdog the time-out, so that a hung
    # case is reported and ended before ctest would end it unheard.
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR
                 ${CMAKE_SOURCE_DIR}/cmake/wine-run --timeout ${ARG_TIMEOUT} ${display} ${PELKO_WINE_ROOT})
  endif()
  if(ARG_OWN_PREFIX)
    list(APPEND props ENVIRONMENT PELKO_WINE_OWN_PREFIX=1)
  elseif(WIN32)
    # Tests in the shared prefix touch one registry and one C: drive, and so
    # take turns; a program of the portable core alone (pelko_*_core) touches
    # neither and runs beside anything.
    set(touches_prefix OFF)
    foreach(lib IN LISTS ARG_LIBS)
      if(NOT lib MATCHES "^pelko_.*_core$")
        set(touches_prefix ON)
      endif()
    endforeach()
    if(touches_prefix)
      list(APPEND props RESOURCE_LOCK wine-shared-prefix-${CMAKE_BINARY_DIR})
    endif()
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ${props})
endfunction()

# pelko_fuzz_target(NAME SOURCE CORPUS LIBS...)
#   A libFuzzer target, and a short run of it on every test pass (the long
#   runs are done by hand, see the README). New inputs go to the build tree;
#   the seeds in CORPUS stay as they are.
function(pelko_fuzz_target name source corpus)
  if(NOT PELKO_FUZZ)
    return()
  endif()
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${ARGN})
  set(found ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${found})
  add_test(NAME ${name}_smoke COMMAND ${name} -runs=200000 -max_len=4096 -seed=1 ${found} ${corpus})
  set_tests_properties(${name}_smoke PROPERTIES LABELS native TIMEOUT 300)
endfunction()

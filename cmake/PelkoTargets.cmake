# Helpers shared by every folder's CMakeLists.

# Where the Wine prefixes of this build tree live (Windows builds only).
set(PELKO_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
if(CMAKE_CROSSCOMPILING AND WIN32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run ${PELKO_WINE_ROOT})
endif()

# Tests run only where the target can run: natively always; Windows x64
# builds under Wine; x86 builds only where a 32-bit Wine is installed.
set(PELKO_RUN_TESTS ON)
set(PELKO_TEST_LABEL native)
if(WIN32)
  set(PELKO_TEST_LABEL wine)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    execute_process(COMMAND dpkg-query -W -f=\${Status} wine32:i386
                    OUTPUT_VARIABLE _wine32_status ERROR_QUIET)
    if(NOT _wine32_status MATCHES "install ok installed")
      set(PELKO_RUN_TESTS OFF)
      message(STATUS "x86 tests skipped: no 32-bit Wine (wine32:i386) on this machine")
    endif()
  endif()
endif()

# pelko_gtest(NAME SOURCES... LIBS... [OWN_PREFIX] [TIMEOUT s])
#   One GoogleTest executable; each test case becomes a ctest test labelled
#   native or wine. OWN_PREFIX runs every case in a private Wine prefix.
function(pelko_gtest name)
  cmake_parse_arguments(ARG "OWN_PREFIX" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT BUILD_TESTING OR PELKO_FUZZ OR PELKO_BENCH)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  if(NOT PELKO_RUN_TESTS)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(props LABELS ${PELKO_TEST_LABEL} TIMEOUT ${ARG_TIMEOUT})
  if(ARG_OWN_PREFIX)
    list(APPEND props ENVIRONMENT PELKO_WINE_OWN_PREFIX=1)
  elseif(WIN32)
    # Tests in the shared prefix touch one registry and one C: drive.
    list(APPEND props RESOURCE_LOCK wine-shared-prefix-${CMAKE_BINARY_DIR})
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

# Helpers shared by every folder: one static library per folder, one test executable per folder.

set(KALVEX_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(KALVEX_WERROR)
  list(APPEND KALVEX_WARNINGS -Werror)
endif()

function(kalvex_target_defaults target)
  target_compile_options(${target} PRIVATE ${KALVEX_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# kalvex_add_library(name SOURCES ... [LINK ...])
function(kalvex_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  kalvex_target_defaults(${name})
  if(ARG_LINK)
    target_link_libraries(${name} PUBLIC ${ARG_LINK})
  endif()
endfunction()

# A test that runs longer than this has hung (the Windows build under Wine sets its own).
if(NOT DEFINED KALVEX_TEST_TIMEOUT)
  set(KALVEX_TEST_TIMEOUT 300)
endif()

# kalvex_add_test(name SOURCES ... [LINK ...]): a GoogleTest executable registered with CTest.
function(kalvex_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kalvex_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} kalvex_test_support GTest::gtest GTest::gtest_main
                                                Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT ${KALVEX_TEST_TIMEOUT} ${KALVEX_TEST_PROPERTIES})
endfunction()

# What building for Windows adds, included by the top-level CMakeLists.txt: the Win32 API's
# settings for every file, resources through windres (CMake's RC language), and, when the
# build is cross-compiled (mingw-w64 on Linux), GoogleTest built from source and the tests
# run through Wine (cmake/wine-run.sh, with a private prefix in the build directory).
if(NOT WIN32)
  return()
endif()

enable_language(RC)
# Windows 7 and later; wide-character ("W") calls throughout.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
# The C++ runtime gives the C99 printf family (%zu, %lld), but GCC checks the format attribute
# of our own printf-like functions against Microsoft's older one: those checks are the Linux
# build's.
add_compile_options(-Wno-format)

if(NOT KALVEX_BUILD_TESTS OR NOT CMAKE_CROSSCOMPILING)
  return()
endif()

# Debian ships GoogleTest's sources only for other targets (package googletest).
set(KALVEX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KALVEX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

set(KALVEX_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${KALVEX_WINE_PREFIX})
# Every Wine test shares the prefix's server; the last thing CTest runs ends it, with every
# program it still keeps (a test that timed out leaves its children there).
set(KALVEX_TEST_PROPERTIES FIXTURES_REQUIRED wine)
# Each unit test takes seconds; one that Wine hangs is given up well before CTest's default.
set(KALVEX_TEST_TIMEOUT 120)
add_test(NAME wine.stop COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${KALVEX_WINE_PREFIX} --stop)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)

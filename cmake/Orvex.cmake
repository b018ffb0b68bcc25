# Shared build settings: one warning list, the sanitizer switch and the test helper.

set(ORVEX_WARNINGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wimplicit-fallthrough)
if(ORVEX_WERROR)
  list(APPEND ORVEX_WARNINGS -Werror)
endif()

# Fuzz targets link libFuzzer (clang only); everything they reach is instrumented for coverage.
option(ORVEX_FUZZ "Link fuzz targets with libFuzzer (clang only)" OFF)
if(ORVEX_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(ORVEX_SANITIZE)
  list(JOIN ORVEX_SANITIZE "," orvex_sanitizers)
  add_compile_options(-fsanitize=${orvex_sanitizers} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${orvex_sanitizers})
endif()

# orvex_library(name SOURCES... DEPS...): one library per source folder.
function(orvex_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${ORVEX_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# orvex_add_test(name SOURCES... DEPS... [TIMEOUT seconds]): a GoogleTest program registered with
# CTest; each of its tests fails after TIMEOUT seconds (120 unless given).
function(orvex_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${ORVEX_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} orvex_testing GTest::gmock GTest::gtest_main)
  # Under Wine a first start creates the prefix, which takes seconds; a test that hangs fails.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES ENVIRONMENT "ORVEX_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                                  TIMEOUT ${ARG_TIMEOUT})
endfunction()

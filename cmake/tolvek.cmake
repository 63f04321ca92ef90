# Shared build rules: warnings, the test registration that works for both the native
# and the Windows (Wine) build, and the output layout.

option(TOLVEK_WERROR "Treat compiler warnings as errors" ON)
option(TOLVEK_FUZZ "Build the libFuzzer targets (clang only)" OFF)
option(TOLVEK_BENCH "Build the native benchmarks (Google Benchmark)" OFF)

# The one switch between the two Windows builds. A 32-bit one (the windows-x86 preset) is for
# 32-bit camera hosts: it makes the camera side only (the camera, the producer library, the
# registration program for the 32-bit registry view, their tests and benchmarks, and the C
# interface of sdk/ with the display client it carries, which talks to the 64-bit helper over
# its pipe), never the helper, the monitor command or the test-pattern feed, which are 64-bit
# programs only.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(TOLVEK_CAMERA_SIDE_ONLY ON)
else()
  set(TOLVEK_CAMERA_SIDE_ONLY OFF)
endif()

if(WIN32)
  # Every Windows binary of the tree lands in one folder, so that tests find the
  # deliverables, test doubles and helper programs beside themselves.
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  # Each build folder has a Wine prefix of its own, made on first use.
  set(TOLVEK_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tools/wine-run.sh ${TOLVEK_WINE_PREFIX})
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0A00)
endif()

function(tolvek_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wcast-qual
                         "$<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor;-Wold-style-cast>"
                         "$<$<COMPILE_LANGUAGE:C>:-Wpedantic;-Wstrict-prototypes>")
  if(TOLVEK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# tolvek_add_test(<name> SOURCES <files...> [LIBRARIES <libs...>] [LABELS <labels...>]
#                 [TIMEOUT <seconds>] [ENVIRONMENT <VAR=value...>])
#
# Natively every GoogleTest case becomes a ctest entry. Under Wine one executable is one
# ctest entry (a Wine process start costs about half a second), it runs after the prefix
# fixture, and Wine-side tests run one at a time: with two Wine processes of one prefix
# ending side by side, a test process now and then never exited after its last test passed.
function(tolvek_add_test name)
  if(TOLVEK_FUZZ)
    return() # the fuzz build holds the fuzz targets only; the other presets run the tests
  endif()
  cmake_parse_arguments(arg "" "TIMEOUT" "SOURCES;LIBRARIES;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  tolvek_warnings(${name})
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 120)
  endif()
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED wine_prefix
      TIMEOUT ${arg_TIMEOUT}
      LABELS "wine;${arg_LABELS}"
      ENVIRONMENT "${arg_ENVIRONMENT}"
      RESOURCE_LOCK wine)
  else()
    include(GoogleTest)
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      PROPERTIES TIMEOUT ${arg_TIMEOUT} LABELS "native;${arg_LABELS}" ENVIRONMENT "${arg_ENVIRONMENT}")
  endif()
endfunction()

# tolvek_add_fuzzer(<name> [LIBRARIES <libs...>])
#
# The libFuzzer target <name>_fuzzer from <name>_fuzzer.cpp in the calling folder (fuzz preset
# only: clang, every source built with fuzzer-no-link and the sanitizers), and its test
# <name>_fuzz, which fuzzes it for a minute from the seeds in the folder's corpus/<name>.
# tools/fuzz.sh runs the same target for as long as asked.
function(tolvek_add_fuzzer name)
  cmake_parse_arguments(arg "" "" "LIBRARIES" ${ARGN})
  add_executable(${name}_fuzzer ${name}_fuzzer.cpp)
  target_link_libraries(${name}_fuzzer PRIVATE ${arg_LIBRARIES})
  target_link_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer)
  tolvek_warnings(${name}_fuzzer)

  add_test(NAME ${name}_fuzz COMMAND ${PROJECT_SOURCE_DIR}/tools/fuzz.sh 60)
  set_tests_properties(${name}_fuzz PROPERTIES
    ENVIRONMENT "TOLVEK_FUZZER=$<TARGET_FILE:${name}_fuzzer>;TOLVEK_FUZZ_TARGET=${name}"
    TIMEOUT 300
    LABELS "fuzz")
endfunction()

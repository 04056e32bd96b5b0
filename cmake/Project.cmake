# Shared compiler settings and helpers for every folder.

add_compile_options(-Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 reports std::string concatenation as overlapping copies at -O3 (a false alarm of
  # that compiler, fixed in 13); it would stop the optimised benchmark build.
  add_compile_options(-Wno-restrict)
endif()

if(WIN32)
  # One GUI thread, ANSI entry points, nothing older than Windows 7.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # Products import system DLLs only: the runtime goes into the .exe.
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  option(LOGONAGENT_SANITIZE "Build native code with ASan and UBSan" ON)
  if(LOGONAGENT_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# A test or benchmark program: its sources, then LINK the libraries it uses and NEEDS what
# must be built before it runs (programs it starts, libraries it copies), where that exists.
function(add_check_program name framework)
  cmake_parse_arguments(PARSE_ARGV 2 check "" "" "LINK;NEEDS")
  add_executable(${name} ${check_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${framework} ${check_LINK})
  foreach(needed IN LISTS check_NEEDS)
    if(TARGET ${needed})
      add_dependencies(${name} ${needed})
    endif()
  endforeach()
endfunction()

# Native unit test: a GoogleTest program run by CTest on the host.
function(add_native_test name)
  if(WIN32)
    return()
  endif()
  add_check_program(${name} "GTest::gtest_main;GTest::gmock" ${ARGN})
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# Windows test: a cross-built GoogleTest program that CTest runs under Wine, each run in a
# throwaway prefix (see scripts/wine-exec.sh). Exit code 77 means Wine cannot run this
# architecture here, which CTest reports as skipped.
function(add_wine_test name)
  if(NOT WIN32)
    return()
  endif()
  add_check_program(${name} "GTest::gtest_main;GTest::gmock" ${ARGN})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endfunction()

# Native benchmark (Google Benchmark); built with the native preset, run by scripts/bench.sh,
# never part of the test run. Benchmarks are built without sanitizers' influence on figures
# only when LOGONAGENT_SANITIZE is OFF (scripts/bench.sh configures such a build).
function(add_native_benchmark name)
  if(WIN32)
    return()
  endif()
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    add_check_program(${name} benchmark::benchmark_main ${ARGN})
  endif()
endfunction()

# Build helpers shared by every subsystem.
#
#   vexa_component(NAME SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...] [INCLUDE dir])
#       Compiles the sources once (object library NAME_obj) and makes from them the
#       shared library NAME (the deliverable, exporting only VEXA_API symbols) and
#       the static library NAME_static (for tests that reach internals).
#   vexa_add_test(NAME SOURCES ... [LIBS ...] [LABELS unit|card|...])
#       A GoogleTest program; its cases become CTest tests with the labels.
#       "unit" tests need nothing but the build and run under the sanitizers too;
#       "card" tests start their own private pcscd with virtual readers.
#   vexa_add_fuzzer(NAME SOURCES ... [LIBS ...])
#       A libFuzzer target (only when VEXA_FUZZ is on). ctest -L fuzz runs each for
#       VEXA_FUZZ_SECONDS with the corpus in <subsystem>/fuzz/corpus/NAME if present.
#   vexa_add_bench(NAME SOURCES ... [LIBS ...])
#       A benchmark program printing its figures; scripts/test.sh runs them all.

set(VEXA_WARNINGS -Wall -Wextra)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${VEXA_WARNINGS}>" "$<$<COMPILE_LANGUAGE:C>:${VEXA_WARNINGS}>")
# GNU unique symbols (inline statics of templates such as std::to_string) would keep
# a shared library mapped after dlclose, so its stop hook would never run on unload.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-fno-gnu-unique>")
endif()

if(VEXA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VEXA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VEXA_FUZZ needs clang (CXX=clang++ CC=clang)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(NOT TARGET unit_tests)
  add_custom_target(unit_tests)
  add_custom_target(fuzzers)
  add_custom_target(benchmarks)
endif()
set_property(GLOBAL PROPERTY VEXA_BENCH_LIST "")

function(vexa_component name)
  cmake_parse_arguments(A "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name}_obj OBJECT ${A_SOURCES})
  target_include_directories(${name}_obj PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${name}_obj PUBLIC ${A_PUBLIC_LIBS} PRIVATE ${A_PRIVATE_LIBS})
  target_compile_definitions(${name}_obj PRIVATE VEXA_BUILDING_LIBRARY)
  add_library(${name} SHARED $<TARGET_OBJECTS:${name}_obj>)
  target_link_libraries(${name} PUBLIC ${name}_obj)
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
  # Every symbol of a library must resolve at link time; clang's sanitizer
  # runtimes are linked into the executable only, so the check is off there.
  if(NOT (VEXA_FUZZ OR (VEXA_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")))
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  add_library(${name}_static STATIC $<TARGET_OBJECTS:${name}_obj>)
  target_link_libraries(${name}_static PUBLIC ${name}_obj)
endfunction()

function(vexa_add_test name)
  if(NOT VEXA_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT A_LABELS)
    set(A_LABELS unit)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${A_LABELS}" TIMEOUT 300
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if("unit" IN_LIST A_LABELS)
    add_dependencies(unit_tests ${name})
  endif()
endfunction()

function(vexa_add_fuzzer name)
  if(NOT VEXA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzzers ${name})
  set(corpus ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  set(dirs ${work})
  if(EXISTS ${corpus})
    list(APPEND dirs ${corpus})
  endif()
  add_test(NAME fuzz.${name}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
            sh -c "mkdir -p '${work}' && exec \"$0\" -max_total_time=${VEXA_FUZZ_SECONDS} -rss_limit_mb=2048 -print_final_stats=1 \"$@\""
            $<TARGET_FILE:${name}> ${dirs})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()

function(vexa_add_bench name)
  if(NOT VEXA_BENCH)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  add_dependencies(benchmarks ${name})
  set_property(GLOBAL APPEND PROPERTY VEXA_BENCH_LIST $<TARGET_FILE:${name}>)
endfunction()

# Flags for the project's own targets: link quillmere_options PRIVATE.
add_library(quillmere_options INTERFACE)
target_compile_options(quillmere_options INTERFACE -Wall -Wextra -Wpedantic -Werror
    -Wno-error=deprecated-declarations)
target_compile_definitions(quillmere_options INTERFACE BOOST_ASIO_NO_DEPRECATED)
if(QUILLMERE_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12's flow analysis under the sanitizers reports false positives in libstdc++.
    target_compile_options(quillmere_options INTERFACE -Wno-maybe-uninitialized)
endif()

# Sanitizers are carried by every target that links a project library, tests included.
add_library(quillmere_sanitize INTERFACE)
if(QUILLMERE_SANITIZE OR QUILLMERE_FUZZ)
    target_compile_options(quillmere_sanitize INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(quillmere_sanitize INTERFACE -fsanitize=address,undefined)
endif()
if(QUILLMERE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "QUILLMERE_FUZZ needs clang++ (libFuzzer): configure with "
            "-DCMAKE_CXX_COMPILER=clang++ in a build directory of its own")
    endif()
    # The libraries get libFuzzer's coverage instrumentation; only fuzz targets link its main.
    target_compile_options(quillmere_sanitize INTERFACE -fsanitize=fuzzer-no-link)
endif()

# quillmere_add_tests(<name> SOURCES ... LIBS ... [PROPERTIES ...])
# One gtest executable; each test case becomes a ctest test.
function(quillmere_add_tests name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} test_support GTest::gtest_main
        quillmere_options quillmere_sanitize)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT 120 ${ARG_PROPERTIES})
endfunction()

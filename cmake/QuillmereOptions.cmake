# Flags for the project's own targets: link quillmere_options PRIVATE.
add_library(quillmere_options INTERFACE)
target_compile_options(quillmere_options INTERFACE -Wall -Wextra -Wpedantic -Werror
    -Wno-error=deprecated-declarations)
target_compile_definitions(quillmere_options INTERFACE BOOST_ASIO_NO_DEPRECATED)
if(QUILLMERE_SANITIZE)
    # GCC 12's flow analysis under the sanitizers reports false positives in libstdc++.
    target_compile_options(quillmere_options INTERFACE -Wno-maybe-uninitialized)
endif()

# Sanitizers are carried by every target that links a project library, tests included.
add_library(quillmere_sanitize INTERFACE)
if(QUILLMERE_SANITIZE)
    target_compile_options(quillmere_sanitize INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(quillmere_sanitize INTERFACE -fsanitize=address,undefined)
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

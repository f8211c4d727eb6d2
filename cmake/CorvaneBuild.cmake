# Build settings and helpers shared by every folder of the project.

option(CORVANE_SANITIZE "Build the native code with AddressSanitizer and UBSan" OFF)
option(CORVANE_FUZZ "Build the libFuzzer targets (native build with clang)" OFF)
option(CORVANE_BENCH "Build the benchmarks (native build)" ON)

if(WIN32)
    set(CORVANE_WINDOWS ON)
else()
    set(CORVANE_WINDOWS OFF)
endif()

if(MSVC)
    add_compile_options(/W4 /permissive- /utf-8 /EHsc)
    add_compile_definitions(_CRT_SECURE_NO_WARNINGS)
else()
    add_compile_options(-Wall -Wextra)
endif()

if(CORVANE_WINDOWS)
    # Unicode windows, nothing older than Windows 7 in the headers.
    add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                            _WIN32_WINNT=0x0601 WINVER=0x0601)
    if(MINGW)
        # Resource scripts are UTF-8 (Chinese texts).
        set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
    endif()
endif()

if(CORVANE_SANITIZE AND NOT CORVANE_WINDOWS)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# add_subdirectory for each listed folder; a listed folder without a CMakeLists.txt is a
# mistake in the list, not something to skip.
macro(corvane_add_subdirs)
    foreach(_dir ${ARGN})
        if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/CMakeLists.txt)
            message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${_dir} has no CMakeLists.txt")
        endif()
        add_subdirectory(${_dir})
    endforeach()
endmacro()

# GoogleTest: the system package natively; Debian's sources compiled with the cross compiler
# (or whatever compiler builds Windows) otherwise.
if(NOT TARGET GTest::gtest_main)
    if(CORVANE_WINDOWS)
        set(CORVANE_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
        if(EXISTS ${CORVANE_GTEST_SOURCE}/CMakeLists.txt)
            set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
            set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
            set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
            add_subdirectory(${CORVANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest
                             EXCLUDE_FROM_ALL SYSTEM)
            # googletest's own CMakeLists defines the GTest:: aliases.
        else()
            find_package(GTest REQUIRED)
        endif()
    else()
        find_package(GTest REQUIRED)
    endif()
endif()

# corvane_add_test(NAME SOURCES src... [LIBS lib...] [LABELS label...] [TIMEOUT s])
# One test executable, registered with ctest as one test under its own name. In the cross
# build ctest runs it under Wine (CMAKE_CROSSCOMPILING_EMULATOR) inside the shared Wine
# session fixture.
function(corvane_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    if(CORVANE_WINDOWS)
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/UnbufferedOutput.cpp)
    endif()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gtest)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set(_labels ${T_LABELS})
    if(CORVANE_WINDOWS)
        list(APPEND _labels windows)
    else()
        list(APPEND _labels native)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${_labels}")
    if(CMAKE_CROSSCOMPILING AND CORVANE_WINDOWS)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_session)
    endif()
endfunction()

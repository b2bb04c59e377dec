# GoogleTest from Debian's source package, compiled by each build with that
# build's compiler, so the cross build gets Windows libraries of its own.
set(VANTREL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")

macro(vantrel_add_googletest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${VANTREL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GCC 12 inlines std::string into GoogleTest's URL encoding (gtest.cc,
    # built natively) and reports a memcpy overlap that cannot happen
    # (-Wrestrict). Only the gtest library is spared that warning; the
    # project's own code keeps it.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(gtest PRIVATE -Wno-restrict)
    endif()
    include(GoogleTest)
endmacro()

# Registers a GoogleTest executable with ctest. Natively every test case is
# its own ctest test. Under Wine each process start costs a noticeable
# fraction of a second, so there the whole executable is one ctest test,
# started through CMAKE_CROSSCOMPILING_EMULATOR.
function(vantrel_add_gtest target)
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
    else()
        gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST)
    endif()
endfunction()

# The sources of the toolchain's runtime, for the parts that are compiled again for the processor
# floor (common/runtime): Debian's gcc-12-source, the sources the mingw-w64 cross compilers were
# built from (their package says "Built-Using: gcc-12 (= <version>)"). Only the folders the
# runtime needs are taken out of its archive, once per build tree.
# Sets KT_GCC_SOURCE to the unpacked tree.
set(KT_GCC_SOURCE_ARCHIVE_GLOB /usr/src/gcc-12/gcc-*.tar.xz)
file(GLOB archives ${KT_GCC_SOURCE_ARCHIVE_GLOB})
if(NOT archives)
    message(FATAL_ERROR "The i686 deliverables' runtime is compiled from the toolchain's sources, "
                        "which are missing (${KT_GCC_SOURCE_ARCHIVE_GLOB}): "
                        "apt-get install gcc-12-source, or run scripts/setup-packages test")
endif()
list(GET archives 0 archive)
get_filename_component(folder "${archive}" NAME)
string(REGEX REPLACE "(-dfsg)?\\.tar\\.xz$" "" folder "${folder}")
set(unpacked "${CMAKE_BINARY_DIR}/toolchain-sources")
set(KT_GCC_SOURCE "${unpacked}/${folder}")
if(NOT EXISTS "${unpacked}/done" OR "${archive}" IS_NEWER_THAN "${unpacked}/done")
    message(STATUS "Unpacking the runtime's sources from ${archive}")
    file(REMOVE_RECURSE "${unpacked}")
    file(MAKE_DIRECTORY "${unpacked}")
    execute_process(
        COMMAND tar -xJf "${archive}" --wildcards
                "*/libgcc/*" "*/libstdc++-v3/libsupc++/*" "*/libstdc++-v3/src/c++11/*"
                "*/libstdc++-v3/src/shared/*"
                "*/gcc/tsystem.h" "*/gcc/coretypes.h" "*/include/*"
        WORKING_DIRECTORY "${unpacked}"
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0 OR NOT EXISTS "${KT_GCC_SOURCE}/libgcc/unwind-dw2.c")
        message(FATAL_ERROR "Could not unpack the runtime's sources from ${archive}")
    endif()
    file(WRITE "${unpacked}/done" "${archive}\n")
endif()

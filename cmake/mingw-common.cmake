# Shared part of the mingw-w64 toolchain files; KT_MINGW_TRIPLET is set by the caller.
# KT_MINGW_THREADS picks the compilers' thread model: posix (the default) for the tests, whose
# GoogleTest and helpers need std::thread and std::mutex; win32 for the deliverables, whose runtime
# must not bring libwinpthread and the later Windows functions it imports.
if(NOT KT_MINGW_THREADS)
    set(KT_MINGW_THREADS posix)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KT_MINGW_THREADS)
set(CMAKE_C_COMPILER   ${KT_MINGW_TRIPLET}-gcc-${KT_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${KT_MINGW_TRIPLET}-g++-${KT_MINGW_THREADS})
set(CMAKE_RC_COMPILER  ${KT_MINGW_TRIPLET}-windres)
set(KT_WINDMC          ${KT_MINGW_TRIPLET}-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/${KT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The test build's view of the deliverables: the deliverables build of the same tree, with the
# win32-thread-model compilers, runs as a step of this build (every time; it is quick when nothing
# changed), and its four files are imported under the deliverables' target names, so that tests,
# the package and the benchmark name them as $<TARGET_FILE:ktcfg> and depend on them.
include(ExternalProject)

# The product's static libraries, compiled once per architecture there too: the test build links
# those very objects (kt_product_library), so what the tests run is what ships.
set(KT_DELIVERABLES_BUILD "${CMAKE_BINARY_DIR}/deliverables")
set(KT_PRODUCT_LIBRARIES config/ktcfg_data config/ktcfg_ui portui/portui_logic portui/portui_pages
                         installer/installer_core common/regrights/regrights common/runtime/kt_format)
set(KT_DELIVERABLE_FILES ktcfg.cpl KTS2KUI.dll install.exe ktpptnt.sys)
list(TRANSFORM KT_DELIVERABLE_FILES PREPEND "${KT_DELIVERABLE_DIR}/" OUTPUT_VARIABLE byproducts)
foreach(library IN LISTS KT_PRODUCT_LIBRARIES)
    get_filename_component(folder ${library} DIRECTORY)
    get_filename_component(name ${library} NAME)
    list(APPEND byproducts "${KT_DELIVERABLES_BUILD}/${folder}/lib${name}.a")
endforeach()
ExternalProject_Add(deliverables
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${KT_DELIVERABLES_BUILD}"
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
        -DKT_MINGW_THREADS=win32
        -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
        -DKT_BUILD_TESTS=OFF
        -DKT_COVERAGE=${KT_COVERAGE}
        -DKT_DELIVERABLE_DIR=${KT_DELIVERABLE_DIR}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${byproducts})

function(kt_import_deliverable target kind file)
    if(kind STREQUAL EXECUTABLE)
        add_executable(${target} IMPORTED GLOBAL)
    else()
        add_library(${target} SHARED IMPORTED GLOBAL)
    endif()
    set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${KT_DELIVERABLE_DIR}/${file}")
    add_dependencies(${target} deliverables)
endfunction()

kt_import_deliverable(ktcfg SHARED ktcfg.cpl)
kt_import_deliverable(kts2kui SHARED KTS2KUI.dll)
kt_import_deliverable(installer EXECUTABLE install.exe)
kt_import_deliverable(ktpptnt SHARED ktpptnt.sys)

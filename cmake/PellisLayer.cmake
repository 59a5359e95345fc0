# pellis_core(FOLDERS ... DEPS ...): the program's library, pellis_core. Sources are
# globbed so that adding a file needs no edit here.
function(pellis_core)
    cmake_parse_arguments(ARG "" "" "FOLDERS;DEPS" ${ARGN})
    set(sources)
    foreach(dir IN LISTS ARG_FOLDERS)
        file(GLOB_RECURSE found CONFIGURE_DEPENDS
            "${CMAKE_SOURCE_DIR}/${dir}/*.cpp" "${CMAKE_SOURCE_DIR}/${dir}/*.h")
        list(APPEND sources ${found})
    endforeach()
    add_library(pellis_core STATIC ${sources})
    target_include_directories(pellis_core PUBLIC "${CMAKE_SOURCE_DIR}/src")
    target_link_libraries(pellis_core PUBLIC ${ARG_DEPS})
    target_precompile_headers(pellis_core PRIVATE "${CMAKE_SOURCE_DIR}/src/pch.h")
endfunction()

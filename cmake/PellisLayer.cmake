# pellis_layer(NAME FOLDERS ... [FILES ...] [EXCLUDE ...] DEPS ...): one static library of
# the program's layers. Sources are globbed from FOLDERS (and taken from FILES) so that
# adding a file needs no edit here; EXCLUDE names files (relative to src/) that belong to
# another library. DEPS are the libraries below it: a call to a layer above fails the link.
function(pellis_layer name)
    cmake_parse_arguments(ARG "" "" "FOLDERS;FILES;EXCLUDE;DEPS" ${ARGN})
    set(sources)
    foreach(dir IN LISTS ARG_FOLDERS)
        file(GLOB_RECURSE found CONFIGURE_DEPENDS
            "${CMAKE_SOURCE_DIR}/${dir}/*.cpp" "${CMAKE_SOURCE_DIR}/${dir}/*.h")
        list(APPEND sources ${found})
    endforeach()
    foreach(file IN LISTS ARG_FILES)
        list(APPEND sources "${CMAKE_SOURCE_DIR}/src/${file}")
    endforeach()
    foreach(file IN LISTS ARG_EXCLUDE)
        list(REMOVE_ITEM sources "${CMAKE_SOURCE_DIR}/src/${file}")
    endforeach()
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}/src")
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    target_precompile_headers(${name} PRIVATE "${CMAKE_SOURCE_DIR}/src/pch.h")
endfunction()

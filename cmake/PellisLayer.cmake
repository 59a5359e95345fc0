# pellis_layer(name dir DEPS ...): one static library per source folder. Sources are
# globbed so that adding a file needs no edit here; an empty folder becomes an
# interface library that only forwards its dependencies.
function(pellis_layer name dir)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS
        "${CMAKE_SOURCE_DIR}/${dir}/*.cpp" "${CMAKE_SOURCE_DIR}/${dir}/*.h")
    set(target pellis_${name})
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    if(sources)
        file(GLOB_RECURSE headers CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/${dir}/*.h")
        add_library(${target} STATIC ${sources} ${headers})
        target_include_directories(${target} PUBLIC "${CMAKE_SOURCE_DIR}/src")
        target_link_libraries(${target} PUBLIC ${ARG_DEPS})
        target_precompile_headers(${target} PRIVATE "${CMAKE_SOURCE_DIR}/src/pch.h")
    else()
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE "${CMAKE_SOURCE_DIR}/src")
        target_link_libraries(${target} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

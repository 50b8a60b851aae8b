# What every target of the project shares: its warnings and the include folders that keep
# the layers apart.

# The warnings of our own code only: third-party code built here (GoogleTest for Windows)
# keeps its own flags, and so does the resource compiler.
add_library(kelvane_warnings INTERFACE)
target_compile_options(kelvane_warnings INTERFACE
                       "$<$<COMPILE_LANGUAGE:C,CXX>:-Wall;-Wextra;-Wpedantic>")

# Headers are included by their folder from the top ("placement/Placement.h"). Each folder
# gets an include root of its own in the build tree holding one link, named like the folder,
# to that folder; a target's include path holds the roots of its own folder and, through
# the links, of the libraries it uses. An include of a layer the target does not link then
# fails to compile instead of working by accident.
function(kelvane_folder_root folder out)
    string(REPLACE "/" "_" key ${folder})
    set(root ${PROJECT_BINARY_DIR}/include/${key})
    set(link ${root}/${folder})
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    # Made at every configure: a link already there is replaced, so a moved source tree
    # is followed.
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
    set(${out} ${root} PARENT_SCOPE)
endfunction()

# kelvane_target(<target> [SEES <folder>...]): the warnings, and the include root of the
# folder whose CMakeLists.txt defines the target, for the target itself and (a library) for
# whatever links it. SEES adds the roots of further folders for the target alone: test
# programs that share a helper source with another test folder.
function(kelvane_target target)
    cmake_parse_arguments(arg "" "" "SEES" ${ARGN})
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        set(scope INTERFACE)
    else()
        target_link_libraries(${target} PRIVATE kelvane_warnings)
        if(type STREQUAL "EXECUTABLE")
            set(scope PRIVATE)
        else()
            set(scope PUBLIC)
        endif()
    endif()
    kelvane_folder_root(${folder} root)
    target_include_directories(${target} ${scope} ${root})
    foreach(seen IN LISTS arg_SEES)
        kelvane_folder_root(${seen} root)
        target_include_directories(${target} PRIVATE ${root})
    endforeach()
endfunction()

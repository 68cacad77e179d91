# kv_add_sanitizer_suppressions(<target>)
# The sanitizer builds' suppressions of what outside libraries keep for the life of the process, compiled
# into a test program.
function(kv_add_sanitizer_suppressions name)
    if(KV_SANITIZE MATCHES "address")
        target_sources(${name} PRIVATE "${PROJECT_SOURCE_DIR}/testing/LeakSuppressions.cpp")
    endif()
    if(KV_SANITIZE MATCHES "thread")
        target_sources(${name} PRIVATE "${PROJECT_SOURCE_DIR}/testing/ThreadSuppressions.cpp")
    endif()
endfunction()

# kv_add_test(<name> LABELS <labels...> SOURCES <files...> [LIBS <targets...>])
# One GoogleTest executable per folder; every TEST becomes one CTest test carrying the labels.
# Suites labelled "threaded" are also collected in the target threaded_tests (see the top level).
function(kv_add_test name)
    cmake_parse_arguments(ARG "" "" "LABELS;SOURCES;LIBS" ${ARGN})
    if(NOT KV_BUILD_TESTS)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    kv_add_sanitizer_suppressions(${name})
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT 120)
    # Labels are set after discovery: passed through the discovery's property list, several labels
    # would be flattened into separate properties and only the first would stick.
    set(label_script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${label_script}"
        "if(DEFINED ${name}_TESTS)\n"
        "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\n"
        "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${label_script}")
    if("threaded" IN_LIST ARG_LABELS)
        set_property(GLOBAL APPEND PROPERTY KV_THREADED_TESTS ${name})
    endif()
endfunction()
include(GoogleTest)

# kv_add_resources(<target> <manifest>)
# Compiles the manifest (its lines are described in platform/win/WinResources.h) into the target's resource
# table. A program's table is exported to the dynamic symbol table, where the loader looks for it.
function(kv_add_resources target manifest)
    get_filename_component(manifest_path "${manifest}" ABSOLUTE)
    set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp")
    add_custom_command(OUTPUT "${output}"
        COMMAND kv_rescomp "${manifest_path}" "${output}" "${output}.d"
        DEPENDS kv_rescomp "${manifest_path}"
        DEPFILE "${output}.d"
        COMMENT "Compiling the resources of ${target}"
        VERBATIM)
    target_sources(${target} PRIVATE "${output}")
    target_link_libraries(${target} PRIVATE kvwin)
    get_target_property(target_type ${target} TYPE)
    if(target_type STREQUAL "EXECUTABLE")
        target_link_options(${target} PRIVATE "LINKER:--export-dynamic-symbol=KvwResources")
    endif()
endfunction()

# kv_refuse_undefined(<target>)
# A library loaded at run time is linked with --no-undefined, so that a reference nothing provides fails the
# build instead of the load. Clang links its sanitizer and fuzzer runtimes into programs only, leaving a
# shared object's references to them for the program that loads it: its sanitizer and fuzzing builds go
# without the check, which every other build keeps.
function(kv_refuse_undefined target)
    if(NOT (CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND (KV_SANITIZE OR KV_BUILD_FUZZ)))
        target_link_options(${target} PRIVATE "LINKER:--no-undefined")
    endif()
endfunction()

set(KV_MODULE_VERSION_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/KvModule.map")
set(KV_RENDERER_VERSION_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/KvRenderer.map")

# kv_add_module(<name> SUFFIX <.qw7|.md7|.so> [SOURCES <files...>] [LIBS <targets...>] [RESOURCES <manifest>]
#               [NO_FRAMEWORK] [VERSION_SCRIPT <file>])
# A library that the host (or a module) loads at run time: a host module (.qw7, .md7) or a language library
# (.so, usually resources only, with NO_FRAMEWORK). Symbols are hidden and only the module entry points and
# the resource table are exported; references inside the module bind to the module itself (-Bsymbolic), and
# the plug-in framework is linked in statically, so every module keeps its own copy of the framework and of
# its process-wide objects, however many modules are loaded. A library with other entry points (a renderer
# library: KV_RENDERER_VERSION_SCRIPT) names the version script that exports them.
function(kv_add_module name)
    cmake_parse_arguments(ARG "NO_FRAMEWORK" "SUFFIX;RESOURCES;VERSION_SCRIPT" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_SUFFIX)
        message(FATAL_ERROR "kv_add_module(${name}): SUFFIX is required")
    endif()
    if(NOT ARG_VERSION_SCRIPT)
        set(ARG_VERSION_SCRIPT "${KV_MODULE_VERSION_SCRIPT}")
    endif()
    add_library(${name} MODULE ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES
        PREFIX ""
        SUFFIX "${ARG_SUFFIX}"
        C_VISIBILITY_PRESET hidden
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        LINK_DEPENDS "${ARG_VERSION_SCRIPT}")
    target_link_options(${name} PRIVATE
        "LINKER:--version-script=${ARG_VERSION_SCRIPT}"
        "LINKER:-Bsymbolic")
    kv_refuse_undefined(${name})
    if(NOT ARG_NO_FRAMEWORK)
        target_link_libraries(${name} PRIVATE plugin_framework)
    endif()
    target_link_libraries(${name} PRIVATE kvwin ${ARG_LIBS})
    if(ARG_RESOURCES)
        kv_add_resources(${name} "${ARG_RESOURCES}")
    endif()
endfunction()

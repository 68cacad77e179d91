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

# kv_add_test(<name> LABELS <labels...> SOURCES <files...> [LIBS <targets...>])
# One GoogleTest executable per folder; every TEST becomes one CTest test carrying the labels.
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
    # Discovered tests take their properties through a script that splits list values, so a second
    # label would be lost there; the folder's labels reach its tests as a directory property instead.
    set_property(DIRECTORY APPEND PROPERTY LABELS ${ARG_LABELS})
endfunction()
include(GoogleTest)

# Checks that no lower floor of the tree includes an upper one: the stand-ins under platform/ know nothing
# of the system above them, the filter library and the plug-in framework nothing of the raw library or the
# modules, and the raw library's foundation and filters nothing of its pipeline. Tests are not floors.
#   cmake -DKV_SOURCE_DIR=<tree> -P KvLayerCheck.cmake
set(upper_of_platform "filters/|rawlib/|plugin_framework/|print_plugin/|mail_plugin/|design_module/|album_uploader/|startup_launcher/|tools/")
set(upper_of_libraries "rawlib/|print_plugin/|mail_plugin/|design_module/|album_uploader/|startup_launcher/|tools/")
# folder, then the include paths it may not name
set(rules
    "platform" "${upper_of_platform}"
    "filters" "${upper_of_libraries}|plugin_framework/"
    "plugin_framework" "${upper_of_libraries}|filters/"
    "rawlib/foundation" "rawlib/filters/|rawlib/settings/|rawlib/pipeline/|plugin_framework/|tools/"
    "rawlib/filters" "rawlib/pipeline/|plugin_framework/|tools/")
set(found "")
list(LENGTH rules count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET rules ${i} folder)
    list(GET rules ${j} forbidden)
    file(GLOB_RECURSE files "${KV_SOURCE_DIR}/${folder}/*.h" "${KV_SOURCE_DIR}/${folder}/*.cpp")
    foreach(file ${files})
        if(file MATCHES "/tests/")
            continue()
        endif()
        file(STRINGS "${file}" includes REGEX "^#include \"(${forbidden})")
        foreach(line ${includes})
            file(RELATIVE_PATH where "${KV_SOURCE_DIR}" "${file}")
            string(APPEND found "  ${where}: ${line}\n")
        endforeach()
    endforeach()
endforeach()
if(found)
    message(FATAL_ERROR "A lower floor includes an upper one:\n${found}")
endif()
message(STATUS "No lower floor includes an upper one")

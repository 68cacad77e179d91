# What `cmake --install <build> [--prefix PREFIX]` puts where (GNUInstallDirs), and the CMake package and
# pkg-config files by which other programs find the filter library and the raw library. Included at the end
# of the top-level CMakeLists.txt, once every target exists. Tests, benchmarks and fuzzers are never
# installed: nothing below names them.
#
#   bin/                        demo-host, make-sample, module-demo, Startwick; the page renderers
#                               RGBRenderer.so and StateRenderer.so (modules look for them beside the host)
#   lib/                        libFiltrum3.so.1, libRawmill3.so.1 and the stand-in libraries they and the
#                               programs need; VERuzOraz.so and DRAGKVL1.so beside the raw library, MAPI32.so
#                               beside the Windows layer, quasel-raw-decoder beside libQuasel6,
#                               libAlbumlift.so
#   lib/Korvel/modules/         KvtMail.qw7, KvtPrint.qw7, KvwDesign.md7 with their language libraries,
#                               configuration files and the design templates
#   lib/cmake/Korvel/           find_package(Korvel CONFIG): Korvel::Filtrum3, Korvel::Rawmill3, ...
#   lib/pkgconfig/              filtrum3.pc, rawmill3.pc
#   include/Korvel/             the exported interfaces' headers and every header of ours they include
#   share/Korvel/Common Files/  the data a fresh machine folder is given (platform/win/WinSystemRoot.h):
#                               Korvel/Profiles (standard and camera base profiles, lens file),
#                               Korvel/Uploader (the uploader's language library) and Korvel/Plug-ins (the
#                               example filter plug-ins KvInvert.so and KvBlur.so)
#   share/Korvel/autostart/     Startwick.desktop, the desktop entry that runs the installed Startwick with
#                               "/Startup", for an installer to place in a user's autostart folder
#
# Every installed binary finds our libraries through a $ORIGIN-relative run path, so an installed tree runs
# from wherever it is copied, without LD_LIBRARY_PATH.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KV_VERSION 1.0.0)
set(KV_SOVERSION 1)
set(KV_MODULE_DESTINATION "${CMAKE_INSTALL_LIBDIR}/Korvel/modules")
set(KV_COMMON_FILES_DESTINATION "${CMAKE_INSTALL_DATADIR}/Korvel/Common Files")
set(KV_PACKAGE_DESTINATION "${CMAKE_INSTALL_LIBDIR}/cmake/Korvel")

# kv_relative_path(<var> <from> <to>): the path from one install folder to another (both under the prefix),
# which stays right whatever prefix the tree is installed or copied to.
function(kv_relative_path var from to)
    file(RELATIVE_PATH path "/kv-prefix/${from}" "/kv-prefix/${to}")
    string(REGEX REPLACE "/$" "" path "${path}")
    if(path STREQUAL "")
        set(path ".")
    endif()
    set(${var} "${path}" PARENT_SCOPE)
endfunction()

# kv_install_binary(<target> <destination> [<subfolder>]): installs a target with a run path to lib/.
function(kv_install_binary target destination)
    kv_relative_path(to_lib "${destination}" "${CMAKE_INSTALL_LIBDIR}")
    if(to_lib STREQUAL ".")
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    else()
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${to_lib}")
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION "${destination}" LIBRARY DESTINATION "${destination}")
endfunction()

# kv_shared_dependencies(<var> <targets...>): the project's shared libraries that the targets load, through
# every static library and shared library in between.
function(kv_shared_dependencies var)
    set(pending ${ARGN})
    set(seen)
    set(shared)
    while(pending)
        list(POP_FRONT pending target)
        if(target IN_LIST seen OR NOT TARGET ${target})
            continue()
        endif()
        list(APPEND seen ${target})
        get_target_property(imported ${target} IMPORTED)
        if(imported)
            continue()
        endif()
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "SHARED_LIBRARY")
            list(APPEND shared ${target})
        endif()
        foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
            if(type STREQUAL "INTERFACE_LIBRARY" AND property STREQUAL "LINK_LIBRARIES")
                continue()
            endif()
            get_target_property(links ${target} ${property})
            foreach(link IN LISTS links)
                string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
                if(NOT link MATCHES "^\\$<" AND TARGET ${link})
                    list(APPEND pending ${link})
                endif()
            endforeach()
        endforeach()
    endwhile()
    set(${var} ${shared} PARENT_SCOPE)
endfunction()

# The programs, the host modules and the libraries loaded at run time, each in the folder where it is
# looked for.
set(kv_programs demo-host make-sample module-demo Startwick)
set(kv_modules KvtMail KvtEmailLang KvtPrint KvtPrintLang KvwDesign)
set(kv_loaded_by_raw_library veruzoraz dragkvl1)
foreach(target ${kv_programs})
    kv_install_binary(${target} "${CMAKE_INSTALL_BINDIR}")
endforeach()
foreach(target RGBRenderer StateRenderer)
    kv_install_binary(${target} "${CMAKE_INSTALL_BINDIR}")
endforeach()
foreach(target ${kv_modules})
    kv_install_binary(${target} "${KV_MODULE_DESTINATION}")
endforeach()
kv_install_binary(KvtDesignLang "${KV_MODULE_DESTINATION}/Module")
foreach(target ${kv_loaded_by_raw_library} MAPI32 albumlift)
    kv_install_binary(${target} "${CMAKE_INSTALL_LIBDIR}")
endforeach()
# The camera raw loader starts its decoder from libQuasel6's own folder.
if(TARGET quasel-raw-decoder)
    kv_install_binary(quasel-raw-decoder "${CMAKE_INSTALL_LIBDIR}")
endif()
# The uploader loads its language library from the machine's common files.
kv_install_binary(KvtAlbumliftLang "${KV_COMMON_FILES_DESTINATION}/Korvel/Uploader")
# The raw library's table of installed filter plug-ins is read from the machine's common files: the two
# example plug-ins (self-contained libraries, nothing of ours to find) go there.
install(TARGETS KvInvert KvBlur LIBRARY DESTINATION "${KV_COMMON_FILES_DESTINATION}/Korvel/Plug-ins")
# Startwick's desktop entry names the program by its absolute installed path, so it is written when the
# tree is installed, for the prefix it is installed under. It is not placed in /etc/xdg/autostart: the
# launcher removes its entries after its one run, which a user cannot do there, so an installer puts it in
# the autostart folder of the user who is to run it.
install(CODE "include(\"${PROJECT_SOURCE_DIR}/cmake/KvDesktopEntry.cmake\")
set(kv_entry \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/Korvel/autostart/Startwick.desktop\")
message(STATUS \"Installing: \${kv_entry}\")
kv_write_startwick_entry(\"\${kv_entry}\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/Startwick\")")
install(FILES "${CMAKE_BINARY_DIR}/mail_plugin/MailPluginCfg.xml"
              "${CMAKE_BINARY_DIR}/print_plugin/PrintPluginCfg.xml"
              "${CMAKE_BINARY_DIR}/design_module/DesignModuleCfg.xml"
        DESTINATION "${KV_MODULE_DESTINATION}")
install(DIRECTORY "${CMAKE_BINARY_DIR}/design_module/templates" DESTINATION "${KV_MODULE_DESTINATION}")

# An installed module-demo runs the installed modules where they are.
kv_relative_path(kv_bin_to_modules "${CMAKE_INSTALL_BINDIR}" "${KV_MODULE_DESTINATION}")
set_property(SOURCE "${PROJECT_SOURCE_DIR}/tools/module_demo.cpp" TARGET_DIRECTORY module-demo
             APPEND PROPERTY COMPILE_DEFINITIONS "KV_INSTALLED_MODULES=\"${kv_bin_to_modules}\"")
# An installed Windows layer gives a fresh machine the installed data files.
kv_relative_path(kv_lib_to_common_files "${CMAKE_INSTALL_LIBDIR}" "${KV_COMMON_FILES_DESTINATION}")
set_property(SOURCE "${PROJECT_SOURCE_DIR}/platform/win/WinSystemRoot.cpp" TARGET_DIRECTORY kvwin
             APPEND PROPERTY COMPILE_DEFINITIONS "KV_INSTALLED_COMMON_FILES=\"${kv_lib_to_common_files}\"")

# The two libraries other programs link against, and the libraries in their link interface, exported as
# Korvel::<file name>. Each gets a versioned SONAME, except the Windows layer: modules and tests find it by
# its file name (GetModuleHandle("libKvWin.so")), as Windows finds a DLL, so its name stays as it is.
kv_shared_dependencies(kv_exported filtrum rawmill)
foreach(target ${kv_exported})
    get_target_property(name ${target} OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
    if(NOT target STREQUAL "kvwin")
        set_target_properties(${target} PROPERTIES VERSION ${KV_VERSION} SOVERSION ${KV_SOVERSION})
    endif()
    # The headers are found in the source tree while building, in include/Korvel once installed.
    get_target_property(includes ${target} INTERFACE_INCLUDE_DIRECTORIES)
    set(interface)
    foreach(folder IN LISTS includes)
        cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${folder}" in_source)
        cmake_path(IS_PREFIX PROJECT_BINARY_DIR "${folder}" in_build)
        if(in_source OR in_build)
            set(folder "$<BUILD_INTERFACE:${folder}>")
        endif()
        list(APPEND interface "${folder}")
    endforeach()
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${interface}")
    target_compile_features(${target} INTERFACE cxx_std_20)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
endforeach()
install(TARGETS ${kv_exported} EXPORT KorvelTargets
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/Korvel")
install(EXPORT KorvelTargets NAMESPACE Korvel:: DESTINATION "${KV_PACKAGE_DESTINATION}")

# Every other library of ours that an installed binary loads.
kv_shared_dependencies(kv_needed ${kv_programs} ${kv_modules} KvtDesignLang RGBRenderer StateRenderer
                       ${kv_loaded_by_raw_library} MAPI32 albumlift KvtAlbumliftLang quasel-raw-decoder)
list(REMOVE_ITEM kv_needed ${kv_exported} ${kv_loaded_by_raw_library} albumlift)
foreach(target ${kv_needed})
    kv_install_binary(${target} "${CMAKE_INSTALL_LIBDIR}")
endforeach()

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/KorvelConfig.cmake.in"
    "${CMAKE_BINARY_DIR}/KorvelConfig.cmake" INSTALL_DESTINATION "${KV_PACKAGE_DESTINATION}")
write_basic_package_version_file("${CMAKE_BINARY_DIR}/KorvelConfigVersion.cmake"
    VERSION ${KV_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/KorvelConfig.cmake" "${CMAKE_BINARY_DIR}/KorvelConfigVersion.cmake"
        DESTINATION "${KV_PACKAGE_DESTINATION}")

# pkg-config: filtrum3 and rawmill3 (which requires filtrum3), each listing its own libraries; the prefix is
# found from the file's own folder, so the tree may be installed under any prefix.
kv_relative_path(kv_pc_to_prefix "${CMAKE_INSTALL_LIBDIR}/pkgconfig" ".")
kv_shared_dependencies(kv_filtrum_libraries filtrum)
set(kv_rawmill_libraries ${kv_exported})
list(REMOVE_ITEM kv_rawmill_libraries ${kv_filtrum_libraries})
foreach(library filtrum rawmill)
    set(KV_PC_LIBS "")
    foreach(target ${kv_${library}_libraries})
        get_target_property(name ${target} OUTPUT_NAME)
        string(APPEND KV_PC_LIBS " -l${name}")
    endforeach()
    set(KV_PC_PREFIX "\${pcfiledir}/${kv_pc_to_prefix}")
    get_target_property(KV_PC_NAME ${library} OUTPUT_NAME)
    if(library STREQUAL "rawmill")
        set(KV_PC_DESCRIPTION "Raw camera image development over Filtrum3 (C++20)")
        set(KV_PC_REQUIRES "filtrum3 = ${KV_VERSION}")
    else()
        set(KV_PC_DESCRIPTION "Demand-driven tiled image filters (C++20)")
        set(KV_PC_REQUIRES "")
    endif()
    configure_file("${CMAKE_CURRENT_LIST_DIR}/KvLibrary.pc.in" "${CMAKE_BINARY_DIR}/pkgconfig/${library}3.pc"
                   @ONLY)
    install(FILES "${CMAKE_BINARY_DIR}/pkgconfig/${library}3.pc"
            DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endforeach()

# The exported interfaces' headers with every header of ours they include (cmake/KvInstallHeaders.cmake
# follows the includes when installing, so the set follows the headers as they change).
install(CODE "set(KV_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
set(KV_HEADER_DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}/Korvel\")
include(\"${CMAKE_CURRENT_LIST_DIR}/KvInstallHeaders.cmake\")")

# The data files, made by our own tools as the build makes them for its own machine folder, here into a
# machine folder of the install's: the standard profiles, the camera base profiles and the lens file.
set(kv_data_machine "${CMAKE_BINARY_DIR}/install-data/machine")
set(kv_data_stamp "${CMAKE_BINARY_DIR}/install-data/made")
set(kv_in_data_machine ${CMAKE_COMMAND} -E env "KV_SYSTEM_ROOT=${kv_data_machine}")
add_custom_command(OUTPUT "${kv_data_stamp}"
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${kv_data_machine}"
    COMMAND ${kv_in_data_machine} $<TARGET_FILE:make-profiles> --install
    COMMAND ${kv_in_data_machine} $<TARGET_FILE:make-camera-base> --install
    COMMAND ${kv_in_data_machine} $<TARGET_FILE:make-lens> --install
    COMMAND ${CMAKE_COMMAND} -E touch "${kv_data_stamp}"
    DEPENDS make-profiles make-camera-base make-lens
    COMMENT "Making the data files to install"
    VERBATIM)
add_custom_target(install-data ALL DEPENDS "${kv_data_stamp}")
install(DIRECTORY "${kv_data_machine}/Common Files/Korvel/Profiles"
        DESTINATION "${KV_COMMON_FILES_DESTINATION}/Korvel")

if(KV_BUILD_TESTS)
    include("${CMAKE_CURRENT_LIST_DIR}/tests/KvInstallTest.cmake")
endif()

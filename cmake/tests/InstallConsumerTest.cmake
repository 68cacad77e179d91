# Run by ctest (KvInstallTest.cmake). In a fresh work folder:
#  1. installs the build into a temporary prefix; nothing of the tests, benchmarks or fuzzers is installed,
#     every run path of an installed binary is $ORIGIN-relative, never into the build tree, and the
#     installed headers compile with nothing but themselves;
#  2. develops a synthetic sample (made by the installed make-sample) with the build tree's demo-host, over a
#     machine folder the build tree's own tools filled: the reference;
#  3. develops it with the installed demo-host, and with a program built against the installed tree with
#     CMake (find_package) and with pkg-config, each under a fresh home folder and no KV_SYSTEM_ROOT, so the
#     data comes from the installed tree alone; and runs the installed mail and design modules;
#  4. compares each development's pixels with the reference: they must be equal, since every one runs the
#     same library code on the same sample with the same profiles.
cmake_minimum_required(VERSION 3.25)

set(work "${KV_WORK}")
set(prefix "${work}/prefix")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")

# kv_run(<what> <command...>): runs the command and stops the test with its output when it fails.
function(kv_run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${what} failed (${result}):\n${out}\n${err}")
    endif()
    message(STATUS "${what}: ok")
endfunction()

# An environment that knows nothing of the build tree or of the user's machine folder.
function(kv_installed_env var home)
    file(MAKE_DIRECTORY "${home}")
    set(${var} ${CMAKE_COMMAND} -E env --unset=KV_SYSTEM_ROOT --unset=LD_LIBRARY_PATH "HOME=${home}"
        PARENT_SCOPE)
endfunction()

kv_run("install" ${CMAKE_COMMAND} --install "${KV_BUILD_DIR}" --prefix "${prefix}")

file(GLOB_RECURSE installed RELATIVE "${prefix}" "${prefix}/*")
foreach(file IN LISTS installed)
    string(TOLOWER "${file}" lower)
    if(lower MATCHES "test|bench|fuzz")
        message(FATAL_ERROR "installed, though only for testing: ${file}")
    endif()
endforeach()
set(wanted "${KV_BINDIR}/demo-host" "${KV_BINDIR}/module-demo" "${KV_BINDIR}/make-sample"
        "${KV_BINDIR}/Startwick" "${KV_BINDIR}/RGBRenderer.so" "${KV_LIBDIR}/libRawmill3.so.1"
        "${KV_LIBDIR}/libFiltrum3.so" "${KV_LIBDIR}/VERuzOraz.so" "${KV_LIBDIR}/DRAGKVL1.so"
        "${KV_LIBDIR}/MAPI32.so" "${KV_LIBDIR}/libAlbumlift.so" "${KV_LIBDIR}/Korvel/modules/KvtPrint.qw7"
        "${KV_LIBDIR}/Korvel/modules/Module/KvtDesignLang.so" "${KV_LIBDIR}/pkgconfig/rawmill3.pc"
        "${KV_LIBDIR}/cmake/Korvel/KorvelConfigVersion.cmake"
        "include/Korvel/rawlib/pipeline/IKvnFilterChain.h"
        "share/Korvel/Common Files/Korvel/Profiles/KVsRGB.icm"
        "share/Korvel/Common Files/Korvel/Uploader/KvtAlbumliftLang.so"
        "share/Korvel/Common Files/Korvel/Plug-ins/KvInvert.so"
        "share/Korvel/Common Files/Korvel/Plug-ins/KvBlur.so"
        "share/Korvel/autostart/Startwick.desktop")
# The camera raw loader starts its decoder from libQuasel6's folder.
if(KV_RAW_DECODER)
    list(APPEND wanted "${KV_LIBDIR}/${KV_RAW_DECODER}")
endif()
foreach(file IN LISTS wanted)
    if(NOT EXISTS "${prefix}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# The launcher's desktop entry runs the installed program with its switch.
file(STRINGS "${prefix}/share/Korvel/autostart/Startwick.desktop" exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=\"${prefix}/${KV_BINDIR}/Startwick\" /Startup")
    message(FATAL_ERROR "the installed desktop entry runs ${exec}")
endif()

# Run paths: readelf lists each binary's; ours must all start at $ORIGIN.
foreach(file IN LISTS installed)
    if(NOT file MATCHES "\\.(so[.0-9]*|qw7|md7)$" AND NOT file MATCHES "^${KV_BINDIR}/[^.]+$")
        continue()
    endif()
    execute_process(COMMAND readelf -d "${prefix}/${file}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE result)
    string(REGEX MATCHALL "R(UN)?PATH\\)[^\n]*\\[([^]\n]*)\\]" paths "${dynamic}")
    foreach(path IN LISTS paths)
        string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" path "${path}")
        string(REPLACE ":" ";" path "${path}")
        foreach(entry IN LISTS path)
            if(NOT entry MATCHES "^\\$ORIGIN")
                message(FATAL_ERROR "${file} has the run path ${entry}")
            endif()
        endforeach()
    endforeach()
endforeach()

# Every installed header compiles with the installed headers alone.
file(GLOB_RECURSE headers RELATIVE "${prefix}/include/Korvel" "${prefix}/include/Korvel/*.h")
list(TRANSFORM headers REPLACE "(.+)" "#include \"\\1\"\n")
file(WRITE "${work}/all-headers.cpp" ${headers})
kv_run("installed headers compile" "${KV_CXX_COMPILER}" -std=c++20 -fsyntax-only "-I${prefix}/include/Korvel"
       "${work}/all-headers.cpp")

# The reference: the build tree's development over the build tree's own data files.
set(sample "${work}/sample.kvraw")
kv_installed_env(installed_env "${work}/home-make-sample")
kv_run("installed make-sample" ${installed_env} "${prefix}/${KV_BINDIR}/make-sample" --width 320 --height 240
       --settings "${sample}")
set(build_env ${CMAKE_COMMAND} -E env "KV_SYSTEM_ROOT=${work}/build-machine")
kv_run("build-tree make-profiles" ${build_env} "${KV_MAKE_PROFILES}" --install)
kv_run("build-tree make-camera-base" ${build_env} "${KV_MAKE_CAMERA_BASE}" --install)
kv_run("build-tree make-lens" ${build_env} "${KV_MAKE_LENS}" --install)
kv_run("build-tree demo-host" ${build_env} "${KV_DEMO_HOST}" "${sample}" "${work}/reference.png")

kv_installed_env(installed_env "${work}/home-demo-host")
kv_run("installed demo-host" ${installed_env} "${prefix}/${KV_BINDIR}/demo-host" "${sample}"
       "${work}/installed-demo-host.png")

# The consumer built with CMake, as its users build it.
kv_run("consumer configured with CMake"
       ${CMAKE_COMMAND} -S "${KV_CONSUMER_SOURCE}" -B "${work}/consumer-cmake"
       -G "${KV_GENERATOR}" "-DCMAKE_CXX_COMPILER=${KV_CXX_COMPILER}" "-DCMAKE_BUILD_TYPE=${KV_BUILD_TYPE}"
       "-DCMAKE_PREFIX_PATH=${prefix}" "-DKV_SANITIZE=${KV_SANITIZE}")
kv_run("consumer built with CMake" ${CMAKE_COMMAND} --build "${work}/consumer-cmake")
kv_installed_env(installed_env "${work}/home-cmake")
kv_run("consumer (CMake) develops" ${installed_env} "${work}/consumer-cmake/develop" "${sample}"
       "${work}/consumer-cmake.png")

# The consumer built with the compiler and pkg-config's flags alone.
set(pc_env ${CMAKE_COMMAND} -E env "PKG_CONFIG_PATH=${prefix}/${KV_LIBDIR}/pkgconfig")
execute_process(COMMAND ${pc_env} "${KV_PKG_CONFIG}" --cflags --libs rawmill3 libpng OUTPUT_VARIABLE flags
                RESULT_VARIABLE result OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${pc_env} "${KV_PKG_CONFIG}" --variable=libdir rawmill3 OUTPUT_VARIABLE libdir
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0 OR NOT IS_DIRECTORY "${libdir}")
    message(FATAL_ERROR "pkg-config does not know rawmill3: ${flags}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
set(sanitize)
if(KV_SANITIZE)
    set(sanitize "-fsanitize=${KV_SANITIZE}")
endif()
kv_run("consumer built with pkg-config" "${KV_CXX_COMPILER}" -std=c++20 ${sanitize}
       "${KV_CONSUMER_SOURCE}/develop.cpp" ${flags} "-Wl,-rpath,${libdir}" -o "${work}/consumer-pc")
kv_installed_env(installed_env "${work}/home-pc")
kv_run("consumer (pkg-config) develops" ${installed_env} "${work}/consumer-pc" "${sample}"
       "${work}/consumer-pc.png")

foreach(developed installed-demo-host consumer-cmake consumer-pc)
    kv_run("${developed}.png equals the build tree's development" "${KV_PNG_COMPARE}" "${work}/reference.png"
           "${work}/${developed}.png")
endforeach()

# The host modules from the installed tree: their language libraries, configuration files, the page
# renderers and simple MAPI are found where they were installed.
kv_installed_env(installed_env "${work}/home-modules")
foreach(module mail design)
    kv_run("installed ${module} module" ${installed_env} "${prefix}/${KV_BINDIR}/module-demo" ${module}
           "${work}/modules/${module}")
endforeach()
if(NOT EXISTS "${work}/modules/design/design-page-1.png")
    message(FATAL_ERROR "the installed design module wrote no page")
endif()
# A fresh machine of the installed tree has the example plug-ins in its common files.
foreach(plugin KvInvert KvBlur)
    if(NOT EXISTS "${work}/modules/mail/machine/Common Files/Korvel/Plug-ins/${plugin}.so")
        message(FATAL_ERROR "the installed tree's fresh machine has no ${plugin}.so")
    endif()
endforeach()
file(GLOB drafts "${work}/modules/mail/machine/Outbox/*.eml")
if(NOT drafts)
    message(FATAL_ERROR "the installed mail module wrote no draft")
endif()

# The installed tree as its users meet it (InstallConsumerTest.cmake says what is checked): installed into
# a temporary prefix, a program of someone else's built against it with CMake and with pkg-config, and
# what it develops compared with the build tree's development. Needs the whole build, as an install does.
find_package(PNG REQUIRED)
find_package(PkgConfig REQUIRED)
add_executable(kv_png_compare "${CMAKE_CURRENT_LIST_DIR}/kv_png_compare.cpp")
target_link_libraries(kv_png_compare PRIVATE PNG::PNG)
kv_add_sanitizer_suppressions(kv_png_compare)

add_test(NAME install.consumer
    COMMAND ${CMAKE_COMMAND}
        "-DKV_BUILD_DIR=${CMAKE_BINARY_DIR}"
        "-DKV_WORK=${CMAKE_BINARY_DIR}/install-test"
        "-DKV_CONSUMER_SOURCE=${CMAKE_CURRENT_LIST_DIR}/consumer"
        "-DKV_GENERATOR=${CMAKE_GENERATOR}"
        "-DKV_CXX_COMPILER=${CMAKE_CXX_COMPILER}"
        "-DKV_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
        "-DKV_SANITIZE=${KV_SANITIZE}"
        "-DKV_PKG_CONFIG=${PKG_CONFIG_EXECUTABLE}"
        "-DKV_BINDIR=${CMAKE_INSTALL_BINDIR}"
        "-DKV_LIBDIR=${CMAKE_INSTALL_LIBDIR}"
        "-DKV_PNG_COMPARE=$<TARGET_FILE:kv_png_compare>"
        "-DKV_MAKE_PROFILES=$<TARGET_FILE:make-profiles>"
        "-DKV_MAKE_CAMERA_BASE=$<TARGET_FILE:make-camera-base>"
        "-DKV_MAKE_LENS=$<TARGET_FILE:make-lens>"
        "-DKV_DEMO_HOST=$<TARGET_FILE:demo-host>"
        "-DKV_RAW_DECODER=$<$<TARGET_EXISTS:quasel-raw-decoder>:quasel-raw-decoder>"
        -P "${CMAKE_CURRENT_LIST_DIR}/InstallConsumerTest.cmake")
set_tests_properties(install.consumer PROPERTIES LABELS install TIMEOUT 300)

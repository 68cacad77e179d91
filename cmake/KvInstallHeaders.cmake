# Run by `cmake --install` (cmake/KvInstall.cmake): installs the headers of the exported interfaces into
# KV_HEADER_DESTINATION, keeping their paths below KV_SOURCE_DIR, with every header of ours that they
# include, followed include by include. A quoted include is looked for beside the including header first,
# then from the source root, as the compiler looks for it.
cmake_policy(PUSH)
cmake_policy(VERSION 3.25)
set(kv_pending
    rawlib/pipeline/IKvnFilterChain.h
    rawlib/pipeline/IKvnProcessRawVendor1.h
    rawlib/pipeline/KvnRecords.h
    filters/engine/CPravonFilterBase.h
    # What a caller needs to hand the objects a picture: a memory manager, the loader, the file stream.
    platform/pravon/CPravonMemoryManager.h
    platform/pravon/IPravonFilterChain.h
    platform/quasel/IPravonLoad.h
    platform/quasel/IPravonFileStream.h)
# The standard filters.
file(GLOB kv_filters RELATIVE "${KV_SOURCE_DIR}" "${KV_SOURCE_DIR}/filters/*.h")
list(APPEND kv_pending ${kv_filters})

set(kv_headers)
while(kv_pending)
    list(POP_FRONT kv_pending kv_header)
    if(kv_header IN_LIST kv_headers)
        continue()
    endif()
    list(APPEND kv_headers "${kv_header}")
    get_filename_component(kv_folder "${kv_header}" DIRECTORY)
    file(STRINGS "${KV_SOURCE_DIR}/${kv_header}" kv_lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(kv_line IN LISTS kv_lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" kv_name "${kv_line}")
        cmake_path(SET kv_beside NORMALIZE "${kv_folder}/${kv_name}")
        if(EXISTS "${KV_SOURCE_DIR}/${kv_beside}")
            list(APPEND kv_pending "${kv_beside}")
        elseif(EXISTS "${KV_SOURCE_DIR}/${kv_name}")
            list(APPEND kv_pending "${kv_name}")
        else()
            message(FATAL_ERROR "${kv_header} includes \"${kv_name}\", which is not in the source tree")
        endif()
    endforeach()
endwhile()

list(SORT kv_headers)
foreach(kv_header IN LISTS kv_headers)
    get_filename_component(kv_folder "${kv_header}" DIRECTORY)
    file(INSTALL DESTINATION "${KV_HEADER_DESTINATION}/${kv_folder}" TYPE FILE
         FILES "${KV_SOURCE_DIR}/${kv_header}")
endforeach()
cmake_policy(POP)

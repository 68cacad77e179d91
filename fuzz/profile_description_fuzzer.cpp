// The reader of a profile's description over hostile bytes: it never reads outside the file, and a text
// it accepts lies within the bytes given (no longer than the file) and holds no zero byte.
#include "rawlib/pipeline/KvProfileDescription.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!file)
        return 0;
    for (const bool keepVersion : {true, false}) {
        CKvString text("unchanged");
        if (ReadProfileDescription(file, &text, keepVersion)) {
            const std::size_t length = std::strlen(text);
            if (length > size)
                std::abort();
        } else if (std::strcmp(text, "unchanged") != 0) {
            std::abort();
        }
    }
    std::fclose(file);
    return 0;
}

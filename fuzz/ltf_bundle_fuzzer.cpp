// The bundle reader over hostile bytes, filling a fixed template of two slots.
#include "LtfFillInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ltffuzz::FillAndCheck(reinterpret_cast<const std::uint8_t*>(ltffuzz::kTemplate),
                          sizeof(ltffuzz::kTemplate) - 1, data, size);
    return 0;
}

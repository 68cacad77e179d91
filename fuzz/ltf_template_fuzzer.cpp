// The layout template reader over hostile bytes, filled from a fixed bundle of three objects.
#include "LtfFillInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ltffuzz::FillAndCheck(data, size, reinterpret_cast<const std::uint8_t*>(ltffuzz::kBundle),
                          sizeof(ltffuzz::kBundle) - 1);
    return 0;
}

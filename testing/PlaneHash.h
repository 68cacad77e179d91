// A 64-bit FNV-1a hash of a plane's geometry and samples, for pinning whole outputs: any change of
// arithmetic that moves one sample by one changes it. Samples are hashed as little-endian values, so the
// hash does not depend on the machine's byte order.
#pragma once

#include "TestPlane.h"

#include <cstdint>
#include <string>

namespace kvtest {

std::uint64_t HashPlane(const TestPlane& plane);
std::uint64_t HashBytes(const void* data, std::size_t size);

// "0x" and sixteen hexadecimal digits, the way pinned values are written in the tests.
std::string HashText(std::uint64_t hash);

} // namespace kvtest

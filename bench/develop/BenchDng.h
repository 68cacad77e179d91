// The 24-megapixel camera file the development benchmarks share: an uncompressed DNG of the demosaicing
// benchmarks' mosaic (14-bit samples, a camera's colour matrix), written once into a folder that goes at
// exit.
#pragma once

#include <string>

namespace developbench {

const std::string& DngPath();

} // namespace developbench

// Pictures that end-to-end tests leave in the build folder for a person to open: the pixels are saved as a
// PNG there and read back through the framework's image wrapper, so that a test checks what the file holds.
#pragma once

#include "platform/zizoraz/IproPixels.h"

#include <optional>
#include <string>

namespace kvtest {

// The pixels as read back from <output folder>/<name>, or nothing when the file could not be written or
// read. The file's path is printed.
std::optional<IproPixels> SaveAndReadBack(const IproPixels& pixels, const std::string& name);

} // namespace kvtest

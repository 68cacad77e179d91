// The folder of the raw library's own file, where the libraries it loads at run time are installed.
#pragma once

#include <string>

namespace Kv {

// Empty when the library's file cannot be found.
std::string OwnFolder();

} // namespace Kv

// Runs a program of the build from a test and waits for it: the test's environment is passed on, so a
// machine folder the test set up (KV_SYSTEM_ROOT) is the program's too.
#pragma once

#include <string>
#include <vector>

namespace kvtest {

// arguments[0] is the program's path. The exit code, or -1 when it could not be started or did not exit.
int RunProgram(const std::vector<std::string>& arguments);
// The same, with what the program writes to its standard output and error appended to `output`.
int RunProgram(const std::vector<std::string>& arguments, std::string* output);

} // namespace kvtest

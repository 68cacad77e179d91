// Number parsing for the command lines of the tools: a whole argument or nothing.
#pragma once

#include <cstdlib>

namespace KvCommandLine {

// A decimal integer within [low, high].
inline bool Number(const char* text, long long low, long long high, long long* value) {
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (!*text || *end || v < low || v > high)
        return false;
    *value = v;
    return true;
}

inline bool Real(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return *text && !*end;
}

} // namespace KvCommandLine

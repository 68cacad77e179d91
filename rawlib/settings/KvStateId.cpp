#include "KvStateId.h"

#include <algorithm>

bool KvStateId::Matches(const BYTE* bytes) const {
    return std::equal(stored.begin(), stored.end(), bytes) ||
           std::equal(alternate.begin(), alternate.end(), bytes);
}

// Readable failure messages for the size settings' value types.
#pragma once

#include "rawlib/settings/DblRect.h"

#include <ostream>

inline void PrintTo(const DblRect& r, std::ostream* os) {
    *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

inline void PrintTo(const DblPoint& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ")";
}

inline void PrintTo(const UnitValue& v, std::ostream* os) {
    *os << v.value << " [unit " << v.unit << "]";
}

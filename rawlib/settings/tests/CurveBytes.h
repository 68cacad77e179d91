// Builds curve records (the LUT group and its channels) field by field for hand-made test vectors,
// independently of the record writers.
#pragma once

#include "RecordConformance.h"

#include <cstring>

namespace kvtest {

class CurveBytes {
public:
    explicit CurveBytes(const KvStateId& id) : m_bytes(id.stored.begin(), id.stored.end()) {}
    CurveBytes& U8(BYTE v) { return Put(v, 1); }
    CurveBytes& U16(WORD v) { return Put(v, 2); }
    CurveBytes& U32(DWORD v) { return Put(v, 4); }
    CurveBytes& I32(LONG v) { return Put(static_cast<DWORD>(v), 4); }
    CurveBytes& F64(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return Put(bits, 8);
    }
    CurveBytes& Raw(const Bytes& bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    // A 32-bit length at offset 18, filled with the distance from 18 to the end when the bytes are taken.
    CurveBytes& Length() {
        m_length = true;
        return Put(0, 4);
    }
    operator Bytes() const {
        Bytes bytes = m_bytes;
        if (m_length)
            KvPutValue(bytes.data() + 18, bytes.size() - 18, 4);
        return bytes;
    }

private:
    CurveBytes& Put(std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            m_bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
        return *this;
    }
    Bytes m_bytes;
    bool m_length = false;
};

} // namespace kvtest

#include "CKvDustRemoval.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace {

// A copy of the map through its stored form, on the map's own manager; null when any step fails.
std::shared_ptr<CDustMap> CopyMap(const CDustMap& map) {
    const ULONG size = map.GetDataSize();
    if (size == 0)
        return nullptr;
    try {
        std::vector<BYTE> blob(size);
        if (PravonErrorPtr(map.WriteData(size, blob.data())))
            return nullptr;
        std::shared_ptr<CDustMap> copy;
        if (CDustMap::LoadDustMap(map.GetManager(), blob.data(), size, &copy) != CDustMap::kLoaded)
            return nullptr;
        return copy;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

CKvDustRemoval::CKvDustRemoval(const CKvDustRemoval& other) {
    CopyFrom(other);
}

CKvDustRemoval& CKvDustRemoval::operator=(const CKvDustRemoval& other) {
    // Resetting first would free what is about to be copied.
    if (this != &other) {
        Reset();
        CopyFrom(other);
    }
    return *this;
}

void CKvDustRemoval::CopyFrom(const CKvDustRemoval& other) {
    if (other.m_reference && SetReferenceSize(other.m_referenceSize))
        std::memcpy(m_reference.get(), other.m_reference.get(), m_referenceSize);
    m_stamp = other.m_stamp;
    m_firstExtra = other.m_firstExtra;
    m_secondExtra = other.m_secondExtra;
    if (other.m_map)
        m_map = CopyMap(*other.m_map);
}

void CKvDustRemoval::Reset() {
    m_referenceSize = 0;
    m_reference.reset();
    m_stamp = Stamp();
    m_firstExtra = 0;
    m_secondExtra = 0;
    m_map.reset();
}

bool CKvDustRemoval::operator==(const CKvDustRemoval& other) const {
    return m_referenceSize == other.m_referenceSize &&
           (m_referenceSize == 0 ||
            std::memcmp(m_reference.get(), other.m_reference.get(), m_referenceSize) == 0) &&
           m_stamp == other.m_stamp && m_firstExtra == other.m_firstExtra &&
           m_secondExtra == other.m_secondExtra;
}

bool CKvDustRemoval::SetReferenceSize(DWORD size) {
    m_reference.reset();
    m_referenceSize = 0;
    if (size == 0)
        return true;
    m_reference.reset(new (std::nothrow) BYTE[size]);
    if (!m_reference)
        return false;
    m_referenceSize = size;
    return true;
}

LONG CKvDustRemoval::LoadDustReference(IPravonManager* manager, const BYTE* data, DWORD size) {
    if (!manager || !data || size == 0)
        return kBadArgument;
    if (!SetReferenceSize(size))
        return kOutOfMemory;
    std::memcpy(m_reference.get(), data, size);
    return kDone;
}

LONG CKvDustRemoval::LoadDustMap(IPravonManager* manager, const BYTE* data, DWORD size) {
    return CDustMap::LoadDustMap(manager, data, size, &m_map);
}

int CKvDustRemoval::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kDustRemoval, kVersion);
    w.PutU32(m_referenceSize);
    w.PutBytes(m_reference.get(), m_referenceSize);
    w.PutU16(m_stamp.year);
    w.PutU8(m_stamp.month);
    w.PutU8(m_stamp.day);
    w.PutU8(m_stamp.hour);
    w.PutU8(m_stamp.minute);
    w.PutU8(m_stamp.second);
    w.PutU16(m_firstExtra);
    w.PutU16(m_secondExtra);
    return w.Finish();
}

int CKvDustRemoval::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kDustRemoval, KvVersionPolicy::kExact, kVersion,
                        [](CKvRecordReader& r, WORD, CKvDustRemoval& t) {
                            DWORD n = 0;
                            r.GetU32(n);
                            // The stated count is checked against the bytes present before anything is
                            // allocated; a count beyond them reads no reference.
                            if (n > 0 && r.Has(n) && t.SetReferenceSize(n))
                                r.GetBytes(t.m_reference.get(), n);
                            else
                                r.Skip(n);
                            r.GetU16(t.m_stamp.year);
                            r.GetU8(t.m_stamp.month);
                            r.GetU8(t.m_stamp.day);
                            r.GetU8(t.m_stamp.hour);
                            r.GetU8(t.m_stamp.minute);
                            r.GetU8(t.m_stamp.second);
                            r.GetU16(t.m_firstExtra);
                            r.GetU16(t.m_secondExtra);
                            return static_cast<int>(
                                std::min<std::uint64_t>(std::uint64_t{n} + kFixedSize, INT_MAX));
                        });
}

const BYTE* CKvDustRemoval::GetStateId() {
    return KvStateIds::kDustRemoval.Data();
}

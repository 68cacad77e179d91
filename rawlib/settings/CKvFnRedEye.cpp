#include "CKvFnRedEye.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include <algorithm>
#include <climits>
#include <new>
#include <utility>

namespace {

void PutRegions(CKvRecordWriter& w, const CKvFnRedEye::RegionList& regions) {
    const std::size_t count = std::min(regions.size(), CKvFnRedEye::kMaxStoredRegions);
    w.PutU16(static_cast<WORD>(count));
    for (std::size_t i = 0; i < count; ++i) {
        w.PutU32(regions[i].GetSize());
        w.PutBytes(regions[i].GetData(), regions[i].GetSize());
    }
}

// Reads a count and its regions. A region is taken only when its size and all its bytes are there, so
// no stated size is allocated beyond the bytes present; the cursor moves on by the stated widths either
// way, which makes the record's total.
void GetRegions(CKvRecordReader& r, CKvFnRedEye::RegionList& regions) {
    WORD count = 0;
    r.GetU16(count);
    for (WORD i = 0; i < count; ++i) {
        DWORD size = 0;
        if (!r.GetU32(size) || !r.Has(size)) {
            r.Skip(size);
            continue;
        }
        CKvRegionBuffer buffer;
        if (!buffer.Allocate(size))
            throw std::bad_alloc();
        buffer.Write(r.Here(), size);
        buffer.Rewind();
        r.Skip(size);
        regions.push_back(std::move(buffer));
    }
}

} // namespace

CKvFnRedEye::CKvFnRedEye(const CKvFnRedEye& other)
    : m_mode(other.m_mode), m_keepAutomatic(other.m_keepAutomatic), m_automatic(other.m_automatic),
      m_manual(other.m_manual) {}

CKvFnRedEye& CKvFnRedEye::operator=(const CKvFnRedEye& other) {
    if (this == &other)
        return *this;
    RegionList automatic(other.m_automatic);
    RegionList manual(other.m_manual);
    m_mode = other.m_mode;
    m_keepAutomatic = other.m_keepAutomatic;
    m_automatic = std::move(automatic);
    m_manual = std::move(manual);
    return *this;
}

void CKvFnRedEye::Reset() {
    m_mode = kModeOff;
    m_keepAutomatic = 0;
    m_automatic.clear();
    m_manual.clear();
    m_automaticDone = 0;
    m_clearManual = 0;
}

bool CKvFnRedEye::operator==(const CKvFnRedEye& o) const {
    return m_mode == o.m_mode && m_keepAutomatic == o.m_keepAutomatic && m_automatic == o.m_automatic &&
           m_manual == o.m_manual;
}

void CKvFnRedEye::SetClearManualRequest(bool clear) {
    m_clearManual = clear ? 1 : 0;
    if (clear)
        m_manual.clear();
}

int CKvFnRedEye::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kFnRedEye, kVersion);
    w.PutI32(m_mode);
    w.PutU8(m_keepAutomatic);
    PutRegions(w, m_automatic);
    PutRegions(w, m_manual);
    return w.Finish();
}

int CKvFnRedEye::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kFnRedEye, KvVersionPolicy::kZeroResets, kVersion,
                        [](CKvRecordReader& r, WORD, CKvFnRedEye& t) {
                            r.GetI32(t.m_mode);
                            r.GetU8(t.m_keepAutomatic);
                            GetRegions(r, t.m_automatic);
                            GetRegions(r, t.m_manual);
                            return static_cast<int>(std::min<std::int64_t>(r.GetPosition(), INT_MAX));
                        });
}

const BYTE* CKvFnRedEye::GetStateId() {
    return KvStateIds::kFnRedEye.Data();
}

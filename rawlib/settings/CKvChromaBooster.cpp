#include "CKvChromaBooster.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include <algorithm>

CKvChromaBooster::CKvChromaBooster(const CKvChromaBooster& other) : IKvState() {
    *this = other;
}

CKvChromaBooster& CKvChromaBooster::operator=(const CKvChromaBooster& other) {
    m_amount = std::clamp<LONG>(other.m_amount, 0, kMaxAmount);
    m_enabled = other.m_enabled;
    return *this;
}

void CKvChromaBooster::Reset() {
    m_amount = 0;
    m_spare = -1;
    m_enabled = 1;
}

bool CKvChromaBooster::operator==(const CKvChromaBooster& other) const {
    return m_amount == other.m_amount && m_enabled == other.m_enabled;
}

int CKvChromaBooster::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kChromaBooster, kVersion);
    w.PutU8(m_enabled);
    w.PutI32(m_amount);
    return w.Finish();
}

int CKvChromaBooster::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kChromaBooster, KvVersionPolicy::kExact, kVersion,
                        [](CKvRecordReader& r, WORD, CKvChromaBooster& t) {
                            r.GetFlag(t.m_enabled);
                            r.GetI32(t.m_amount); // the assignment holds it to 0..100
                            return kRecordSize;
                        });
}

const BYTE* CKvChromaBooster::GetStateId() {
    return KvStateIds::kChromaBooster.Data();
}

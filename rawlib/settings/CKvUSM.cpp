#include "CKvUSM.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

bool CKvUSM::operator==(const CKvUSM& o) const {
    return m_channels == o.m_channels && m_spare == o.m_spare && m_radius == o.m_radius &&
           m_amount == o.m_amount && m_threshold == o.m_threshold;
}

int CKvUSM::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kUsm, kVersion, false);
    w.PutU16(static_cast<WORD>(static_cast<DWORD>(m_channels)));
    w.PutU16(static_cast<WORD>(static_cast<DWORD>(m_spare)));
    w.PutI16(m_amount);
    w.PutI16(m_radius);
    w.PutU8(m_threshold);
    return w.Finish();
}

int CKvUSM::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(
        *this, buffer, size, KvStateIds::kUsm, KvVersionPolicy::kExact, kVersion,
        [](CKvRecordReader& r, WORD, CKvUSM& t) {
            WORD low = 0;
            if (r.GetU16(low))
                t.m_channels = low;
            if (r.GetU16(low))
                t.m_spare = low;
            r.GetI16(t.m_amount);
            r.GetI16(t.m_radius);
            r.GetU8(t.m_threshold);
            return kRecordSize;
        },
        false);
}

const BYTE* CKvUSM::GetStateId() {
    return KvStateIds::kUsm.Data();
}

#include "CKvRevelation.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

int CKvRevelation::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kRevelation, kVersion);
    w.PutI16(m_first);
    w.PutI16(m_second);
    w.PutI16(m_third);
    return w.Finish();
}

int CKvRevelation::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kRevelation, KvVersionPolicy::kExact, kVersion,
                        [](CKvRecordReader& r, WORD, CKvRevelation& t) {
                            r.GetI16(t.m_first);
                            r.GetI16(t.m_second);
                            r.GetI16(t.m_third);
                            return kRecordSize;
                        });
}

const BYTE* CKvRevelation::GetStateId() {
    return KvStateIds::kRevelation.Data();
}

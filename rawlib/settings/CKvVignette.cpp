#include "CKvVignette.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

int CKvVignette::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kVignette, kVersion);
    w.PutI16(m_amount);
    return w.Finish();
}

int CKvVignette::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kVignette, KvVersionPolicy::kZeroResets, kVersion,
                        [](CKvRecordReader& r, WORD, CKvVignette& t) {
                            r.GetI16(t.m_amount);
                            return kRecordSize;
                        });
}

const BYTE* CKvVignette::GetStateId() {
    return KvStateIds::kVignette.Data();
}

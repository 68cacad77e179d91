#include "CKvFisheye.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

int CKvFisheye::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kFisheye, kVersion);
    w.PutU8(m_enabled);
    w.PutI32(m_mode);
    return w.Finish();
}

int CKvFisheye::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kFisheye, KvVersionPolicy::kExact, kVersion,
                        [](CKvRecordReader& r, WORD, CKvFisheye& t) {
                            r.GetFlag(t.m_enabled);
                            r.GetI32(t.m_mode);
                            return kRecordSize;
                        });
}

const BYTE* CKvFisheye::GetStateId() {
    return KvStateIds::kFisheye.Data();
}

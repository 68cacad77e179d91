#include "CKvLEGeneral.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

LONG CKvLEGeneral::GetValue(int index) const {
    return index >= 0 && index < kValueCount ? m_values[index] : 0;
}

void CKvLEGeneral::SetValue(int index, LONG value) {
    if (index >= 0 && index < kValueCount)
        m_values[index] = value;
}

int CKvLEGeneral::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kLEGeneral, kVersion);
    for (LONG value : m_values)
        w.PutU16(static_cast<WORD>(static_cast<DWORD>(value)));
    return w.Finish();
}

int CKvLEGeneral::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kLEGeneral, KvVersionPolicy::kZeroResets, kVersion,
                        [](CKvRecordReader& r, WORD version, CKvLEGeneral& t) {
                            // Version 1 holds the first two values, version 2 all four; they read back
                            // unsigned.
                            const int count = version >= 2 ? 4 : 2;
                            for (int i = 0; i < count; ++i) {
                                WORD value = 0;
                                if (r.GetU16(value))
                                    t.m_values[i] = value;
                            }
                            return version >= 2 ? kRecordSize : 26;
                        });
}

const BYTE* CKvLEGeneral::GetStateId() {
    return KvStateIds::kLEGeneral.Data();
}

#include "CKvUSMList.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include <algorithm>

int CKvUSMList::WriteState(BYTE* buffer, int size) {
    const std::size_t count = std::min(m_entries.size(), kMaxStoredEntries);
    CKvRecordWriter w(buffer, size, KvStateIds::kUsmList, kVersion);
    w.PutU8(static_cast<BYTE>(count));
    for (std::size_t i = 0; i < count; ++i) {
        // An entry is a field of its own: written whole or not at all.
        BYTE entry[CKvUSM::kRecordSize];
        CKvUSM copy(m_entries[i]);
        copy.WriteState(entry, CKvUSM::kRecordSize);
        w.PutBytes(entry, sizeof entry);
    }
    return w.Finish();
}

int CKvUSMList::ReadState(const BYTE* buffer, int size) {
    if (!buffer || size < 18)
        return 0;
    const WORD version = static_cast<WORD>(KvGetValue(buffer + 16, 2));
    if (version != 1 && version != 2)
        return 0;
    return KvReadRecord(
        *this, buffer, size, KvStateIds::kUsmList, KvVersionPolicy::kZeroRejects, kVersion,
        [buffer](CKvRecordReader& r, WORD, CKvUSMList& t) {
            const int header = static_cast<int>(r.GetPosition());
            BYTE count = 0;
            r.GetU8(count);
            for (int i = 0; i < count; ++i) {
                if (r.GetRemaining() < CKvUSM::kRecordSize)
                    break;
                CKvUSM entry;
                if (entry.ReadState(buffer + r.GetPosition(), CKvUSM::kRecordSize) == 0)
                    break;
                t.m_entries.push_back(entry);
                r.Skip(CKvUSM::kRecordSize);
            }
            return header + 1 + CKvUSM::kRecordSize * count;
        },
        version == 2);
}

const BYTE* CKvUSMList::GetStateId() {
    return KvStateIds::kUsmList.Data();
}

#include "CKvNoiseReduction.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

namespace {

// The size each version's record defines; later versions read as the last.
constexpr int kSizeByVersion[] = {22, 25, 27, 31};

} // namespace

void CKvNoiseReduction::ClearIfDisabled(bool disabled) {
    if (disabled)
        m_extra = 0;
}

bool CKvNoiseReduction::operator==(const CKvNoiseReduction& o) const {
    return m_level == o.m_level && m_flag == o.m_flag && m_extra == o.m_extra;
}

LONG CKvNoiseReduction::LevelFromVersion1Code(WORD code) {
    static constexpr LONG kLevels[] = {0, 4, 5, 8};
    return code < 4 ? kLevels[code] : -1;
}

int CKvNoiseReduction::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kNoiseReduction, kVersion);
    w.PutI32(m_level);
    w.PutU8(m_flag);
    w.PutI32(m_extra);
    return w.Finish();
}

int CKvNoiseReduction::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kNoiseReduction, KvVersionPolicy::kZeroResets,
                        kVersion, [](CKvRecordReader& r, WORD version, CKvNoiseReduction& t) {
                            if (version == 1) {
                                // The first layout kept a 16-bit code for one of four levels.
                                WORD code = 0;
                                if (r.GetU16(code) && LevelFromVersion1Code(code) >= 0)
                                    t.m_level = LevelFromVersion1Code(code);
                                r.GetU8(t.m_flag);
                                return kSizeByVersion[1];
                            }
                            r.GetI32(t.m_level);
                            r.GetU8(t.m_flag);
                            if (version >= 3)
                                r.GetI32(t.m_extra);
                            return kSizeByVersion[version < kVersion ? version : kVersion];
                        });
}

const BYTE* CKvNoiseReduction::GetStateId() {
    return KvStateIds::kNoiseReduction.Data();
}

#include "CKvWBAdjustment.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

namespace {

// The size each version's record defines (version 0 is refused).
constexpr int kSizeByVersion[] = {0, 38, 48, 50, 51};

} // namespace

bool CKvWBAdjustment::operator==(const CKvWBAdjustment& o) const {
    return m_redGain == o.m_redGain && m_blueGain == o.m_blueGain && m_mode == o.m_mode &&
           m_preset == o.m_preset && m_temperature == o.m_temperature && m_second == o.m_second &&
           m_flag == o.m_flag;
}

int CKvWBAdjustment::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kWBAdjustment, kVersion);
    w.PutF64(m_redGain);
    w.PutF64(m_blueGain);
    w.PutI32(m_mode);
    w.PutI32(m_preset);
    w.PutU16(m_temperature);
    w.PutU16(m_second);
    w.PutU8(m_flag);
    return w.Finish();
}

int CKvWBAdjustment::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kWBAdjustment, KvVersionPolicy::kZeroRejects,
                        kVersion, [](CKvRecordReader& r, WORD version, CKvWBAdjustment& t) {
                            r.GetF64(t.m_redGain);
                            r.GetF64(t.m_blueGain);
                            if (version >= 2) {
                                r.GetI32(t.m_mode);
                                r.GetI32(t.m_preset);
                                r.GetU16(t.m_temperature);
                            }
                            if (version >= 3)
                                r.GetU16(t.m_second);
                            if (version >= 4)
                                r.GetU8(t.m_flag);
                            return kSizeByVersion[version < kVersion ? version : kVersion];
                        });
}

const BYTE* CKvWBAdjustment::GetStateId() {
    return KvStateIds::kWBAdjustment.Data();
}

#include "CKvExposureAdjustment.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include <cmath>

namespace {

// The size each version's record defines.
constexpr int kSizeByVersion[] = {22, 26, 33, 35, 40, 48, 50};

SHORT Low16(LONG value) {
    return static_cast<SHORT>(static_cast<WORD>(static_cast<DWORD>(value)));
}

} // namespace

bool CKvExposureAdjustment::operator==(const CKvExposureAdjustment& o) const {
    return m_compensation == o.m_compensation && m_mode == o.m_mode && m_second == o.m_second &&
           m_third == o.m_third && m_firstFlag == o.m_firstFlag && m_fourth == o.m_fourth &&
           m_secondFlag == o.m_secondFlag && m_fifth == o.m_fifth && m_sixth == o.m_sixth;
}

SHORT CKvExposureAdjustment::CompensationHundredths(double ev) {
    const double hundredths = std::trunc(ev * 100.0);
    if (std::isnan(hundredths))
        return 0;
    if (hundredths <= -32768.0)
        return -32768;
    if (hundredths >= 32767.0)
        return 32767;
    return static_cast<SHORT>(hundredths);
}

int CKvExposureAdjustment::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kExposureAdjustment, kVersion);
    w.PutI16(CompensationHundredths(m_compensation));
    w.PutI16(Low16(m_mode));
    w.PutI16(Low16(m_second));
    w.PutU8(m_firstFlag);
    w.PutI32(m_fourth);
    w.PutI16(Low16(m_third));
    w.PutU8(m_secondFlag);
    w.PutI32(m_fifth);
    w.PutF64(m_compensation);
    w.PutI16(Low16(m_sixth));
    return w.Finish();
}

int CKvExposureAdjustment::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kExposureAdjustment, KvVersionPolicy::kZeroResets,
                        kVersion, [](CKvRecordReader& r, WORD version, CKvExposureAdjustment& t) {
                            // The 16-bit fields hold the low half of 32-bit members and read back
                            // sign-extended.
                            SHORT v16 = 0;
                            if (r.GetI16(v16))
                                t.m_compensation = v16 * 0.01;
                            if (r.GetI16(v16))
                                t.m_mode = v16;
                            if (version >= 2) {
                                if (r.GetI16(v16))
                                    t.m_second = v16;
                                r.GetU8(t.m_firstFlag);
                                r.GetI32(t.m_fourth);
                            }
                            if (version >= 3 && r.GetI16(v16))
                                t.m_third = v16;
                            if (version >= 4) {
                                r.GetU8(t.m_secondFlag);
                                r.GetI32(t.m_fifth);
                            }
                            if (version >= 5)
                                r.GetF64(t.m_compensation);
                            if (version >= 6 && r.GetI16(v16))
                                t.m_sixth = v16;
                            return kSizeByVersion[version < kVersion ? version : kVersion];
                        });
}

const BYTE* CKvExposureAdjustment::GetStateId() {
    return KvStateIds::kExposureAdjustment.Data();
}

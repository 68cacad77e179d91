#include "CKvBrightness.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include "filters/engine/CPravonFilterBase.h"

CKvBrightness::CKvBrightness(const CKvBrightness& other) : IKvState(), CPravonFilterWatcher() {
    *this = other;
}

CKvBrightness& CKvBrightness::operator=(const CKvBrightness& other) {
    m_value = other.m_value;
    m_auto = other.m_auto;
    m_blackLevel = other.m_blackLevel;
    m_whiteLevel = other.m_whiteLevel;
    m_fresh = 0;
    return *this;
}

void CKvBrightness::Reset() {
    m_value = 0.0;
    m_auto = 0;
}

bool CKvBrightness::operator==(const CKvBrightness& other) const {
    return m_value == other.m_value && m_auto == other.m_auto && m_blackLevel == other.m_blackLevel &&
           m_whiteLevel == other.m_whiteLevel;
}

int CKvBrightness::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kBrightness, kVersion);
    w.PutF64(m_value);
    w.PutU8(m_auto);
    w.PutI32(m_blackLevel);
    w.PutI32(m_whiteLevel);
    return w.Finish();
}

int CKvBrightness::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kBrightness, KvVersionPolicy::kZeroResets, kVersion,
                        [](CKvRecordReader& r, WORD, CKvBrightness& t) {
                            r.GetF64(t.m_value);
                            r.GetFlag(t.m_auto);
                            r.GetI32(t.m_blackLevel);
                            r.GetI32(t.m_whiteLevel);
                            return kRecordSize;
                        });
}

const BYTE* CKvBrightness::GetStateId() {
    return KvStateIds::kBrightness.Data();
}

IPravonError* CKvBrightness::OnWatcherNotification(IKvAutoBrightnessLevels* filter, LONG type, void*) {
    if (type != IKvAutoBrightnessLevels::kLevelsMeasured || !filter)
        return nullptr;
    m_blackLevel = filter->GetBlackLevel(-1);
    m_whiteLevel = filter->GetWhiteLevel(-1);
    m_measuredBrightness = filter->GetAutoBrightness();
    m_fresh = 1;
    return nullptr;
}

IPravonError* CKvBrightness::PravonFilterNotify(CPravonFilterBase* filter, LONG type, void* data) {
    return OnWatcherNotification(dynamic_cast<IKvAutoBrightnessLevels*>(filter), type, data);
}

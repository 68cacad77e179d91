#include "CKvLutChannelBase.h"

#include "KvRecordCursor.h"

#include <algorithm>

CKvLutChannelBase& CKvLutChannelBase::operator=(const CKvLutChannelBase& other) {
    m_channelId = other.m_channelId;
    m_current = other.m_current;
    m_dirty = true;
    return *this;
}

void CKvLutChannelBase::Touch() {
    m_dirty = true;
    RefreshDisplay();
}

void CKvLutChannelBase::ReadChannelId(const BYTE* buffer, int size) {
    if (buffer && size >= 20)
        m_channelId = static_cast<LONG>(KvGetValue(buffer + 16, 4));
}

LONG CKvLutChannelBase::SelectNextPoint() {
    const LONG count = GetPointCount();
    if (count == 0)
        return 0;
    const LONG next = m_current < 0 ? 0 : std::min(m_current + 1, count - 1);
    if (next == m_current)
        return 0;
    m_current = next;
    Touch();
    return LutCode::kPoints;
}

LONG CKvLutChannelBase::SelectPreviousPoint() {
    const LONG count = GetPointCount();
    if (count == 0)
        return 0;
    const LONG previous = m_current < 0 ? 0 : std::max<LONG>(m_current - 1, 0);
    if (previous == m_current)
        return 0;
    m_current = previous;
    Touch();
    return LutCode::kPoints;
}

#include "CKvChromaChannel.h"

#include "KvLutRecordCursor.h"
#include "KvLutTables.h"
#include "KvStateIds.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

CKvChromaChannel::CKvChromaChannel(CKvLutGroup* group, LONG channelId) : CKvBumpChannel(group, channelId) {}

CKvChromaChannel& CKvChromaChannel::operator=(const CKvChromaChannel& other) {
    if (this != &other) {
        m_selector = other.m_selector;
        m_edited = other.m_edited;
        m_levelA = other.m_levelA;
        m_calibration = other.m_calibration;
        m_levelB = other.m_levelB;
        m_scaleMode = other.m_scaleMode;
        m_renderFlag = other.m_renderFlag;
        CKvBumpChannel::operator=(other);
    }
    return *this;
}

std::unique_ptr<CKvLutChannelBase> CKvChromaChannel::Clone() const {
    return std::make_unique<CKvChromaChannel>(*this);
}

const BYTE* CKvChromaChannel::GetStateId() {
    return KvStateIds::kChromaChannel.Data();
}

int CKvChromaChannel::WriteState(BYTE* buffer, int size) {
    const std::vector<KvHuePoint>& points = CurrentSet();
    // The count is 16-bit: a set that ever held more keeps the first 65,535 points in the record.
    const std::size_t count = std::min<std::size_t>(points.size(), 0xFFFF);
    CKvLutRecordWriter w(buffer, size);
    w.PutBytes(KvStateIds::kChromaChannel.Data(), 16);
    w.PutI32(m_channelId);
    w.PutU16(kVersion);
    w.PutU16(static_cast<WORD>(count));
    for (std::size_t i = 0; i < count; ++i) {
        w.PutF64(points[i].x);
        w.PutF64(points[i].y);
        w.PutF64(points[i].z);
    }
    w.PutF64(m_levelA);
    w.PutU8(0); // counted in the size and ignored by readers; written so that no stray byte is stored
    return w.GetResult();
}

int CKvChromaChannel::ReadState(const BYTE* buffer, int size) {
    if (!buffer || size < 16 || !KvStateIds::kChromaChannel.Matches(buffer))
        return 0;
    ReadChannelId(buffer, size);
    DropTracking();
    m_current = -1;
    CKvLutRecordReader r(buffer, size, 20);
    WORD version = 0;
    r.GetU16(version);
    if (version != kVersion) {
        Touch();
        return 23;
    }
    std::vector<KvHuePoint> points;
    double level = 0;
    WORD count = 0;
    if (r.GetU16(count)) {
        const std::uint64_t bytes = 24ull * count;
        if (r.Has(bytes)) {
            try {
                points.resize(count);
            } catch (const std::bad_alloc&) {
                points.clear();
            }
        }
        if (points.size() == count) {
            for (KvHuePoint& p : points) {
                r.GetF64(p.x);
                r.GetF64(p.y);
                r.GetF64(p.z);
            }
        } else {
            r.Skip(bytes);
        }
    }
    r.GetF64(level);
    KvSanitizePoints(points);
    CurrentSet() = std::move(points);
    m_levelA = KvFinite(level, 0);
    m_current = CurrentSet().empty() ? -1 : 0;
    Touch();
    return 33 + 24 * count;
}

DWORD CKvChromaChannel::GetActiveMask(DWORD mask) const {
    DWORD active = 0;
    if (!m_edited.empty())
        active |= LutCode::kCurve;
    if (m_levelA != 0)
        active |= LutCode::kLevel;
    return active & mask;
}

void CKvChromaChannel::Reset(bool first, bool second) {
    m_edited.clear();
    if (second) {
        m_calibration.clear();
        m_levelA = 0;
        m_levelB = 0;
    }
    SetCurrentLevel(0);
    m_current = -1;
    DropTracking();
    Touch();
}

LONG CKvChromaChannel::SetMode(LONG mode) {
    if (m_scaleMode == 1)
        return 0;
    m_scaleMode = 1;
    Touch();
    return LutCode::kMode;
}

int CKvChromaChannel::Compare(const CKvLutChannelBase& other) const {
    const auto* chroma = dynamic_cast<const CKvChromaChannel*>(&other);
    return chroma && m_levelA == chroma->m_levelA && m_edited.size() == chroma->m_edited.size() &&
                   m_scaleMode == chroma->m_scaleMode && m_edited == chroma->m_edited
               ? 1
               : 0;
}

double CKvChromaChannel::InsertedAmount(double y) const {
    return y / m_scaleMode - GetCurrentLevel();
}

double CKvChromaChannel::DraggedAmount(double y) const {
    const double level = GetCurrentLevel();
    return std::clamp(y - level, -1 - level, 1 - level);
}

LONG CKvChromaChannel::GetLevelHandleRow(const PravonRect& graph) const {
    const LONG halfHeight = (graph.bottom - graph.top) / 2;
    const std::int64_t row =
        (graph.top + graph.bottom + 1) / 2 - m_scaleMode * KvRound(GetCurrentLevel() * halfHeight) - 1;
    return static_cast<LONG>(std::clamp<std::int64_t>(row, INT32_MIN, INT32_MAX));
}

void CKvChromaChannel::DragLevel(double y, LONG py, const PravonRect& graph) {
    if (py >= graph.top && py < graph.bottom)
        SetCurrentLevel(y);
}

void CKvChromaChannel::SetEditedPoints(std::vector<KvHuePoint> points) {
    KvSanitizePoints(points);
    m_edited = std::move(points);
    m_current = std::min<LONG>(m_current, static_cast<LONG>(m_edited.size()) - 1);
    Touch();
}

void CKvChromaChannel::SetCalibration(std::vector<KvHuePoint> points, double level) {
    KvSanitizePoints(points);
    (m_selector == 1 ? m_calibration : m_edited) = std::move(points);
    m_levelB = KvFinite(level, 0);
    DropTracking();
    m_current = std::min<LONG>(m_current, GetPointCount() - 1);
    Touch();
}

void CKvChromaChannel::CopyCalibrationSet(const CKvChromaChannel& other) {
    if (this == &other) {
        m_calibration = CurrentSet();
    } else {
        m_calibration = other.CurrentSet();
    }
    m_levelB = other.GetCurrentLevel();
    Touch();
}

int CKvChromaChannel::RenderChannelBitmap(int fill, void* out, int elementSize, LONG count, LONG scale,
                                          DWORD flags) {
    if (!out || count < 1 || !KvIsTableElementSize(elementSize))
        return 0;
    if (fill == 0 && m_renderFlag == 1) {
        std::memset(out, fill, static_cast<std::size_t>(elementSize) * static_cast<std::size_t>(count));
        return fill;
    }
    const bool edited = fill == m_selector;
    const std::vector<KvHuePoint>& points = edited ? m_edited : m_calibration;
    const double level = KvFinite(fill != 0 || edited ? m_levelA : m_levelB, 0);
    const double top = 2 - 1.0 / scale;
    for (LONG j = 0; j < count; ++j) {
        const double x = static_cast<double>(j) / count;
        double gain = level + KvRaisedCosine(points, x) + 1;
        gain = std::max(std::min(gain, top), 0.0);
        if (elementSize == 8)
            KvStoreEntry(out, static_cast<std::size_t>(j), gain);
        else
            KvStoreEntry(out, elementSize, static_cast<std::size_t>(j),
                         KvTruncate(static_cast<double>(scale) * gain / 2));
    }
    return count;
}

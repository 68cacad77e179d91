#include "CKvHueChannel.h"

#include "KvLutRecordCursor.h"
#include "KvLutTables.h"
#include "KvStateIds.h"

#include <algorithm>
#include <cmath>
#include <new>

CKvHueChannel::CKvHueChannel(CKvLutGroup* group, LONG channelId) : CKvBumpChannel(group, channelId) {}

CKvHueChannel& CKvHueChannel::operator=(const CKvHueChannel& other) {
    if (this != &other) {
        m_points = other.m_points;
        m_level = other.m_level;
        m_mode = other.m_mode;
        CKvBumpChannel::operator=(other);
    }
    return *this;
}

std::unique_ptr<CKvLutChannelBase> CKvHueChannel::Clone() const {
    return std::make_unique<CKvHueChannel>(*this);
}

const BYTE* CKvHueChannel::GetStateId() {
    return KvStateIds::kHueChannel.Data();
}

int CKvHueChannel::WriteState(BYTE* buffer, int size) {
    CKvLutRecordWriter w(buffer, size);
    w.PutBytes(KvStateIds::kHueChannel.Data(), 16);
    w.PutI32(m_channelId);
    w.PutU8(0xFF);
    w.PutU16(kVersion);
    w.PutU32(static_cast<DWORD>(m_points.size()));
    for (const KvHuePoint& p : m_points) {
        w.PutF64(p.x);
        w.PutF64(p.y);
        w.PutF64(p.z);
    }
    w.PutF64(m_level);
    w.PutI32(m_mode);
    return w.GetResult();
}

int CKvHueChannel::ReadState(const BYTE* buffer, int size) {
    if (!buffer || size < 16 || !KvStateIds::kHueChannel.Matches(buffer))
        return 0;
    ReadChannelId(buffer, size);
    DropTracking();
    m_current = -1;
    const bool marked = size >= 21 && buffer[20] == 0xFF;
    if (marked) {
        CKvLutRecordReader header(buffer, size, 21);
        WORD version = 0;
        header.GetU16(version);
        if (version != kVersion) {
            Touch();
            return 23;
        }
    }
    CKvLutRecordReader r(buffer, size, marked ? 23 : 20);
    std::vector<KvHuePoint> points;
    double level = 0;
    LONG mode = 1;
    DWORD count = 0;
    if (r.GetU32(count)) {
        const std::uint64_t bytes = 24ull * count;
        if (r.Has(bytes)) {
            try {
                points.resize(count);
            } catch (const std::bad_alloc&) {
                points.clear();
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
        } else {
            r.Skip(bytes);
        }
    }
    r.GetF64(level);
    r.GetI32(mode);
    KvSanitizePoints(points);
    m_points = std::move(points);
    m_level = KvFinite(level, 0);
    m_mode = std::clamp<LONG>(mode, 1, 3);
    m_current = m_points.empty() ? -1 : 0;
    Touch();
    return KvSaturatedSize((marked ? 39u : 36u) + 24ull * count);
}

DWORD CKvHueChannel::GetActiveMask(DWORD mask) const {
    DWORD active = 0;
    if (!m_points.empty())
        active |= LutCode::kCurve;
    if (m_level != 0)
        active |= LutCode::kLevel;
    return active & mask;
}

void CKvHueChannel::Reset(bool first, bool second) {
    m_points.clear();
    m_level = 0;
    m_current = -1;
    DropTracking();
    Touch();
}

LONG CKvHueChannel::SetMode(LONG mode) {
    const LONG held = std::clamp<LONG>(mode, 1, 3);
    if (held == m_mode)
        return 0;
    m_mode = held;
    Touch();
    return LutCode::kMode;
}

int CKvHueChannel::Compare(const CKvLutChannelBase& other) const {
    const auto* hue = dynamic_cast<const CKvHueChannel*>(&other);
    return hue && m_level == hue->m_level && m_points.size() == hue->m_points.size() &&
                   m_mode == hue->m_mode && m_points == hue->m_points
               ? 1
               : 0;
}

LONG CKvHueChannel::GetLevelHandleRow(const PravonRect& graph) const {
    const LONG halfHeight = (graph.bottom - graph.top) / 2;
    const std::int64_t offset = KvRound(halfHeight * m_level * 3 / m_mode);
    return static_cast<LONG>(
        std::clamp<std::int64_t>((graph.top + graph.bottom + 1) / 2 - offset - 1, INT32_MIN, INT32_MAX));
}

void CKvHueChannel::SetPoints(std::vector<KvHuePoint> points) {
    KvSanitizePoints(points);
    m_points = std::move(points);
    m_current = std::min<LONG>(m_current, static_cast<LONG>(m_points.size()) - 1);
    Touch();
}

int CKvHueChannel::BuildTable(void* out, int elementSize, LONG count, LONG scale, DWORD flags) {
    if (!out || count < 1 || !KvIsTableElementSize(elementSize))
        return 0;
    const double level = KvFinite(m_level, 0);
    for (LONG j = 0; j < count; ++j) {
        const double x = static_cast<double>(j) / count;
        // A hue is a turn: each term is taken as a part of a turn before they are added, so that the
        // extreme values a stored record may hold cannot overflow the sum.
        const double bump = KvFinite(KvRaisedCosine(m_points, x), 0);
        double hue = std::fmod(x + std::fmod(bump / 2, 1) - std::fmod(level / 2, 1) + 2, 1);
        if (hue < 0)
            hue += 1;
        if (elementSize == 8)
            KvStoreEntry(out, static_cast<std::size_t>(j), hue);
        else
            KvStoreEntry(out, elementSize, static_cast<std::size_t>(j),
                         KvTruncate(static_cast<double>(scale) * hue + 0.5));
    }
    return count;
}

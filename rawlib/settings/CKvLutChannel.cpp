#include "CKvLutChannel.h"

#include "CKvLutGroup.h"
#include "KvLutRecordCursor.h"
#include "KvLutTables.h"
#include "KvStateIds.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

bool Contains(const PravonRect& r, LONG x, LONG y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

void Notify(const std::function<void(LONG)>& callback, LONG code) {
    if (callback)
        callback(code);
}

// The tone graph's width in pixels, at least 1.
double GraphWidth(const LutGraphLayout& layout) {
    const LONG width = layout.toneGraph.right - layout.toneGraph.left;
    return width > 0 ? width : 1;
}

LONG PixelAt(double v) {
    return static_cast<LONG>(std::clamp<std::int64_t>(KvTruncate(v), INT32_MIN, INT32_MAX));
}

} // namespace

// The pointer over the tone graph: absolute fractions of the graph (input across, output up), unclamped and
// held to 0..1, and the same in the point curve's own coordinates (relative to black..white and to the
// output levels unless the graph is zoomed to them already).
struct CKvLutChannel::Pointer {
    double rawX = 0;
    double rawY = 0;
    double x = 0;
    double y = 0;
    double rawCurveX = 0;
    double curveX = 0;
    double curveY = 0;
};

CKvLutChannel::CKvLutChannel(CKvLutGroup* group, LONG channelId, const SourceParameters& source)
    : CKvLutChannelBase(group, channelId), m_source(source) {
    m_reference = m_set;
}

CKvLutChannel::CKvLutChannel(const CKvLutChannel& other)
    : CKvLutChannelBase(other), m_source(other.m_source), m_set(other.m_set),
      m_brightness(other.m_brightness), m_maxPoints(other.m_maxPoints), m_reference(other.m_reference),
      m_outsideTable(other.m_outsideTable), m_outsideBefore(other.m_outsideBefore),
      m_display(other.m_display) {}

CKvLutChannel& CKvLutChannel::operator=(const CKvLutChannel& other) {
    if (this != &other) {
        CKvLutChannel copy(other);
        CKvLutChannelBase::operator=(other);
        m_source = copy.m_source;
        m_set = std::move(copy.m_set);
        m_brightness = copy.m_brightness;
        m_maxPoints = copy.m_maxPoints;
        m_reference = std::move(copy.m_reference);
        m_outsideTable = std::move(copy.m_outsideTable);
        m_outsideBefore = copy.m_outsideBefore;
        m_display = copy.m_display;
        DropTracking();
    }
    return *this;
}

std::unique_ptr<CKvLutChannelBase> CKvLutChannel::Clone() const {
    return std::make_unique<CKvLutChannel>(*this);
}

const BYTE* CKvLutChannel::GetStateId() {
    return KvStateIds::kToneChannel.Data();
}

int CKvLutChannel::WriteState(BYTE* buffer, int size) {
    CKvLutRecordWriter w(buffer, size);
    w.PutBytes(KvStateIds::kToneChannel.Data(), 16);
    w.PutI32(m_channelId);
    w.PutU8(0xFF);
    w.PutU16(kVersion);
    for (LONG v : m_source)
        w.PutI32(v);
    w.PutF64(m_set.black);
    w.PutF64(m_set.white);
    w.PutF64(m_set.gamma);
    w.PutF64(m_set.outputLow);
    w.PutF64(m_set.outputHigh);
    w.PutU32(static_cast<DWORD>(m_set.points.size()));
    for (const KvTonePoint& p : m_set.points) {
        w.PutF64(p.x);
        w.PutF64(p.y);
    }
    w.PutF64(m_brightness);
    return w.GetResult();
}

int CKvLutChannel::ReadState(const BYTE* buffer, int size) {
    if (!buffer || size < 16 || !KvStateIds::kToneChannel.Matches(buffer))
        return 0;
    ReadChannelId(buffer, size);
    DropTracking();
    m_current = -1;
    const bool marked = size >= 21 && buffer[20] == 0xFF;
    WORD version = 1; // the first layout
    if (marked) {
        CKvLutRecordReader header(buffer, size, 21);
        version = 0;
        header.GetU16(version);
        if (version != 2 && version != 3) {
            CurveChanged();
            return 23;
        }
    }
    CKvLutRecordReader r(buffer, size, marked ? 23 : 20);
    SourceParameters source{};
    KvToneSet set;
    double brightness = 0;
    for (LONG& v : source)
        r.GetI32(v);
    r.GetF64(set.black);
    r.GetF64(set.white);
    r.GetF64(set.gamma);
    if (version >= 3) {
        r.GetF64(set.outputLow);
        r.GetF64(set.outputHigh);
    }
    DWORD count = 0;
    if (r.GetU32(count)) {
        const std::uint64_t bytes = 16ull * count;
        std::vector<KvTonePoint> points;
        if (r.Has(bytes)) {
            try {
                points.resize(count);
            } catch (const std::bad_alloc&) {
                points.clear();
            }
        }
        if (points.size() == count) {
            for (KvTonePoint& p : points) {
                r.GetF64(p.x);
                r.GetF64(p.y);
            }
            set.points = std::move(points);
        } else {
            r.Skip(bytes);
        }
    }
    r.GetF64(brightness);

    // Values that could not have been entered are read as neutral ones.
    set.black = KvFinite(set.black, 0);
    set.white = KvFinite(set.white, 1);
    set.gamma = std::clamp(KvFinite(set.gamma, 1), kMinGamma, kMaxGamma);
    set.outputLow = KvFinite(set.outputLow, 0);
    set.outputHigh = KvFinite(set.outputHigh, 1);
    KvSanitizePoints(set.points);
    m_source = source;
    m_set = std::move(set);
    m_brightness = KvFinite(brightness, 0);
    CurveChanged();
    const std::uint64_t fixed = version == 3 ? 111 : version == 2 ? 95 : 92;
    return KvSaturatedSize(fixed + 16ull * count);
}

DWORD CKvLutChannel::GetActiveMask(DWORD mask) const {
    DWORD active = 0;
    const std::vector<KvTonePoint>& p = m_set.points;
    const bool identity =
        p.empty() || (p.size() == 2 && p[0].x == 0 && p[0].y == 0 && p[1].x == 1 && p[1].y == 1);
    if (!identity)
        active |= LutCode::kCurve;
    if (m_brightness != 0)
        active |= 0x01;
    if (m_group) {
        if (m_group->GetContrast() != 0)
            active |= 0x01;
        if (const auto* first = dynamic_cast<const CKvLutChannel*>(m_group->GetChannelAt(0)))
            if (first->m_brightness != 0)
                active |= 0x01;
    }
    if (m_set.black != 0)
        active |= LutCode::kBlack;
    if (m_set.gamma != 1)
        active |= LutCode::kGamma;
    if (m_set.white != 1)
        active |= LutCode::kWhite;
    if (m_set.outputLow != 0)
        active |= LutCode::kOutputLow;
    if (m_set.outputHigh != 1)
        active |= LutCode::kOutputHigh;
    return active & mask;
}

void CKvLutChannel::Reset(bool first, bool second) {
    m_set.black = 0;
    m_set.gamma = 1;
    m_set.white = 1;
    m_set.outputLow = 0;
    m_set.outputHigh = 1;
    m_set.points.clear();
    if (second)
        m_set.points = {KvTonePoint{0, 0}, KvTonePoint{1, 1}};
    if (first)
        m_brightness = 0;
    m_outsideTable.clear();
    m_outsideBefore = false;
    m_current = -1;
    DropTracking();
    CurveChanged();
}

void CKvLutChannel::CurveChanged() {
    m_set.splineDirty = true;
    Touch();
}

void CKvLutChannel::RefreshDisplay() {
    if (HasCurrentPoint())
        m_display = m_set.points[m_current];
    else
        m_display = KvTonePoint{-1, 0};
}

void CKvLutChannel::DropTracking() {
    m_hit = -1;
    m_pending = 0;
}

CKvLutChannel::Pointer CKvLutChannel::Map(const LutGraphLayout& layout, LONG px, LONG py) const {
    const PravonRect& graph = layout.toneGraph;
    // Both axes are divided by the width: the tone graph is square.
    const LONG span = std::max<LONG>(graph.right - graph.left - 1, 1);
    Pointer p;
    p.rawX = static_cast<double>(px - graph.left) / span;
    p.rawY = static_cast<double>(graph.bottom - py - 1) / span;
    p.x = std::clamp(p.rawX, 0.0, 1.0);
    p.y = std::clamp(p.rawY, 0.0, 1.0);
    const double inputSpan = m_set.white - m_set.black;
    const double outputSpan = m_set.outputHigh - m_set.outputLow;
    p.rawCurveX = layout.zoomX ? p.rawX : inputSpan != 0 ? (p.rawX - m_set.black) / inputSpan : 0.0;
    const double rawCurveY = layout.zoomY      ? p.rawY
                             : outputSpan != 0 ? (p.rawY - m_set.outputLow) / outputSpan
                                               : 0.0;
    p.curveX = KvClamp01(p.rawCurveX);
    p.curveY = KvClamp01(rawCurveY);
    return p;
}

LONG CKvLutChannel::HitTest(const LutGraphLayout& layout, LONG px, LONG py) {
    LONG code = 0;
    const PravonRect& graph = layout.toneGraph;
    const LONG span = std::max<LONG>(graph.right - graph.left - 1, 1);
    if (Contains(graph, px, py)) {
        const Pointer p = Map(layout, px, py);
        if (p.rawCurveX >= 0 && p.rawCurveX <= 1) {
            // Points are compared where the graph shows them.
            auto graphX = [&](double x) {
                return layout.zoomX ? x : m_set.black + x * (m_set.white - m_set.black);
            };
            auto graphY = [&](double y) {
                return layout.zoomY ? y : m_set.outputLow + y * (m_set.outputHigh - m_set.outputLow);
            };
            LONG nearest = -1;
            double best = 2.0;
            for (std::size_t i = 0; i < m_set.points.size(); ++i) {
                const double d = std::fabs(p.x - graphX(m_set.points[i].x));
                if (d < best) {
                    best = d;
                    nearest = static_cast<LONG>(i);
                }
            }
            m_hit = nearest;
            const double radius = static_cast<double>(layout.pickRadius) / span;
            if (nearest >= 0 && best <= radius) {
                code = nearest == m_current ? LutCode::kPoints : LutCode::kOtherPoint;
                if (std::fabs(p.y - graphY(m_set.points[nearest].y)) <= radius)
                    m_display = m_set.points[nearest];
            } else {
                code = LutCode::kEmptyPlace;
            }
        }
    }
    const LutHandlePositions at = GetHandlePositions(layout);
    if (Contains(layout.toneHandles, px, py)) {
        const std::int64_t x = px;
        const std::int64_t toBlack = std::abs(x - at.black);
        const std::int64_t toGamma = std::abs(x - at.gamma);
        const std::int64_t toWhite = std::abs(x - at.white);
        // On a tie the pointer's side decides: left of the black handle takes black, right of the gamma
        // handle takes gamma.
        LONG handle = LutCode::kBlack;
        std::int64_t best = toBlack;
        if (toGamma < best || (toGamma == best && x >= at.black)) {
            handle = LutCode::kGamma;
            best = toGamma;
        }
        if (toWhite < best || (toWhite == best && !(handle == LutCode::kGamma && x > at.gamma) &&
                               !(handle == LutCode::kBlack && x < at.black)))
            handle = LutCode::kWhite;
        code = handle;
    }
    if (Contains(layout.toneOutputHandles, px, py)) {
        const std::int64_t y = py;
        const std::int64_t toLow = std::abs(y - at.outputLow);
        const std::int64_t toHigh = std::abs(y - at.outputHigh);
        code = toLow < toHigh || (toLow == toHigh && y > at.outputLow) ? LutCode::kOutputLow
                                                                       : LutCode::kOutputHigh;
    }
    return code;
}

LONG CKvLutChannel::TrackPosition(const LutGraphLayout& layout, LONG x, LONG y) {
    if (m_pending == 0)
        return HitTest(layout, x, y);
    return Drag(layout, x, y);
}

LONG CKvLutChannel::Drag(const LutGraphLayout& layout, LONG px, LONG py) {
    const Pointer p = Map(layout, px, py);
    const double step = 1 / GraphWidth(layout);
    std::vector<KvTonePoint>& points = m_set.points;
    switch (m_pending) {
    case LutCode::kPoints: {
        if (!HasCurrentPoint())
            break;
        const LONG span = std::max<LONG>(layout.toneGraph.right - layout.toneGraph.left - 1, 1);
        const double margin = 20.0 / span;
        if (points.size() > 2 &&
            (p.rawX < -margin || p.rawX > 1 + margin || p.rawY < -margin || p.rawY > 1 + margin)) {
            points.erase(points.begin() + m_current);
            m_current = std::min<LONG>(m_current, static_cast<LONG>(points.size()) - 1);
            const LONG ended = m_pending;
            DropTracking();
            CurveChanged();
            Notify(layout.finished, ended);
            return 0;
        }
        m_current = KvMovePoint(points, m_current, p.curveX);
        KvTonePoint& point = points[m_current];
        if (m_current > 0 && m_current + 1 < static_cast<LONG>(points.size())) {
            // Stored so that the rendered curve, gamma included, passes through the pointer.
            const double span01 = points.back().x - points.front().x;
            const double u = span01 > 0 ? (point.x - points.front().x) / span01 : 0.0;
            point.y = p.curveY - (std::pow(u, 1 / m_set.gamma) - u);
        } else {
            point.y = p.curveY;
        }
        m_set.splineDirty = true;
        break;
    }
    case LutCode::kBlack:
        m_set.black = std::min(p.x, m_set.white - 2 * step);
        break;
    case LutCode::kWhite:
        m_set.white = std::max(p.x, m_set.black + 2 * step);
        break;
    case LutCode::kGamma: {
        const double x = std::min(std::max(p.x, m_set.black + step), m_set.white - step);
        const double span01 = m_set.white - m_set.black;
        if (span01 != 0)
            SetGammaFromMidpoint((x - m_set.black) / span01);
        break;
    }
    case LutCode::kOutputLow:
        m_set.outputLow = std::min(p.y, m_set.outputHigh - 2 * step);
        break;
    case LutCode::kOutputHigh:
        m_set.outputHigh = std::max(p.y, m_set.outputLow + 2 * step);
        break;
    default:
        break;
    }
    CurveChanged();
    Notify(layout.changed, m_pending);
    return m_pending;
}

LONG CKvLutChannel::BeginTrack(const LutGraphLayout& layout, LONG x, LONG y) {
    DropTracking();
    LONG code = HitTest(layout, x, y);
    std::vector<KvTonePoint>& points = m_set.points;
    if (code == LutCode::kEmptyPlace) {
        if (m_maxPoints >= 2 && static_cast<LONG>(points.size()) >= m_maxPoints) {
            code = 0;
        } else {
            const Pointer p = Map(layout, x, y);
            LONG at = 0;
            if (!points.empty() && m_hit >= 0)
                at = p.curveX > points[m_hit].x ? m_hit + 1 : m_hit;
            try {
                points.insert(points.begin() + at, KvTonePoint{p.curveX, p.curveY});
            } catch (const std::bad_alloc&) {
                return 0;
            }
            m_current = at;
            code = LutCode::kPoints;
        }
    } else if (code == LutCode::kOtherPoint) {
        m_current = m_hit;
        code = LutCode::kPoints;
    }
    m_pending = code;
    if (code != 0) {
        CurveChanged();
        Notify(layout.changed, code);
        TrackPosition(layout, x, y);
    }
    return code;
}

LONG CKvLutChannel::EndTrack(const LutGraphLayout& layout) {
    const LONG code = m_pending;
    DropTracking();
    if (code != 0)
        Notify(layout.finished, code);
    return code;
}

LONG CKvLutChannel::InsertPoint() {
    std::vector<KvTonePoint>& points = m_set.points;
    const LONG n = static_cast<LONG>(points.size());
    if (m_maxPoints >= 2 && n >= m_maxPoints)
        return 0;
    // Gap ends: left of the first point stands -0.01, right of the last 1.01, each with its neighbour's y.
    struct End {
        double x, y;
    };
    auto leftOf = [&](LONG i) {
        return i == 0 ? End{-kKvPointClearance, points[0].y} : End{points[i - 1].x, points[i - 1].y};
    };
    auto rightOf = [&](LONG i) {
        return i == n - 1 ? End{1 + kKvPointClearance, points[n - 1].y}
                          : End{points[i + 1].x, points[i + 1].y};
    };
    End l{-kKvPointClearance, 0}, r{1 + kKvPointClearance, 1};
    LONG at = -1;
    if (n == 0) {
        at = 0;
    } else {
        const LONG start = HasCurrentPoint() ? m_current : 0;
        for (LONG i = start; i >= 0 && at < 0; --i) {
            const End left = leftOf(i);
            if (points[i].x - left.x >= kKvPointGap) {
                l = left;
                r = End{points[i].x, points[i].y};
                at = i;
            }
        }
        for (LONG i = start; i < n && at < 0; ++i) {
            const End right = rightOf(i);
            if (right.x - points[i].x >= kKvPointGap) {
                l = End{points[i].x, points[i].y};
                r = right;
                at = i + 1;
            }
        }
        if (at < 0)
            return 0;
    }
    double x = (std::max(l.x, 0.0) + std::min(r.x, 1.0)) / 2;
    x = std::max(x, l.x + kKvPointClearance);
    x = std::min(x, r.x - kKvPointClearance);
    try {
        points.insert(points.begin() + at, KvTonePoint{x, (l.y + r.y) / 2});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    m_current = at;
    CurveChanged();
    return LutCode::kPoints;
}

LONG CKvLutChannel::DeletePoint() {
    if (!HasCurrentPoint() || m_set.points.size() < 3)
        return 0;
    m_set.points.erase(m_set.points.begin() + m_current);
    m_current = std::min<LONG>(m_current, GetPointCount() - 1);
    CurveChanged();
    return LutCode::kPoints;
}

LONG CKvLutChannel::ChangeAmount(double by) {
    if (!HasCurrentPoint())
        return 0;
    KvTonePoint& point = m_set.points[m_current];
    const double y = std::clamp(point.y + by, 0.0, 1.0);
    if (y == point.y)
        return 0;
    point.y = y;
    CurveChanged();
    return LutCode::kPoints;
}

LONG CKvLutChannel::RaisePoint(const LutGraphLayout& layout) {
    return ChangeAmount(layout.toneVerticalStep);
}

LONG CKvLutChannel::LowerPoint(const LutGraphLayout& layout) {
    return ChangeAmount(-layout.toneVerticalStep);
}

LONG CKvLutChannel::Move(double to) {
    if (!HasCurrentPoint())
        return 0;
    const double before = m_set.points[m_current].x;
    const LONG at = KvMovePoint(m_set.points, m_current, to);
    if (at == m_current && m_set.points[at].x == before)
        return 0;
    m_current = at;
    CurveChanged();
    return LutCode::kPoints;
}

LONG CKvLutChannel::MovePointLeft(const LutGraphLayout& layout) {
    return HasCurrentPoint() ? Move(m_set.points[m_current].x - layout.toneHorizontalStep) : 0;
}

LONG CKvLutChannel::MovePointRight(const LutGraphLayout& layout) {
    return HasCurrentPoint() ? Move(m_set.points[m_current].x + layout.toneHorizontalStep) : 0;
}

LONG CKvLutChannel::LowerBlack(const LutGraphLayout& layout) {
    const double black = std::max(m_set.black - layout.toneHorizontalStep, 0.0);
    if (black == m_set.black)
        return 0;
    m_set.black = black;
    CurveChanged();
    return LutCode::kBlack;
}

LONG CKvLutChannel::RaiseBlack(const LutGraphLayout& layout) {
    const double black = std::min(m_set.black + layout.toneHorizontalStep, 1 - 2 / GraphWidth(layout));
    if (black == m_set.black)
        return 0;
    m_set.black = black;
    CurveChanged();
    return LutCode::kBlack;
}

LONG CKvLutChannel::LowerWhite(const LutGraphLayout& layout) {
    const double white = std::max(m_set.white - layout.toneHorizontalStep, 2 / GraphWidth(layout));
    if (white == m_set.white)
        return 0;
    m_set.white = white;
    CurveChanged();
    return LutCode::kWhite;
}

LONG CKvLutChannel::RaiseWhite(const LutGraphLayout& layout) {
    const double white = std::min(m_set.white + layout.toneHorizontalStep, 1.0);
    if (white == m_set.white)
        return 0;
    m_set.white = white;
    CurveChanged();
    return LutCode::kWhite;
}

void CKvLutChannel::SaveReference() {
    m_reference = m_set;
    m_reference.splineDirty = true;
}

int CKvLutChannel::GetPoint(LONG index, double* x, double* y) const {
    if (index < 0 || index >= GetPointCount())
        return 0;
    if (x)
        *x = m_set.points[index].x;
    if (y)
        *y = m_set.points[index].y;
    return 1;
}

LONG CKvLutChannel::SetPoint(double x, double y) {
    if (!HasCurrentPoint())
        return 0;
    const KvTonePoint before = m_set.points[m_current];
    m_current = KvMovePoint(m_set.points, m_current, KvClamp01(x));
    KvTonePoint& point = m_set.points[m_current];
    point.y = KvClamp01(y);
    if (point.x == before.x && point.y == before.y)
        return 0;
    CurveChanged();
    return LutCode::kPoints;
}

int CKvLutChannel::Compare(const CKvLutChannelBase& other) const {
    const auto* tone = dynamic_cast<const CKvLutChannel*>(&other);
    if (!tone)
        return 0;
    const KvToneSet& a = m_set;
    const KvToneSet& b = tone->m_set;
    if (a.black != b.black || a.gamma != b.gamma || a.white != b.white || a.outputLow != b.outputLow ||
        a.outputHigh != b.outputHigh || a.points.size() != b.points.size() ||
        m_brightness != tone->m_brightness)
        return 0;
    for (std::size_t i = 0; i < a.points.size(); ++i)
        if (a.points[i].x != b.points[i].x || a.points[i].y != b.points[i].y)
            return 0;
    return 1;
}

void CKvLutChannel::SetGamma(double gamma) {
    m_set.gamma = std::clamp(KvFinite(gamma, 1), kMinGamma, kMaxGamma);
    CurveChanged();
}

void CKvLutChannel::SetGammaFromMidpoint(double v) {
    SetGamma(v == 0 ? 1.0 : std::log(v) / KvLnHalf());
}

void CKvLutChannel::SetBlack(double black) {
    m_set.black = KvFinite(black, 0);
    CurveChanged();
}

void CKvLutChannel::SetWhite(double white) {
    m_set.white = KvFinite(white, 1);
    CurveChanged();
}

void CKvLutChannel::SetOutputLevels(double low, double high) {
    m_set.outputLow = KvFinite(low, 0);
    m_set.outputHigh = KvFinite(high, 1);
    CurveChanged();
}

void CKvLutChannel::SetBrightness(double brightness) {
    m_brightness = KvFinite(brightness, 0);
    Touch();
}

void CKvLutChannel::SetPoints(std::vector<KvTonePoint> points) {
    KvSanitizePoints(points);
    m_set.points = std::move(points);
    m_current = std::min<LONG>(m_current, GetPointCount() - 1);
    CurveChanged();
}

LutHandlePositions CKvLutChannel::GetHandlePositions(const LutGraphLayout& layout) const {
    const PravonRect& g = layout.toneGraph;
    const double across = static_cast<double>(g.right) - g.left - 1;
    const double down = static_cast<double>(g.bottom) - g.top - 1;
    const double midpoint = m_set.black + std::exp(m_set.gamma * KvLnHalf()) * (m_set.white - m_set.black);
    // Levels far outside 0..1 (from a record) put a handle far off the graph, never past the LONG range.
    LutHandlePositions at;
    at.black = PixelAt(g.left + std::trunc(across * m_set.black + 0.5));
    at.gamma = PixelAt(g.left + std::trunc(across * midpoint + 0.5));
    at.white = PixelAt(g.left + std::trunc(across * m_set.white + 0.5));
    at.outputLow = PixelAt(g.bottom - std::trunc(down * m_set.outputLow + 0.5) - 1);
    at.outputHigh = PixelAt(g.bottom - std::trunc(down * m_set.outputHigh + 0.5) - 1);
    return at;
}

int CKvLutChannel::SetInputTable(const void* table, int elementSize, LONG count, LONG valueRange,
                                 bool applyBefore) {
    m_outsideTable.clear();
    m_outsideBefore = false;
    if (!table || count <= 1)
        return 0;
    std::vector<double> entries;
    try {
        entries.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return 1;
    }
    const double divisor = valueRange > 1 ? static_cast<double>(valueRange) - 1 : 1.0;
    const BYTE* bytes = static_cast<const BYTE*>(table);
    for (LONG i = 0; i < count; ++i) {
        double v;
        if (elementSize == 1) {
            v = bytes[i];
        } else {
            WORD w;
            std::memcpy(&w, bytes + 2 * static_cast<std::size_t>(i), sizeof w);
            v = w;
        }
        entries[static_cast<std::size_t>(i)] = v / divisor;
    }
    m_outsideTable = std::move(entries);
    m_outsideBefore = applyBefore;
    return 0;
}

void CKvLutChannel::SolveSplineSlopes(std::vector<KvTonePoint>& points) {
    const std::size_t n = points.size();
    if (n < 2)
        return;
    std::vector<double> h(n - 1), s(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        h[i] = points[i + 1].x - points[i].x;
        // Points at one position are a step, which has no slope of its own.
        s[i] = h[i] > 0 ? (points[i + 1].y - points[i].y) / h[i] : 0.0;
    }
    if (n == 2) {
        points[0].slope = points[1].slope = s[0];
        return;
    }
    // The tridiagonal system: m0 + m1/2 = 1.5 s0; interior rows weighted by the neighbouring widths;
    // m(n-2)/2 + m(n-1) = 1.5 s(n-2). Forward elimination keeps the reduced super-diagonal in `super`.
    points[0].sub = 0;
    points[0].super = 0.5;
    points[0].rhs = 1.5 * s[0];
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const double both = h[i - 1] + h[i];
        if (both > 0) {
            points[i].sub = h[i] / (2 * both);
            points[i].super = h[i - 1] / (2 * both);
            points[i].rhs = 1.5 * (s[i - 1] * h[i] + s[i] * h[i - 1]) / both;
        } else {
            points[i].sub = points[i].super = points[i].rhs = 0;
        }
    }
    points[n - 1].sub = 0.5;
    points[n - 1].super = 0;
    points[n - 1].rhs = 1.5 * s[n - 2];
    for (std::size_t i = 1; i < n; ++i) {
        const double pivot = 1 - points[i].sub * points[i - 1].super;
        points[i].super /= pivot;
        points[i].rhs = (points[i].rhs - points[i].sub * points[i - 1].rhs) / pivot;
    }
    points[n - 1].slope = points[n - 1].rhs;
    for (std::size_t i = n - 1; i-- > 0;)
        points[i].slope = points[i].rhs - points[i].super * points[i + 1].slope;
}

double CKvLutChannel::Curve(KvToneSet& set, double x, DWORD flags) {
    const std::vector<KvTonePoint>& points = set.points;
    const bool identity = !(flags & kTablePoints) || points.empty();
    const double x0 = identity ? 0 : points.front().x;
    const double y0 = identity ? 0 : points.front().y;
    const double xN = identity ? 1 : points.back().x;
    const double yN = identity ? 1 : points.back().y;
    if (x <= x0)
        return y0;
    if (x >= xN)
        return yN;
    const double u = (x - x0) / (xN - x0);
    double z;
    if (identity || points.size() == 2) {
        z = y0 + (yN - y0) * u;
    } else {
        if (set.splineDirty) {
            SolveSplineSlopes(set.points);
            set.splineDirty = false;
        }
        // x0 < x < xN, so the interval found has a width.
        const auto right = std::upper_bound(points.begin(), points.end(), x,
                                            [](double v, const KvTonePoint& p) { return v < p.x; });
        const KvTonePoint& a = *(right - 1);
        const KvTonePoint& b = *right;
        const double h = b.x - a.x;
        const double t = (x - a.x) / h;
        const double s = 1 - t;
        z = a.y * (1 + 2 * t) * s * s + h * a.slope * t * s * s + b.y * (3 - 2 * t) * t * t -
            h * b.slope * s * t * t;
    }
    if ((flags & kTableGamma) && set.gamma != 1)
        z = z + std::pow(u, 1 / set.gamma) - u;
    return z;
}

double CKvLutChannel::Render(KvToneSet& set, double x, DWORD flags, bool withContrast, double contrast,
                             double brightness) {
    if (flags & kTableNormaliseInput) {
        // Black and white at one place make the input a step there.
        if (set.white == set.black)
            x = x < set.black ? 0.0 : 1.0;
        else
            x = (x - set.black) / (set.white - set.black);
    }
    double z = Curve(set, x, flags);
    if (flags & kTableContrast) {
        if (withContrast) {
            const double c = (z - 0.5) * KvPow2(contrast) + 0.5;
            z = std::min(std::max(c, 0.1 * z), 0.1 * z + 0.9);
        }
        // The curve can dip below 0 between close points; no power of a negative number is taken.
        if (brightness != 0)
            z = std::pow(std::max(z, 0.0), KvPow2(-brightness));
    }
    z = KvClamp01(z);
    if (flags & kTableOutputLevels)
        z = set.outputLow + z * (set.outputHigh - set.outputLow);
    return z;
}

int CKvLutChannel::BuildTable(void* out, int elementSize, LONG count, LONG scale, DWORD flags,
                              double outputGamma) {
    if (!out || count < 1 || !KvIsTableElementSize(elementSize))
        return 0;
    const bool reference = flags & kTableReference;
    KvToneSet& set = reference ? m_reference : m_set;
    double contrast = 0;
    CKvLutChannel* first = nullptr;
    if (m_group) {
        contrast = reference ? m_group->GetReferenceContrast() : m_group->GetContrast();
        if (flags & kTableComposeFirst)
            first = dynamic_cast<CKvLutChannel*>(m_group->GetChannelAt(0));
    }
    contrast = KvFinite(contrast, 0);
    const bool outside = (flags & kTableOutside) && !m_outsideTable.empty();
    const double outsideLast = static_cast<double>(m_outsideTable.size()) - 1;
    const double last = std::max<double>(count - 1, 1);
    for (LONG k = 0; k < count; ++k) {
        double x = k / last;
        if (outside && m_outsideBefore)
            x = KvInterpolate(m_outsideTable, outsideLast * x);
        double z = Render(set, x, flags, m_channelId == 0, contrast, m_brightness);
        if (first) {
            KvToneSet& firstSet = reference ? first->m_reference : first->m_set;
            z = Render(firstSet, z, flags, true, contrast, first->m_brightness);
        }
        if (outside && !m_outsideBefore)
            z = KvInterpolate(m_outsideTable, outsideLast * z);
        z = KvClamp01(z);
        if (outputGamma > 0 && 1 / outputGamma != 1)
            z = std::pow(z, 1 / outputGamma);
        if (elementSize == 8)
            KvStoreEntry(out, static_cast<std::size_t>(k), z);
        else
            KvStoreEntry(out, elementSize, static_cast<std::size_t>(k),
                         KvTruncate(z * (static_cast<double>(scale) - 1) + 0.5));
    }
    return count;
}

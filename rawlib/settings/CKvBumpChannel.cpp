#include "CKvBumpChannel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

bool Contains(const PravonRect& r, LONG x, LONG y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// The pointer in the graph's units: x 0..1 from the left edge, y -1..1 from the middle row up. The
// unclamped values decide whether a dragged point left the graph.
struct Pointer {
    double rawX = 0;
    double rawY = 0;
    double x = 0;
    double y = 0;
};

Pointer Map(const PravonRect& graph, LONG px, LONG py) {
    Pointer p;
    const LONG width = graph.right - graph.left;
    const LONG halfHeight = (graph.bottom - graph.top) / 2;
    const LONG middle = (graph.top + graph.bottom + 1) / 2;
    p.rawX = width != 0 ? static_cast<double>(px - graph.left) / width : 0.0;
    p.rawY = halfHeight != 0 ? static_cast<double>(middle - py - 1) / halfHeight : 0.0;
    p.x = std::clamp(p.rawX, 0.0, 1.0);
    p.y = std::clamp(p.rawY, -1.0, 1.0);
    return p;
}

double GraphWidth(const PravonRect& graph) {
    const LONG width = graph.right - graph.left;
    return width > 0 ? width : 1;
}

double WidthOf(double amount) {
    return std::min(std::fabs(amount) / 2, 0.5);
}

void Notify(const std::function<void(LONG)>& callback, LONG code) {
    if (callback)
        callback(code);
}

} // namespace

CKvBumpChannel& CKvBumpChannel::operator=(const CKvBumpChannel& other) {
    CKvLutChannelBase::operator=(other);
    DropTracking();
    m_display = other.m_display;
    return *this;
}

void CKvBumpChannel::RefreshDisplay() {
    if (HasCurrentPoint())
        m_display = EditedPoints()[m_current];
    else
        m_display = KvHuePoint{-1, 0, -1};
}

void CKvBumpChannel::DropTracking() {
    m_hit = -1;
    m_pending = 0;
    m_inserted = false;
    m_modePressed = false;
}

LONG CKvBumpChannel::HitTest(const LutGraphLayout& layout, LONG px, LONG py) {
    const PravonRect& graph = GetGraph(layout);
    const std::vector<KvHuePoint>& points = EditedPoints();
    LONG code = 0;
    if (Contains(graph, px, py)) {
        const Pointer p = Map(graph, px, py);
        LONG nearest = -1;
        double best = 2.0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const double d = std::fabs(p.x - points[i].x);
            if (d < best) {
                best = d;
                nearest = static_cast<LONG>(i);
            }
        }
        m_hit = nearest;
        const LONG halfHeight = (graph.bottom - graph.top) / 2;
        if (nearest >= 0 && best <= layout.pickRadius / GraphWidth(graph)) {
            code = nearest == m_current ? LutCode::kPoints : LutCode::kOtherPoint;
            if (halfHeight > 0 &&
                std::fabs(p.y - points[nearest].y) <= static_cast<double>(layout.pickRadius) / halfHeight)
                m_display = points[nearest];
        } else {
            code = LutCode::kEmptyPlace;
        }
    }
    if (Contains(layout.levelHandle, px, py) &&
        std::abs(static_cast<std::int64_t>(py) - GetLevelHandleRow(graph)) <= layout.style.levelTolerance)
        code = LutCode::kLevel;
    if (Contains(layout.widthHandle, px, py) && HasCurrentPoint()) {
        const LONG halfWidth = (graph.right - graph.left) / 2;
        const double column = graph.left + halfWidth * 2 * points[m_current].z;
        if (std::fabs(px - column) <= layout.style.widthTolerance)
            code = LutCode::kWidth;
    }
    if (Contains(layout.modeButton, px, py))
        code = LutCode::kMode;
    return code;
}

LONG CKvBumpChannel::TrackPosition(const LutGraphLayout& layout, LONG x, LONG y) {
    if (m_pending == 0)
        return HitTest(layout, x, y);
    return Drag(layout, x, y);
}

LONG CKvBumpChannel::Drag(const LutGraphLayout& layout, LONG px, LONG py) {
    const PravonRect& graph = GetGraph(layout);
    const Pointer p = Map(graph, px, py);
    std::vector<KvHuePoint>& points = EditedPoints();
    switch (m_pending) {
    case LutCode::kPoints: {
        if (!HasCurrentPoint())
            break;
        const double margin = 20 / GraphWidth(graph);
        if (p.rawX < -margin || p.rawX > 1 + margin || std::fabs(p.rawY) > 1 + margin) {
            // Dragged well off the graph: the point goes.
            points.erase(points.begin() + m_current);
            m_current = std::min<LONG>(m_current, static_cast<LONG>(points.size()) - 1);
            const LONG ended = m_pending;
            DropTracking();
            Touch();
            Notify(layout.finished, ended);
            return 0;
        }
        m_current = KvMovePoint(points, m_current, p.x);
        KvHuePoint& point = points[m_current];
        point.y = DraggedAmount(p.y);
        if (m_inserted)
            point.z = WidthOf(point.y);
        break;
    }
    case LutCode::kLevel:
        DragLevel(p.y, py, graph);
        break;
    case LutCode::kWidth:
        if (HasCurrentPoint())
            points[m_current].z = std::min(p.x, 0.5);
        break;
    case LutCode::kMode:
        m_modePressed = Contains(layout.modeButton, px, py);
        break;
    default:
        break;
    }
    Touch();
    Notify(layout.changed, m_pending);
    return m_pending;
}

LONG CKvBumpChannel::BeginTrack(const LutGraphLayout& layout, LONG x, LONG y) {
    DropTracking();
    LONG code = HitTest(layout, x, y);
    std::vector<KvHuePoint>& points = EditedPoints();
    if (code == LutCode::kEmptyPlace) {
        const Pointer p = Map(GetGraph(layout), x, y);
        const double amount = InsertedAmount(p.y);
        LONG at = 0;
        if (!points.empty() && m_hit >= 0)
            at = p.x > points[m_hit].x ? m_hit + 1 : m_hit;
        try {
            points.insert(points.begin() + at, KvHuePoint{p.x, amount, WidthOf(amount)});
        } catch (const std::bad_alloc&) {
            return 0;
        }
        m_current = at;
        m_inserted = true;
        code = LutCode::kPoints;
    } else if (code == LutCode::kOtherPoint) {
        m_current = m_hit;
        code = LutCode::kPoints;
    }
    m_pending = code;
    if (code != 0) {
        Touch();
        Notify(layout.changed, code);
        TrackPosition(layout, x, y);
    }
    return code;
}

LONG CKvBumpChannel::EndTrack(const LutGraphLayout& layout) {
    const LONG code = m_pending;
    if (code == LutCode::kMode && m_modePressed) {
        AdvanceMode();
        Touch();
    }
    DropTracking();
    if (code != 0)
        Notify(layout.finished, code);
    return code;
}

LONG CKvBumpChannel::InsertPoint() {
    std::vector<KvHuePoint>& points = EditedPoints();
    const LONG n = static_cast<LONG>(points.size());
    try {
        if (n == 0) {
            points.push_back(KvHuePoint{0.5, 0, 0.5});
            m_current = 0;
            Touch();
            return LutCode::kPoints;
        }
        const LONG start = HasCurrentPoint() ? m_current : 0;
        LONG i = start;
        do {
            const KvHuePoint& before = points[i == 0 ? n - 1 : i - 1];
            const double beforeX = i == 0 ? before.x - 1 : before.x;
            if (points[i].x - beforeX >= kKvPointGap) {
                KvHuePoint middle{(beforeX + points[i].x) / 2, (before.y + points[i].y) / 2,
                                  (before.z + points[i].z) / 2};
                LONG at = i;
                if (middle.x < 0) {
                    middle.x += 1;
                    at = n;
                }
                points.insert(points.begin() + at, middle);
                m_current = at;
                Touch();
                return LutCode::kPoints;
            }
            i = (i - 1 + n) % n;
        } while (i != start);
    } catch (const std::bad_alloc&) {
    }
    return 0;
}

LONG CKvBumpChannel::DeletePoint() {
    if (!HasCurrentPoint())
        return 0;
    std::vector<KvHuePoint>& points = EditedPoints();
    points.erase(points.begin() + m_current);
    m_current = std::min<LONG>(m_current, static_cast<LONG>(points.size()) - 1);
    Touch();
    return LutCode::kPoints;
}

LONG CKvBumpChannel::ChangeAmount(double by) {
    if (!HasCurrentPoint())
        return 0;
    KvHuePoint& point = EditedPoints()[m_current];
    const double amount = std::clamp(point.y + by, -1.0, 1.0);
    if (amount == point.y)
        return 0;
    point.y = amount;
    Touch();
    return LutCode::kPoints;
}

LONG CKvBumpChannel::RaisePoint(const LutGraphLayout& layout) {
    return ChangeAmount(layout.curveVerticalStep);
}

LONG CKvBumpChannel::LowerPoint(const LutGraphLayout& layout) {
    return ChangeAmount(-layout.curveVerticalStep);
}

LONG CKvBumpChannel::ChangeWidth(double by) {
    if (!HasCurrentPoint())
        return 0;
    KvHuePoint& point = EditedPoints()[m_current];
    const double width = std::clamp(point.z + by, 0.0, 0.5);
    if (width == point.z)
        return 0;
    point.z = width;
    Touch();
    return LutCode::kWidth;
}

LONG CKvBumpChannel::NarrowPoint(const LutGraphLayout& layout) {
    return ChangeWidth(-layout.curveHorizontalStep);
}

LONG CKvBumpChannel::WidenPoint(const LutGraphLayout& layout) {
    return ChangeWidth(layout.curveHorizontalStep);
}

LONG CKvBumpChannel::ChangeLevel(double by) {
    const double before = GetCurrentLevel();
    const double level = std::clamp(before + by, -1.0, 1.0);
    if (level == before)
        return 0;
    SetCurrentLevel(level);
    Touch();
    return LutCode::kLevel;
}

LONG CKvBumpChannel::RaiseLevel(const LutGraphLayout& layout) {
    return ChangeLevel(layout.curveVerticalStep);
}

LONG CKvBumpChannel::LowerLevel(const LutGraphLayout& layout) {
    return ChangeLevel(-layout.curveVerticalStep);
}

LONG CKvBumpChannel::Move(double by) {
    if (!HasCurrentPoint())
        return 0;
    std::vector<KvHuePoint>& points = EditedPoints();
    const double before = points[m_current].x;
    const LONG at = KvMovePoint(points, m_current, before + by);
    if (at == m_current && points[at].x == before)
        return 0;
    m_current = at;
    Touch();
    return LutCode::kPoints;
}

LONG CKvBumpChannel::MovePointLeft(const LutGraphLayout& layout) {
    return Move(-layout.curveHorizontalStep);
}

LONG CKvBumpChannel::MovePointRight(const LutGraphLayout& layout) {
    return Move(layout.curveHorizontalStep);
}

#include "CPravonFilterTransform.h"

#include "filters/CTransformRows.h"
#include "filters/engine/CSourceTileCursor.h"
#include "filters/engine/Int32Math.h"
#include "platform/pravon/PravonGraph.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

using Int32Math::SaturatedTrunc;

constexpr double kRadiansPerDegree = 0.017453292519943295;
// The last angle below 360 that still counts as 0.
constexpr double kNearFullTurn = 359.9999999999;
// Beyond the mapped square of an output pixel, how far the source pixel it takes may lie at other angles.
constexpr LONG kSampleReach = 2;

enum class Turn { kNone, kQuarter, kHalf, kThreeQuarters, kOther };

bool IsNear(double a, double target) {
    return std::fabs(a - target) <= CPravonFilterTransform::kNear;
}

// How a rotation already brought into [0, 360) moves pixels.
Turn TurnOf(double a) {
    if (a <= CPravonFilterTransform::kNear || a >= kNearFullTurn)
        return Turn::kNone;
    if (IsNear(a, 90))
        return Turn::kQuarter;
    if (IsNear(a, 180))
        return Turn::kHalf;
    if (IsNear(a, 270))
        return Turn::kThreeQuarters;
    return Turn::kOther;
}

// The bounding box of a width x height image rotated by rotation (any finite angle), or the same size
// without resize; false when a side does not fit 32 bits or the angle is not finite.
bool RotatedSize(double rotation, bool resize, LONG* width, LONG* height) {
    if (!resize)
        return true;
    if (!std::isfinite(rotation))
        return false;
    const double b = std::fmod(CPravonFilterTransform::ValidateRotation(rotation) + 90.0, 180.0);
    const double c = std::fabs(b - 90.0);
    if (c == 90.0) {
        std::swap(*width, *height);
        return true;
    }
    if (c == 0.0)
        return true;
    const double r = c * kRadiansPerDegree;
    const double w = std::fabs(*width * std::cos(r) + *height * std::sin(r));
    const double h = std::fabs(*height * std::cos(r) + *width * std::sin(r));
    if (!(w <= Int32Math::kMax && h <= Int32Math::kMax))
        return false;
    *width = static_cast<LONG>(w);
    *height = static_cast<LONG>(h);
    return true;
}

// The geometry of one mapping: the source's size and centre, the flip, the turn with its cosine and sine,
// and the output's centre. The static mappings and the tile walks share it, so that a walk takes exactly
// the pixels the mappings name.
class CFrame {
public:
    CFrame(LONG width, LONG height, bool flip, double rotation, bool resize)
        : m_width(width), m_flip(flip), m_turn(TurnOf(CPravonFilterTransform::ValidateRotation(rotation))),
          m_sourceX(width / 2.0), m_sourceY(height / 2.0), m_outputX(m_sourceX), m_outputY(m_sourceY) {
        const double a = CPravonFilterTransform::ValidateRotation(rotation) * kRadiansPerDegree;
        m_cos = std::cos(a);
        m_sin = std::sin(a);
        if (!resize)
            return;
        if (m_turn == Turn::kQuarter || m_turn == Turn::kThreeQuarters) {
            m_outputX = height / 2.0;
            m_outputY = width / 2.0;
        } else if (m_turn == Turn::kOther) {
            // A size beyond 32 bits maps nothing useful; its centre is that of the largest size.
            LONG w = width;
            LONG h = height;
            if (!RotatedSize(CPravonFilterTransform::ValidateRotation(rotation), true, &w, &h))
                w = h = Int32Math::kMax;
            m_outputX = w / 2.0;
            m_outputY = h / 2.0;
        }
    }

    Turn GetTurn() const { return m_turn; }
    bool IsFlipped() const { return m_flip; }

    void Forward(PravonDblRect* rect) const {
        if (m_flip)
            Mirror(rect);
        if (m_turn == Turn::kNone)
            return;
        Corners(rect, m_sourceX, m_sourceY, m_outputX, m_outputY, [this](double& x, double& y) {
            const double u = x;
            const double v = y;
            switch (m_turn) {
            case Turn::kQuarter:
                x = -v, y = u;
                break;
            case Turn::kHalf:
                x = -u, y = -v;
                break;
            case Turn::kThreeQuarters:
                x = v, y = -u;
                break;
            default:
                x = u * m_cos - v * m_sin, y = u * m_sin + v * m_cos;
                break;
            }
        });
    }

    void Back(PravonDblRect* rect) const {
        if (m_turn != Turn::kNone)
            Corners(rect, m_outputX, m_outputY, m_sourceX, m_sourceY, [this](double& x, double& y) {
                const double u = x;
                const double v = y;
                switch (m_turn) {
                case Turn::kQuarter:
                    x = v, y = -u;
                    break;
                case Turn::kHalf:
                    x = -u, y = -v;
                    break;
                case Turn::kThreeQuarters:
                    x = -v, y = u;
                    break;
                default:
                    x = u * m_cos + v * m_sin, y = -u * m_sin + v * m_cos;
                    break;
                }
            });
        if (m_flip)
            Mirror(rect);
    }

    // The source pixel that output pixel (u, v) maps back to: the top-left corner of its mapped square,
    // truncated toward zero.
    void BackPoint(LONG u, LONG v, LONG* x, LONG* y) const {
        const PravonDblRect square = BackSquare(u, v);
        *x = SaturatedTrunc(square.left);
        *y = SaturatedTrunc(square.top);
    }

    // The same corner rounded down. It names the same pixel once held inside the source (a corner between
    // -1 and 0 truncates to 0 and rounds down to -1, which is held at 0), and it moves by whole pixels
    // along a quarter-turn walk, wherever the walk starts.
    void BackPointDown(LONG u, LONG v, LONG* x, LONG* y) const {
        const PravonDblRect square = BackSquare(u, v);
        *x = SaturatedTrunc(std::floor(square.left));
        *y = SaturatedTrunc(std::floor(square.top));
    }

private:
    PravonDblRect BackSquare(LONG u, LONG v) const {
        PravonDblRect square{static_cast<double>(u), static_cast<double>(v), u + 1.0, v + 1.0};
        Back(&square);
        return square;
    }

    void Mirror(PravonDblRect* rect) const {
        const double left = rect->left;
        rect->left = m_width - rect->right;
        rect->right = m_width - left;
    }

    // Each corner taken relative to (fromX, fromY), turned, and the bounding box moved to (toX, toY).
    template <class TurnCorner>
    static void Corners(PravonDblRect* rect, double fromX, double fromY, double toX, double toY,
                        TurnCorner&& turn) {
        double xs[4] = {rect->left, rect->right, rect->left, rect->right};
        double ys[4] = {rect->top, rect->top, rect->bottom, rect->bottom};
        for (int i = 0; i < 4; ++i) {
            xs[i] -= fromX;
            ys[i] -= fromY;
            turn(xs[i], ys[i]);
        }
        rect->left = *std::min_element(xs, xs + 4) + toX;
        rect->right = *std::max_element(xs, xs + 4) + toX;
        rect->top = *std::min_element(ys, ys + 4) + toY;
        rect->bottom = *std::max_element(ys, ys + 4) + toY;
    }

    LONG m_width;
    bool m_flip;
    Turn m_turn;
    double m_cos = 1;
    double m_sin = 0;
    double m_sourceX;
    double m_sourceY;
    double m_outputX;
    double m_outputY;
};

PravonDblRect ToDouble(const PravonRect& r) {
    return PravonDblRect{static_cast<double>(r.left), static_cast<double>(r.top),
                         static_cast<double>(r.right), static_cast<double>(r.bottom)};
}

PravonRect Truncated(const PravonDblRect& r) {
    return PravonRect{SaturatedTrunc(r.left), SaturatedTrunc(r.top), SaturatedTrunc(r.right),
                      SaturatedTrunc(r.bottom)};
}

// The source steps of a quarter-turn walk: per output pixel and per output row.
struct CWalkSteps {
    LONG pixelX;
    LONG pixelY;
    LONG rowX;
    LONG rowY;
};

CWalkSteps StepsOf(Turn turn, bool flip) {
    switch (turn) {
    case Turn::kQuarter:
        return flip ? CWalkSteps{0, -1, -1, 0} : CWalkSteps{0, -1, 1, 0};
    case Turn::kHalf:
        return flip ? CWalkSteps{1, 0, 0, -1} : CWalkSteps{-1, 0, 0, -1};
    case Turn::kThreeQuarters:
        return flip ? CWalkSteps{0, 1, 1, 0} : CWalkSteps{0, 1, -1, 0};
    default:
        return flip ? CWalkSteps{-1, 0, 0, 1} : CWalkSteps{1, 0, 0, 1};
    }
}

template <int Bytes>
void CopyPixels(BYTE* to, const BYTE* from, std::ptrdiff_t step, LONG count) {
    for (LONG i = 0; i < count; ++i, to += Bytes, from += step)
        std::memcpy(to, from, Bytes);
}

// count pixels of bytes each into to, taken step bytes apart from from.
void CopyRun(BYTE* to, const BYTE* from, std::ptrdiff_t step, LONG count, LONG bytes) {
    if (step == bytes) {
        std::memcpy(to, from, static_cast<std::size_t>(count) * static_cast<std::size_t>(bytes));
        return;
    }
    if (step == -bytes)
        return TransformRows::Choose().reverse(to, from, count, bytes);
    switch (bytes) {
    case 1:
        return CopyPixels<1>(to, from, step, count);
    case 2:
        return CopyPixels<2>(to, from, step, count);
    case 3:
        return CopyPixels<3>(to, from, step, count);
    case 4:
        return CopyPixels<4>(to, from, step, count);
    case 6:
        return CopyPixels<6>(to, from, step, count);
    case 8:
        return CopyPixels<8>(to, from, step, count);
    default:
        for (LONG i = 0; i < count; ++i, to += bytes, from += step)
            std::memcpy(to, from, static_cast<std::size_t>(bytes));
    }
}

// A walk along rows reads a run of each source row, often backwards, where the processor's own
// prefetching follows late: the same run this many rows below is asked for while a row is copied.
constexpr LONG kPrefetchRows = 4;
// The output row this many below the one written is asked for.
constexpr LONG kWriteAheadRows = 4;
constexpr std::ptrdiff_t kCacheLine = 64;
// Rows of more bytes than this are asked into the second-level cache: as many lines asked into the first
// level at once wait on its few outstanding misses (a mirrored 16-bit RGB picture was copied a fifth
// slower so), while shorter rows are copied faster from the first level.
constexpr std::ptrdiff_t kFirstLevelRow = 1024;

// Always inlined: as a function of its own, the compiler finds that it changes no memory and drops its
// calls, prefetches and all.
[[gnu::always_inline]] inline void PrefetchRun(const BYTE* first, std::ptrdiff_t step, LONG count, LONG bytes,
                                               bool secondLevel) {
    const BYTE* low = step < 0 ? first + step * (count - 1) : first;
    const std::ptrdiff_t span = static_cast<std::ptrdiff_t>(count) * bytes;
    if (secondLevel) {
        for (std::ptrdiff_t b = 0; b < span; b += kCacheLine)
            _mm_prefetch(reinterpret_cast<const char*>(low + b), _MM_HINT_T1);
    } else {
        for (std::ptrdiff_t b = 0; b < span; b += kCacheLine)
            _mm_prefetch(reinterpret_cast<const char*>(low + b), _MM_HINT_T0);
    }
}

// A quarter-turn walk over the invalid part: each output row is a straight run of source pixels, copied in
// pieces that stay inside one source tile. Positions beyond the source take its edge pixels.
IPravonError* Walk(CSourceTileCursor& cursor, const CFrame& frame, const CPravonRect& invalid, BYTE* firstRow,
                   LONG rowBytes, LONG bytes) {
    const CWalkSteps steps = StepsOf(frame.GetTurn(), frame.IsFlipped());
    LONG startX = 0;
    LONG startY = 0;
    frame.BackPointDown(invalid.left, invalid.top, &startX, &startY);
    const LONG width = invalid.right - invalid.left;
    const bool secondLevel = static_cast<std::ptrdiff_t>(width) * bytes > kFirstLevelRow;
    const LONG height = invalid.bottom - invalid.top;
    for (LONG v = 0; v < height; ++v) {
        BYTE* to = firstRow + static_cast<std::ptrdiff_t>(v) * rowBytes;
        // The output tile is seldom in the cache: where rows are long, the row a few below is asked into
        // the second level as well, so that the copy's stores do not each wait for their line.
        if (secondLevel && v + kWriteAheadRows < height) {
            const BYTE* ahead = to + static_cast<std::ptrdiff_t>(kWriteAheadRows) * rowBytes;
            for (std::ptrdiff_t b = 0; b < static_cast<std::ptrdiff_t>(width) * bytes; b += kCacheLine)
                _mm_prefetch(reinterpret_cast<const char*>(ahead + b), _MM_HINT_T1);
        }
        LONG x = startX + v * steps.rowX;
        LONG y = startY + v * steps.rowY;
        LONG done = 0;
        while (done < width) {
            if (IPravonError* e = cursor.MoveTo(x, y))
                return e;
            LONG room = 0;
            if (steps.pixelX != 0 && !cursor.IsOutsideX())
                room = steps.pixelX > 0 ? cursor.GetPixelsRight() : cursor.GetPixelsLeft();
            else if (steps.pixelY != 0 && !cursor.IsOutsideY())
                room = steps.pixelY > 0 ? cursor.GetRowsBelow() : cursor.GetRowsAbove();
            const LONG run = std::min(width - done, room + 1);
            const std::ptrdiff_t step = static_cast<std::ptrdiff_t>(steps.pixelX) * bytes +
                                        static_cast<std::ptrdiff_t>(steps.pixelY) * cursor.GetRowStride();
            if (steps.pixelY == 0 && steps.rowY > 0 && cursor.GetRowsBelow() >= kPrefetchRows)
                PrefetchRun(cursor.GetPtr() +
                                kPrefetchRows * static_cast<std::ptrdiff_t>(cursor.GetRowStride()),
                            step, run, bytes, secondLevel);
            CopyRun(to + static_cast<std::ptrdiff_t>(done) * bytes, cursor.GetPtr(), step, run, bytes);
            done += run;
            x += run * steps.pixelX;
            y += run * steps.pixelY;
        }
    }
    return nullptr;
}

// Any other angle: every output pixel takes the source pixel it maps back to, or zeros outside the source.
IPravonError* Sample(CSourceTileCursor& cursor, const CFrame& frame, const CPravonRect& invalid,
                     BYTE* firstRow, LONG rowBytes, LONG bytes, LONG sourceWidth, LONG sourceHeight) {
    for (LONG v = invalid.top; v < invalid.bottom; ++v) {
        BYTE* to = firstRow + static_cast<std::ptrdiff_t>(v - invalid.top) * rowBytes;
        for (LONG u = invalid.left; u < invalid.right; ++u, to += bytes) {
            LONG x = 0;
            LONG y = 0;
            frame.BackPoint(u, v, &x, &y);
            if (x < 0 || y < 0 || x >= sourceWidth || y >= sourceHeight) {
                std::memset(to, 0, static_cast<std::size_t>(bytes));
                continue;
            }
            if (IPravonError* e = cursor.MoveTo(x, y))
                return e;
            std::memcpy(to, cursor.GetPtr(), static_cast<std::size_t>(bytes));
        }
    }
    return nullptr;
}

} // namespace

CPravonFilterTransform::CPravonFilterTransform(IPravonManager* manager) : CPravonFilterBase(manager, 1) {
    SetPassThrough(true);
}

CPravonFilterTransform::~CPravonFilterTransform() = default;

double CPravonFilterTransform::ValidateRotation(double rotation) {
    return std::fmod(360.0 - std::fmod(360.0 - rotation, 360.0), 360.0);
}

void CPravonFilterTransform::DoStateTransform(bool* flip, double* rotation, bool filterFlip,
                                              double filterRotation, bool relative) {
    if (!relative) {
        *flip = filterFlip;
        *rotation = filterRotation;
    } else if (filterFlip) {
        // A mirror after the source's rotation turns that rotation the other way.
        *flip = !*flip;
        *rotation = ValidateRotation(filterRotation - *rotation);
    } else {
        *rotation = ValidateRotation(filterRotation + *rotation);
    }
}

void CPravonFilterTransform::DoStateTransform(bool* flip, double* rotation) const {
    DoStateTransform(flip, rotation, m_flip, m_rotation, m_relative);
}

void CPravonFilterTransform::GetRelativeTransform(bool* flip, double* rotation, bool filterFlip,
                                                  double filterRotation, bool relative) {
    if (relative) {
        *flip = filterFlip;
        *rotation = ValidateRotation(filterRotation);
        return;
    }
    // The pixels undo the source's state and then take the filter's: a mirror is needed when the two
    // flips differ, and it turns the source's rotation the other way.
    const bool mirror = *flip != filterFlip;
    *rotation = ValidateRotation(mirror ? filterRotation + *rotation : filterRotation - *rotation);
    *flip = mirror;
}

void CPravonFilterTransform::GetRelativeTransform(bool* flip, double* rotation) const {
    GetRelativeTransform(flip, rotation, m_flip, m_rotation, m_relative);
}

IPravonError* CPravonFilterTransform::GetRelativeTransform(IPravonDataSource* const* sources, LONG count,
                                                           bool* flip, double* rotation) {
    if (!sources || count <= 0)
        GetSources(&sources, &count);
    if (!sources || count <= 0 || !sources[0])
        return PravonFail(kCode, PravonKind::kNoSource, "the filter has no source");
    bool sourceFlip = false;
    double sourceRotation = 0;
    if (IPravonError* e = sources[0]->GetTransform(&sourceFlip, &sourceRotation))
        return PravonContext(e, kCode, "cannot read the source's transform");
    GetRelativeTransform(&sourceFlip, &sourceRotation);
    *flip = sourceFlip;
    *rotation = sourceRotation;
    return nullptr;
}

IPravonError* CPravonFilterTransform::GetFilteredSize(LONG* width, LONG* height, double rotation,
                                                      bool resize) {
    LONG w = *width;
    LONG h = *height;
    if (!RotatedSize(rotation, resize, &w, &h))
        return PravonFail(kCode, PravonKind::kOutOfRange, "the rotated size does not fit 32 bits");
    *width = w;
    *height = h;
    return nullptr;
}

void CPravonFilterTransform::FilterRect(PravonDblRect* rect, LONG width, LONG height, bool flip,
                                        double rotation, bool resize) {
    CFrame(width, height, flip, rotation, resize).Forward(rect);
}

void CPravonFilterTransform::FilterRect(PravonRect* rect, LONG width, LONG height, bool flip, double rotation,
                                        bool resize) {
    PravonDblRect r = ToDouble(*rect);
    FilterRect(&r, width, height, flip, rotation, resize);
    *rect = Truncated(r);
}

void CPravonFilterTransform::FilterPoint(double* x, double* y, LONG width, LONG height, bool flip,
                                         double rotation, bool resize) {
    PravonDblRect square{*x, *y, *x + 1, *y + 1};
    FilterRect(&square, width, height, flip, rotation, resize);
    *x = square.left;
    *y = square.top;
}

void CPravonFilterTransform::FilterPoint(LONG* x, LONG* y, LONG width, LONG height, bool flip,
                                         double rotation, bool resize) {
    double dx = *x;
    double dy = *y;
    FilterPoint(&dx, &dy, width, height, flip, rotation, resize);
    *x = SaturatedTrunc(dx);
    *y = SaturatedTrunc(dy);
}

void CPravonFilterTransform::DefilterRect(PravonDblRect* rect, LONG width, LONG height, bool flip,
                                          double rotation, bool resize) {
    CFrame(width, height, flip, rotation, resize).Back(rect);
}

void CPravonFilterTransform::DefilterRect(PravonRect* rect, LONG width, LONG height, bool flip,
                                          double rotation, bool resize) {
    PravonDblRect r = ToDouble(*rect);
    DefilterRect(&r, width, height, flip, rotation, resize);
    *rect = Truncated(r);
}

void CPravonFilterTransform::DefilterPoint(double* x, double* y, LONG width, LONG height, bool flip,
                                           double rotation, bool resize) {
    PravonDblRect square{*x, *y, *x + 1, *y + 1};
    DefilterRect(&square, width, height, flip, rotation, resize);
    *x = square.left;
    *y = square.top;
}

void CPravonFilterTransform::DefilterPoint(LONG* x, LONG* y, LONG width, LONG height, bool flip,
                                           double rotation, bool resize) {
    CFrame(width, height, flip, rotation, resize).BackPoint(*x, *y, x, y);
}

IPravonError* CPravonFilterTransform::ViewSource(IPravonDataSource* const* sources, LONG count,
                                                 CSourceView* view) {
    if (!sources || count <= 0)
        GetSources(&sources, &count);
    if (IPravonError* e = GetRelativeTransform(sources, count, &view->flip, &view->rotation))
        return e;
    if (IPravonError* e = sources[0]->GetSize(&view->width, &view->height))
        return PravonContext(e, kCode, "cannot read the source's size");
    return nullptr;
}

template <class Map>
IPravonError* CPravonFilterTransform::MapOwn(IPravonDataSource* const* sources, LONG count, Map&& map) {
    if (!Maps())
        return nullptr;
    CSourceView view;
    if (IPravonError* e = ViewSource(sources, count, &view))
        return e;
    map(view);
    return nullptr;
}

IPravonError* CPravonFilterTransform::FilterPoint(double* x, double* y, IPravonDataSource* const* sources,
                                                  LONG count) {
    return MapOwn(sources, count, [&](const CSourceView& v) {
        FilterPoint(x, y, v.width, v.height, v.flip, v.rotation, m_resize);
    });
}
IPravonError* CPravonFilterTransform::FilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources,
                                                  LONG count) {
    return MapOwn(sources, count, [&](const CSourceView& v) {
        FilterPoint(x, y, v.width, v.height, v.flip, v.rotation, m_resize);
    });
}
IPravonError* CPravonFilterTransform::FilterRect(PravonDblRect* rect, IPravonDataSource* const* sources,
                                                 LONG count) {
    return MapOwn(sources, count, [&](const CSourceView& v) {
        FilterRect(rect, v.width, v.height, v.flip, v.rotation, m_resize);
    });
}
IPravonError* CPravonFilterTransform::FilterRect(PravonRect* rect, IPravonDataSource* const* sources,
                                                 LONG count) {
    return MapOwn(sources, count, [&](const CSourceView& v) {
        FilterRect(rect, v.width, v.height, v.flip, v.rotation, m_resize);
    });
}
IPravonError* CPravonFilterTransform::DefilterPoint(double* x, double* y, IPravonDataSource* const* sources,
                                                    LONG count) {
    return MapOwn(sources, count, [&](const CSourceView& v) {
        DefilterPoint(x, y, v.width, v.height, v.flip, v.rotation, m_resize);
    });
}
IPravonError* CPravonFilterTransform::DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources,
                                                    LONG count) {
    return MapOwn(sources, count, [&](const CSourceView& v) {
        DefilterPoint(x, y, v.width, v.height, v.flip, v.rotation, m_resize);
    });
}
IPravonError* CPravonFilterTransform::DefilterRect(PravonDblRect* rect, IPravonDataSource* const* sources,
                                                   LONG count) {
    return MapOwn(sources, count, [&](const CSourceView& v) {
        DefilterRect(rect, v.width, v.height, v.flip, v.rotation, m_resize);
    });
}
IPravonError* CPravonFilterTransform::DefilterRect(PravonRect* rect, IPravonDataSource* const* sources,
                                                   LONG count) {
    return MapOwn(sources, count, [&](const CSourceView& v) {
        DefilterRect(rect, v.width, v.height, v.flip, v.rotation, m_resize);
    });
}

IPravonError* CPravonFilterTransform::GetFilteredSize(IPravonDataSource* const* sources, LONG count,
                                                      LONG* width, LONG* height) {
    if (IPravonError* e = CPravonFilterBase::GetFilteredSize(sources, count, width, height))
        return e;
    if (!IsEnabled() || !m_resize)
        return nullptr;
    bool flip = false;
    double rotation = 0;
    if (IPravonError* e = GetRelativeTransform(sources, count, &flip, &rotation))
        return e;
    return GetFilteredSize(width, height, rotation, true);
}

IPravonError* CPravonFilterTransform::GetFilteredTransform(IPravonDataSource* const* sources, LONG count,
                                                           bool* flip, double* angle) {
    if (!IsEnabled() || m_relative)
        if (IPravonError* e = CPravonFilterBase::GetFilteredTransform(sources, count, flip, angle))
            return e;
    if (IsEnabled())
        DoStateTransform(flip, angle);
    return nullptr;
}

IPravonError* CPravonFilterTransform::FilterSize(IPravonDataSource* source, ChangeSize* change) {
    if (!IsEnabled() || !m_resize || !change)
        return CPravonFilterBase::FilterSize(source, change);
    IPravonDataSource* const notifying[1] = {source};
    bool flip = false;
    double rotation = 0;
    if (IPravonError* e = GetRelativeTransform(notifying, 1, &flip, &rotation))
        return e;
    ChangeSize mapped = *change;
    if (IPravonError* e = GetFilteredSize(&mapped.oldWidth, &mapped.oldHeight, rotation, true))
        return e;
    if (IPravonError* e = GetFilteredSize(&mapped.newWidth, &mapped.newHeight, rotation, true))
        return e;
    return CPravonFilterBase::FilterSize(source, &mapped);
}

IPravonError* CPravonFilterTransform::FilterTransform(IPravonDataSource* source, ChangeTransform* change) {
    if (!IsEnabled() || !change)
        return CPravonFilterBase::FilterTransform(source, change);
    // Each size turns by the rotation its own source state asks of the pixels: the filter's own in
    // relative mode, what takes that state to the filter's in absolute mode.
    ChangeTransform mapped = *change;
    bool oldFlip = change->oldFlip;
    double oldRotation = change->oldRotation;
    bool newFlip = change->newFlip;
    double newRotation = change->newRotation;
    GetRelativeTransform(&oldFlip, &oldRotation);
    GetRelativeTransform(&newFlip, &newRotation);
    if (IPravonError* e = GetFilteredSize(&mapped.oldWidth, &mapped.oldHeight, oldRotation, m_resize))
        return e;
    if (IPravonError* e = GetFilteredSize(&mapped.newWidth, &mapped.newHeight, newRotation, m_resize))
        return e;
    DoStateTransform(&mapped.oldFlip, &mapped.oldRotation);
    DoStateTransform(&mapped.newFlip, &mapped.newRotation);
    return CPravonFilterBase::FilterTransform(source, &mapped);
}

CPravonFilterBase::CHalo CPravonFilterTransform::GetHalo(IPravonDataSource* const* sources, LONG count) {
    if (!Maps())
        return CHalo{};
    bool flip = false;
    double rotation = 0;
    if (PravonErrorPtr(GetRelativeTransform(sources, count, &flip, &rotation)))
        return CHalo{};
    if (TurnOf(rotation) != Turn::kOther)
        return CHalo{};
    return CHalo{kSampleReach, kSampleReach, kSampleReach, kSampleReach};
}

IPravonError* CPravonFilterTransform::MapChangedArea(IPravonDataSource* source, const PravonRect& rect,
                                                     PravonRect* area) {
    if (!Maps() || m_resize)
        return CPravonFilterBase::MapChangedArea(source, rect, area);
    IPravonDataSource* const notifying[1] = {source};
    CSourceView view;
    if (IPravonError* e = ViewSource(notifying, 1, &view))
        return e;
    const Turn turn = TurnOf(view.rotation);
    if ((turn != Turn::kQuarter && turn != Turn::kThreeQuarters) || view.width == view.height)
        return CPravonFilterBase::MapChangedArea(source, rect, area);
    // The output keeps the source's size, so a quarter turn takes pixels beyond two of the source's
    // sides: they repeat its edge pixels, and a change at an edge reaches out to the output's border.
    const std::int64_t beyond = std::int64_t{view.width} + view.height;
    PravonRect wide = rect;
    if (rect.left <= 0)
        wide.left = Int32Math::SaturatedAdd(rect.left, -beyond);
    if (rect.top <= 0)
        wide.top = Int32Math::SaturatedAdd(rect.top, -beyond);
    if (rect.right >= view.width)
        wide.right = Int32Math::SaturatedAdd(rect.right, beyond);
    if (rect.bottom >= view.height)
        wide.bottom = Int32Math::SaturatedAdd(rect.bottom, beyond);
    if (IPravonError* e = CPravonFilterBase::MapChangedArea(source, wide, area))
        return e;
    *area = CPravonRect(*area).Intersect(CPravonRect(0, 0, view.width, view.height));
    return nullptr;
}

bool CPravonFilterTransform::HasSource() const {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    return count > 0 && sources[0];
}

IPravonError* CPravonFilterTransform::ReadOutputState(COutputState* state) {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    if (IsPassThrough()) {
        if (IPravonError* e = sources[0]->GetTransform(&state->flip, &state->rotation))
            return e;
        return sources[0]->GetSize(&state->width, &state->height);
    }
    if (IPravonError* e = GetFilteredTransform(sources, count, &state->flip, &state->rotation))
        return e;
    return GetFilteredSize(sources, count, &state->width, &state->height);
}

void CPravonFilterTransform::UpdatePassThrough() {
    // Only a relative filter that does nothing shows its source as it is: an absolute one gives the
    // output its own state, whatever the source's.
    SetPassThrough(m_relative && !m_flip && TurnOf(m_rotation) == Turn::kNone);
}

template <class Change>
IPravonError* CPravonFilterTransform::ApplyChange(bool notify, LONG notification, Change&& change) {
    const bool announce = notify && IsEnabled() && HasSource();
    COutputState before;
    if (announce)
        if (IPravonError* e = ReadOutputState(&before))
            return PravonContext(e, kCode, "cannot read the output's state");
    const bool flip = m_flip;
    const double rotation = m_rotation;
    const bool relative = m_relative;
    const bool resize = m_resize;
    if (!change())
        return nullptr;
    UpdatePassThrough();
    SetCacheCheck();
    if (!announce)
        return nullptr;
    COutputState after;
    if (IPravonError* e = ReadOutputState(&after)) {
        m_flip = flip;
        m_rotation = rotation;
        m_relative = relative;
        m_resize = resize;
        UpdatePassThrough();
        return PravonContext(e, kCode, "cannot read the output's new state; the change is undone");
    }
    if (notification == PravonNotification::kSize) {
        ChangeSize record{before.width, before.height, after.width, after.height};
        return PravonSendDataNotification(this, PravonNotification::kSize, &record);
    }
    ChangeTransform record;
    record.oldFlip = before.flip;
    record.oldRotation = before.rotation;
    record.newFlip = after.flip;
    record.newRotation = after.rotation;
    record.oldWidth = before.width;
    record.oldHeight = before.height;
    record.newWidth = after.width;
    record.newHeight = after.height;
    return PravonSendDataNotification(this, PravonNotification::kTransform, &record);
}

IPravonError* CPravonFilterTransform::SetTransform(bool flip, double rotation, bool relative, bool notify) {
    if (!std::isfinite(rotation))
        return PravonFail(kCode, PravonKind::kOutOfRange, "the rotation is not a finite angle");
    return ApplyChange(notify, PravonNotification::kTransform, [&] {
        if (flip == m_flip && rotation == m_rotation && relative == m_relative)
            return false;
        m_flip = flip;
        m_rotation = ValidateRotation(rotation);
        m_relative = relative;
        return true;
    });
}

IPravonError* CPravonFilterTransform::FlipHorz(bool notify) {
    return ApplyChange(notify, PravonNotification::kTransform, [&] {
        m_flip = !m_flip;
        m_rotation = ValidateRotation(-m_rotation);
        return true;
    });
}

IPravonError* CPravonFilterTransform::FlipVert(bool notify) {
    return ApplyChange(notify, PravonNotification::kTransform, [&] {
        m_flip = !m_flip;
        m_rotation = ValidateRotation(180.0 - m_rotation);
        return true;
    });
}

IPravonError* CPravonFilterTransform::RotateCW(double angle, bool notify) {
    if (!std::isfinite(angle))
        return PravonFail(kCode, PravonKind::kOutOfRange, "the rotation is not a finite angle");
    return ApplyChange(notify, PravonNotification::kTransform, [&] {
        const double rotation = ValidateRotation(m_rotation + angle);
        if (rotation == m_rotation)
            return false;
        m_rotation = rotation;
        return true;
    });
}

IPravonError* CPravonFilterTransform::RotateCCW(double angle, bool notify) {
    if (!std::isfinite(angle))
        return PravonFail(kCode, PravonKind::kOutOfRange, "the rotation is not a finite angle");
    return RotateCW(360.0 - angle, notify);
}

IPravonError* CPravonFilterTransform::DoResize(bool resize, bool notify) {
    return ApplyChange(notify, PravonNotification::kSize, [&] {
        if (resize == m_resize)
            return false;
        m_resize = resize;
        return true;
    });
}

IPravonError* CPravonFilterTransform::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* const* sources = nullptr;
        LONG count = 0;
        GetProcessSources(info, &sources, &count);
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        CSourceView view;
        if (IPravonError* e = ViewSource(sources, count, &view))
            return e;
        // A pass of a disabled filter copies its source, as its geometry says.
        if (!IsEnabled()) {
            view.flip = false;
            view.rotation = 0;
        }
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source's colour space");
        const LONG bits = GetBitsPerPixel(colorSpace);
        if (bits < 8 || bits % 8 != 0 || (out.colorSpace != 0 && GetBitsPerPixel(out.colorSpace) != bits))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        const LONG bytes = bits / 8;

        const CFrame frame(view.width, view.height, view.flip, view.rotation, m_resize);
        const CPravonRect& invalid = out.invalid;
        BYTE* firstRow =
            out.Row(invalid.top) + static_cast<std::ptrdiff_t>(invalid.left - out.rect.left) * bytes;
        CSourceTileCursor cursor(source, 4);
        IPravonError* err =
            frame.GetTurn() == Turn::kOther
                ? Sample(cursor, frame, invalid, firstRow, out.rowBytes, bytes, view.width, view.height)
                : Walk(cursor, frame, invalid, firstRow, out.rowBytes, bytes);
        cursor.UnlockAll();
        return err;
    });
}

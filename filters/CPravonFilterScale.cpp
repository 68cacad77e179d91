#include "CPravonFilterScale.h"

#include "filters/engine/ClearUncovered.h"
#include "filters/engine/Int32Math.h"
#include "platform/pravon/PravonGraph.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr LONG kCode = CPravonFilterScale::kCode;

using Int32Math::CeilDiv;
using Int32Math::FloorDiv;
using Int32Math::Saturate;

// How one axis of a mapping moves a coordinate: by num / den (the four-size forms, in exact integer
// arithmetic for integer coordinates), times a factor, or divided by one. An axis whose divisor is 0
// stays as it is, as does the identity.
struct Axis {
    enum class Op { Identity, Ratio, Times, Divide };
    Op op = Op::Identity;
    LONG num = 0;
    LONG den = 0;
    double factor = 0;
};

Axis Ratio(LONG num, LONG den) {
    return den == 0 ? Axis{} : Axis{Axis::Op::Ratio, num, den, 0};
}
Axis Times(double factor) {
    return Axis{Axis::Op::Times, 0, 0, factor};
}
// Times 1 / s, rounded to a double first.
Axis Reciprocal(double s) {
    return s == 0 ? Axis{} : Times(1 / s);
}
Axis Divide(double divisor) {
    return divisor == 0 ? Axis{} : Axis{Axis::Op::Divide, 0, 0, divisor};
}

enum class Rounding { Trunc, Floor, Ceil };

// An integer coordinate: an exact quotient rounded as asked, or a real one that is rounded, held in 32
// bits; a real result that is not a number leaves the coordinate as it was.
void Move(LONG* v, const Axis& axis, Rounding rounding) {
    double real = 0;
    switch (axis.op) {
    case Axis::Op::Identity:
        return;
    case Axis::Op::Ratio: {
        const std::int64_t product = std::int64_t{axis.num} * *v;
        *v = Saturate(rounding == Rounding::Floor  ? FloorDiv(product, axis.den)
                      : rounding == Rounding::Ceil ? CeilDiv(product, axis.den)
                                                   : product / axis.den);
        return;
    }
    case Axis::Op::Times:
        real = *v * axis.factor;
        break;
    case Axis::Op::Divide:
        real = *v / axis.factor;
        break;
    }
    if (std::isnan(real))
        return;
    *v = Int32Math::SaturatedTrunc(rounding == Rounding::Floor  ? std::floor(real)
                                   : rounding == Rounding::Ceil ? std::ceil(real)
                                                                : std::trunc(real));
}

void Move(double* v, const Axis& axis, Rounding) {
    switch (axis.op) {
    case Axis::Op::Identity:
        return;
    case Axis::Op::Ratio:
        *v = *v * axis.num / axis.den;
        return;
    case Axis::Op::Times:
        *v = *v * axis.factor;
        return;
    case Axis::Op::Divide:
        *v = *v / axis.factor;
        return;
    }
}

// Points truncate toward zero; rectangles round outward, left and top down, right and bottom up.
template <class T>
void MovePoint(T* x, T* y, const Axis& ax, const Axis& ay) {
    Move(x, ax, Rounding::Trunc);
    Move(y, ay, Rounding::Trunc);
}

template <class R>
void MoveRect(R* rect, const Axis& ax, const Axis& ay) {
    Move(&rect->left, ax, Rounding::Floor);
    Move(&rect->right, ax, Rounding::Ceil);
    Move(&rect->top, ay, Rounding::Floor);
    Move(&rect->bottom, ay, Rounding::Ceil);
}

// One side of the output in scale mode: trunc(size * factor + 0.5).
IPravonError* ScaledSide(LONG component, LONG size, double factor, LONG* out) {
    const double v = static_cast<double>(size) * factor + 0.5;
    if (!std::isfinite(v) || v < 0 || v >= 2147483648.0)
        return PravonFail(component, PravonKind::kOutOfRange, "the scaled size is out of range");
    *out = static_cast<LONG>(v);
    return nullptr;
}

bool Near(double stored, double value) {
    return stored >= value - 1e-10 && stored <= value + 1e-10;
}

bool NearOne(double v) {
    return v >= 0.9999999999 && v <= 1.0000000001;
}

} // namespace

CPravonFilterScale::CPravonFilterScale(IPravonManager* manager, LONG method)
    : CPravonFilterBase(manager, 1), m_method(method), m_pipeline(kCode) {
    SetPassThrough(true);
}

CPravonFilterScale::~CPravonFilterScale() = default;

void CPravonFilterScale::GetScale(double* sx, double* sy) const {
    if (sx)
        *sx = m_scaleX;
    if (sy)
        *sy = m_scaleY;
}

bool CPravonFilterScale::HasSource() const {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    return count > 0 && sources[0];
}

IPravonError* CPravonFilterScale::OwnOutputSize(LONG* width, LONG* height) {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    return GetFilteredSize(sources, count, width, height);
}

IPravonError* CPravonFilterScale::AnnounceSize(LONG oldWidth, LONG oldHeight) {
    ChangeSize change;
    change.oldWidth = oldWidth;
    change.oldHeight = oldHeight;
    if (IPravonError* e = OwnOutputSize(&change.newWidth, &change.newHeight))
        return PravonContext(e, GetFilterCode(), "cannot read the new output size");
    return PravonContext(PravonSendDataNotification(this, PravonNotification::kSize, &change),
                         GetFilterCode(), "the size change was not taken downstream");
}

IPravonError* CPravonFilterScale::SetMethod(LONG method, bool notify) {
    if (method == m_method)
        return nullptr;
    m_method = method;
    SetCacheCheck();
    m_pipeline.MarkChanged();
    if (!notify || !IsEnabled() || !HasSource())
        return nullptr;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = OwnOutputSize(&width, &height))
        return PravonContext(e, GetFilterCode(), "cannot read the output size");
    PravonRect whole{0, 0, width, height};
    return PravonContext(PravonSendDataNotification(this, PravonNotification::kData, &whole), GetFilterCode(),
                         "the data change was not taken downstream");
}

IPravonError* CPravonFilterScale::SetSize(LONG width, LONG height, bool notify) {
    if (width < 0 || height < 0)
        return PravonFail(GetFilterCode(), PravonKind::kOutOfRange, "negative output size");
    if (!InScaleMode() && width == m_width && height == m_height)
        return nullptr;
    const bool announce = notify && IsEnabled() && HasSource();
    LONG oldWidth = 0;
    LONG oldHeight = 0;
    if (announce)
        if (IPravonError* e = OwnOutputSize(&oldWidth, &oldHeight))
            return PravonContext(e, GetFilterCode(), "cannot read the old output size");

    m_scaleX = 0;
    m_scaleY = 0;
    m_width = width;
    m_height = height;
    SetCacheCheck();
    m_pipeline.MarkChanged();

    IPravonError* err = nullptr;
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    bool same = false;
    if (count == 1 && sources[0]) {
        LONG sourceWidth = 0;
        LONG sourceHeight = 0;
        err = PravonContext(sources[0]->GetSize(&sourceWidth, &sourceHeight), GetFilterCode(),
                            "cannot read the source size");
        same = !err && sourceWidth == width && sourceHeight == height;
    }
    SetPassThrough(same);
    if (announce)
        err = IPravonError::Chain(err, AnnounceSize(oldWidth, oldHeight));
    return err;
}

IPravonError* CPravonFilterScale::SetScale(double sx, double sy, bool notify) {
    if (!std::isfinite(sx) || !std::isfinite(sy))
        return PravonFail(GetFilterCode(), PravonKind::kOutOfRange, "scale factors must be finite");
    if (Near(m_scaleX, sx) && Near(m_scaleY, sy))
        return nullptr;
    const bool announce = notify && IsEnabled() && HasSource();
    LONG oldWidth = 0;
    LONG oldHeight = 0;
    if (announce)
        if (IPravonError* e = OwnOutputSize(&oldWidth, &oldHeight))
            return PravonContext(e, GetFilterCode(), "cannot read the old output size");

    m_scaleX = sx;
    m_scaleY = sy;
    SetCacheCheck();
    m_pipeline.MarkChanged();
    SetPassThrough(NearOne(sx) && NearOne(sy));
    if (announce)
        return AnnounceSize(oldWidth, oldHeight);
    return nullptr;
}

IPravonError* CPravonFilterScale::SetScale(double s, bool notify) {
    return PravonContext(SetScale(s, s, notify), GetFilterCode(), "cannot set the scale");
}

// The static mappings.

void CPravonFilterScale::FilterPoint(LONG* x, LONG* y, LONG srcW, LONG srcH, LONG dstW, LONG dstH) {
    MovePoint(x, y, Ratio(dstW, srcW), Ratio(dstH, srcH));
}
void CPravonFilterScale::FilterPoint(double* x, double* y, LONG srcW, LONG srcH, LONG dstW, LONG dstH) {
    MovePoint(x, y, Ratio(dstW, srcW), Ratio(dstH, srcH));
}
void CPravonFilterScale::FilterRect(PravonRect* rect, LONG srcW, LONG srcH, LONG dstW, LONG dstH) {
    MoveRect(rect, Ratio(dstW, srcW), Ratio(dstH, srcH));
}
void CPravonFilterScale::FilterRect(PravonDblRect* rect, LONG srcW, LONG srcH, LONG dstW, LONG dstH) {
    MoveRect(rect, Ratio(dstW, srcW), Ratio(dstH, srcH));
}
void CPravonFilterScale::FilterPoint(LONG* x, LONG* y, double s) {
    MovePoint(x, y, Times(s), Times(s));
}
void CPravonFilterScale::FilterPoint(double* x, double* y, double s) {
    MovePoint(x, y, Times(s), Times(s));
}
void CPravonFilterScale::FilterRect(PravonRect* rect, double s) {
    MoveRect(rect, Times(s), Times(s));
}
void CPravonFilterScale::FilterRect(PravonDblRect* rect, double s) {
    MoveRect(rect, Times(s), Times(s));
}
void CPravonFilterScale::FilterPoint(LONG* x, LONG* y, double sx, double sy) {
    MovePoint(x, y, Times(sx), Times(sy));
}
void CPravonFilterScale::FilterPoint(double* x, double* y, double sx, double sy) {
    MovePoint(x, y, Times(sx), Times(sy));
}
void CPravonFilterScale::FilterRect(PravonRect* rect, double sx, double sy) {
    MoveRect(rect, Times(sx), Times(sy));
}
void CPravonFilterScale::FilterRect(PravonDblRect* rect, double sx, double sy) {
    MoveRect(rect, Times(sx), Times(sy));
}

void CPravonFilterScale::DefilterPoint(LONG* x, LONG* y, LONG srcW, LONG srcH, LONG dstW, LONG dstH) {
    MovePoint(x, y, Ratio(srcW, dstW), Ratio(srcH, dstH));
}
void CPravonFilterScale::DefilterPoint(double* x, double* y, LONG srcW, LONG srcH, LONG dstW, LONG dstH) {
    MovePoint(x, y, Ratio(srcW, dstW), Ratio(srcH, dstH));
}
void CPravonFilterScale::DefilterRect(PravonRect* rect, LONG srcW, LONG srcH, LONG dstW, LONG dstH) {
    MoveRect(rect, Ratio(srcW, dstW), Ratio(srcH, dstH));
}
void CPravonFilterScale::DefilterRect(PravonDblRect* rect, LONG srcW, LONG srcH, LONG dstW, LONG dstH) {
    MoveRect(rect, Ratio(srcW, dstW), Ratio(srcH, dstH));
}
void CPravonFilterScale::DefilterPoint(LONG* x, LONG* y, double s) {
    MovePoint(x, y, Reciprocal(s), Reciprocal(s));
}
void CPravonFilterScale::DefilterPoint(double* x, double* y, double s) {
    MovePoint(x, y, Reciprocal(s), Reciprocal(s));
}
void CPravonFilterScale::DefilterRect(PravonRect* rect, double s) {
    MoveRect(rect, Reciprocal(s), Reciprocal(s));
}
void CPravonFilterScale::DefilterRect(PravonDblRect* rect, double s) {
    MoveRect(rect, Reciprocal(s), Reciprocal(s));
}
// The two-factor points divide; the rectangles multiply by the reciprocals.
void CPravonFilterScale::DefilterPoint(LONG* x, LONG* y, double sx, double sy) {
    MovePoint(x, y, Divide(sx), Divide(sy));
}
void CPravonFilterScale::DefilterPoint(double* x, double* y, double sx, double sy) {
    MovePoint(x, y, Divide(sx), Divide(sy));
}
void CPravonFilterScale::DefilterRect(PravonRect* rect, double sx, double sy) {
    MoveRect(rect, Reciprocal(sx), Reciprocal(sy));
}
void CPravonFilterScale::DefilterRect(PravonDblRect* rect, double sx, double sy) {
    MoveRect(rect, Reciprocal(sx), Reciprocal(sy));
}

// The filter's own mappings.

IPravonError* CPravonFilterScale::MappingSourceSize(IPravonDataSource* const* sources, LONG count,
                                                    LONG* width, LONG* height) {
    if (!sources || count <= 0)
        GetSources(&sources, &count);
    if (!sources || count <= 0 || !sources[0])
        return PravonFail(GetFilterCode(), PravonKind::kNoSource, "the filter has no source");
    return PravonContext(sources[0]->GetSize(width, height), GetFilterCode(), "cannot read the source size");
}

// The static form of the filter's mode: the factors in scale mode, else the first source's size and the
// output size. Nothing moves while the filter does not scale.
template <class Map>
IPravonError* CPravonFilterScale::MapOwn(IPravonDataSource* const* sources, LONG count, bool given,
                                         Map&& map) {
    if (!given)
        return PravonFail(GetFilterCode(), PravonKind::kBadArgument, "nothing to map");
    if (!Maps())
        return nullptr;
    if (InScaleMode()) {
        map(m_scaleX, m_scaleY);
        return nullptr;
    }
    LONG w = 0, h = 0;
    if (IPravonError* e = MappingSourceSize(sources, count, &w, &h))
        return e;
    map(w, h, m_width, m_height);
    return nullptr;
}

IPravonError* CPravonFilterScale::FilterPoint(double* x, double* y, IPravonDataSource* const* sources,
                                              LONG count) {
    return MapOwn(sources, count, x && y, [&](auto... geometry) { FilterPoint(x, y, geometry...); });
}
IPravonError* CPravonFilterScale::FilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources,
                                              LONG count) {
    return MapOwn(sources, count, x && y, [&](auto... geometry) { FilterPoint(x, y, geometry...); });
}
IPravonError* CPravonFilterScale::FilterRect(PravonDblRect* rect, IPravonDataSource* const* sources,
                                             LONG count) {
    return MapOwn(sources, count, rect, [&](auto... geometry) { FilterRect(rect, geometry...); });
}
IPravonError* CPravonFilterScale::FilterRect(PravonRect* rect, IPravonDataSource* const* sources,
                                             LONG count) {
    return MapOwn(sources, count, rect, [&](auto... geometry) { FilterRect(rect, geometry...); });
}
IPravonError* CPravonFilterScale::DefilterPoint(double* x, double* y, IPravonDataSource* const* sources,
                                                LONG count) {
    return MapOwn(sources, count, x && y, [&](auto... geometry) { DefilterPoint(x, y, geometry...); });
}
IPravonError* CPravonFilterScale::DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources,
                                                LONG count) {
    return MapOwn(sources, count, x && y, [&](auto... geometry) { DefilterPoint(x, y, geometry...); });
}
IPravonError* CPravonFilterScale::DefilterRect(PravonDblRect* rect, IPravonDataSource* const* sources,
                                               LONG count) {
    return MapOwn(sources, count, rect, [&](auto... geometry) { DefilterRect(rect, geometry...); });
}
IPravonError* CPravonFilterScale::DefilterRect(PravonRect* rect, IPravonDataSource* const* sources,
                                               LONG count) {
    return MapOwn(sources, count, rect, [&](auto... geometry) { DefilterRect(rect, geometry...); });
}

IPravonError* CPravonFilterScale::GetFilteredSize(IPravonDataSource* const* sources, LONG count, LONG* width,
                                                  LONG* height) {
    if (!width || !height)
        return PravonFail(GetFilterCode(), PravonKind::kBadArgument, "no size to fill");
    if (IsEnabled() && !InScaleMode()) {
        *width = m_width;
        *height = m_height;
        return nullptr;
    }
    if (!sources || count <= 0 || !sources[0])
        return PravonFail(GetFilterCode(), PravonKind::kNoSource, "the filter has no source");
    LONG w = 0, h = 0;
    if (IPravonError* e = sources[0]->GetSize(&w, &h))
        return PravonContext(e, GetFilterCode(), "cannot read the source size");
    if (!IsEnabled()) {
        *width = w;
        *height = h;
        return nullptr;
    }
    LONG scaledWidth = 0, scaledHeight = 0;
    if (IPravonError* e = ScaledSide(GetFilterCode(), w, m_scaleX, &scaledWidth))
        return e;
    if (IPravonError* e = ScaledSide(GetFilterCode(), h, m_scaleY, &scaledHeight))
        return e;
    *width = scaledWidth;
    *height = scaledHeight;
    return nullptr;
}

// Notifications.

CPravonFilterBase::CHalo CPravonFilterScale::GetHalo(IPravonDataSource* const* sources, LONG count) {
    // Only directions that enlarge use the linear and cubic kernels; a reduced direction averages the
    // source span its output pixel maps to, which the mapping covers.
    const LONG reach = CScalePipeline::KernelTaps(m_method) / 2;
    if (reach == 0)
        return CHalo{};
    bool enlargeX = true;
    bool enlargeY = true;
    IPravonDataSource* source = sources && count > 0 ? sources[0] : nullptr;
    if (source) {
        LONG sw = 0, sh = 0, ow = 0, oh = 0;
        IPravonError* err = source->GetSize(&sw, &sh);
        if (!err)
            err = GetFilteredSize(sources, count, &ow, &oh);
        if (!err) {
            enlargeX = ow > sw;
            enlargeY = oh > sh;
        }
        // Whatever kept the sizes from being read, widening in both directions stays on the safe side.
        PravonErrorPtr discarded(err);
    }
    const LONG x = enlargeX ? reach : 0;
    const LONG y = enlargeY ? reach : 0;
    return CHalo{x, y, x, y};
}

IPravonError* CPravonFilterScale::MapChangedArea(IPravonDataSource* source, const PravonRect& rect,
                                                 PravonRect* area) {
    if (!Maps())
        return CPravonFilterBase::MapChangedArea(source, rect, area);
    IPravonDataSource* const notifying[1] = {source};
    LONG sw = 0, sh = 0, ow = 0, oh = 0;
    if (IPravonError* e = MappingSourceSize(notifying, source ? 1 : 0, &sw, &sh))
        return e;
    if (IPravonError* e = GetFilteredSize(notifying, 1, &ow, &oh))
        return PravonContext(e, GetFilterCode(), "cannot read the output size");
    const CHalo halo = GetHalo(notifying, 1);
    PravonRect grown{Int32Math::SaturatedAdd(rect.left, -std::int64_t{halo.right}),
                     Int32Math::SaturatedAdd(rect.top, -std::int64_t{halo.bottom}),
                     Int32Math::SaturatedAdd(rect.right, halo.left),
                     Int32Math::SaturatedAdd(rect.bottom, halo.top)};
    FilterRect(&grown, sw, sh, ow, oh);
    *area = grown;
    return nullptr;
}

IPravonError* CPravonFilterScale::FilterSize(IPravonDataSource*, ChangeSize* change) {
    if (!change)
        return PravonFail(GetFilterCode(), PravonKind::kBadArgument,
                          "a size notification without its record");
    m_pipeline.MarkChanged();
    if (!IsEnabled()) {
        SetCacheCheck();
        return PravonSendDataNotification(this, PravonNotification::kSize, change);
    }
    if (InScaleMode()) {
        SetCacheCheck();
        ChangeSize scaled;
        IPravonError* e = ScaledSide(GetFilterCode(), change->oldWidth, m_scaleX, &scaled.oldWidth);
        if (!e)
            e = ScaledSide(GetFilterCode(), change->oldHeight, m_scaleY, &scaled.oldHeight);
        if (!e)
            e = ScaledSide(GetFilterCode(), change->newWidth, m_scaleX, &scaled.newWidth);
        if (!e)
            e = ScaledSide(GetFilterCode(), change->newHeight, m_scaleY, &scaled.newHeight);
        if (e)
            return e;
        SetPassThrough(scaled.newWidth == change->newWidth && scaled.newHeight == change->newHeight);
        return PravonSendDataNotification(this, PravonNotification::kSize, &scaled);
    }
    // The output keeps its size, but every output pixel now comes from a differently sized source: the
    // whole output is dropped and announced as changed, in output coordinates.
    SetPassThrough(m_width == change->newWidth && m_height == change->newHeight);
    PravonRect whole{0, 0, m_width, m_height};
    IPravonError* err = InvalidateCache(whole);
    return IPravonError::Chain(err, PravonSendDataNotification(this, PravonNotification::kData, &whole));
}

IPravonError* CPravonFilterScale::FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) {
    m_pipeline.MarkChanged();
    return CPravonFilterBase::FilterColorSpace(source, change);
}

IPravonError* CPravonFilterScale::FilterUpdateAll(IPravonDataSource* source) {
    m_pipeline.MarkChanged();
    IPravonError* err = nullptr;
    if (IsEnabled()) {
        IPravonDataSource* first = source;
        if (!first) {
            IPravonDataSource* const* sources = nullptr;
            LONG count = 0;
            GetSources(&sources, &count);
            first = count > 0 ? sources[0] : nullptr;
        }
        if (first) {
            LONG w = 0, h = 0;
            err = PravonContext(first->GetSize(&w, &h), GetFilterCode(), "cannot read the source size");
            LONG ow = m_width, oh = m_height;
            if (!err && InScaleMode()) {
                err = ScaledSide(GetFilterCode(), w, m_scaleX, &ow);
                if (!err)
                    err = ScaledSide(GetFilterCode(), h, m_scaleY, &oh);
            }
            if (!err)
                SetPassThrough(ow == w && oh == h);
        }
    }
    SetCacheCheck();
    return IPravonError::Chain(err,
                               PravonSendDataNotification(this, PravonNotification::kUpdateAll, nullptr));
}

// One output tile.

IPravonError* CPravonFilterScale::ReadTileSource(CProcessInfo* info, const COutputTile& out,
                                                 CTileSource* tile) {
    *tile = CTileSource{};
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = GetFirstSource(info, &source))
        return PravonContext(e, GetFilterCode(), "the scale filter has no source");
    if (IPravonError* e = source->GetSize(&tile->sourceWidth, &tile->sourceHeight))
        return PravonContext(e, GetFilterCode(), "cannot read the source size");
    // A fixed-size output of an empty source is black throughout, as a fresh tile would show it.
    if (tile->sourceWidth == 0 || tile->sourceHeight == 0) {
        for (LONG y = out.invalid.top; y < out.invalid.bottom; ++y)
            std::memset(out.Row(y), 0, static_cast<std::size_t>(out.rowBytes));
        return nullptr;
    }
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetProcessSources(info, &sources, &count);
    if (IPravonError* e = GetFilteredSize(sources, count, &tile->outputWidth, &tile->outputHeight))
        return PravonContext(e, GetFilterCode(), "cannot read the output size");
    if (IPravonError* e = source->GetColorSpace(&tile->colorSpace))
        return PravonContext(e, GetFilterCode(), "cannot read the source colour space");
    // The tile must be laid out for the source's pixels: a colour-space change that was not announced
    // would otherwise make the routines write past the tile's rows.
    if (IPravonDataSource::GetBitsPerPixel(out.colorSpace) !=
        IPravonDataSource::GetBitsPerPixel(tile->colorSpace))
        return PravonFail(GetFilterCode(), PravonKind::kInvalidState,
                          "the tile is not laid out for the source's pixels");
    tile->source = source;
    return nullptr;
}

IPravonError* CPravonFilterScale::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        CTileSource from;
        if (IPravonError* e = ReadTileSource(info, out, &from))
            return e;
        if (!from.source)
            return nullptr;
        if (IPravonError* e = m_pipeline.Prepare(m_method, from.sourceWidth, from.sourceHeight,
                                                 from.outputWidth, from.outputHeight, from.colorSpace))
            return e;
        const LONG bitsPerPixel = IPravonDataSource::GetBitsPerPixel(from.colorSpace);

        const CPravonRect rect =
            out.invalid.Intersect(CPravonRect(0, 0, from.outputWidth, from.outputHeight));
        ClearOutside(out, rect, bitsPerPixel);
        if (rect.Empty())
            return nullptr;
        BYTE* first =
            out.Row(rect.top) + static_cast<std::ptrdiff_t>(rect.left - out.rect.left) * (bitsPerPixel / 8);
        return m_pipeline.Run(from.source, rect, first, out.rowBytes);
    });
}

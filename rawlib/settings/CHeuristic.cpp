#include "CHeuristic.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

bool Outside(double v, double low, double high) {
    return !(low <= v && v <= high);
}

// The flag bits Assign copies: all but kChangedRatioLimits.
constexpr DWORD kAssignedFlags = 0x1EFF;

} // namespace

bool CHeuristic::HoldWithin(double& v, double low, double high) {
    bool moved = false;
    if (v < low) {
        v = low;
        moved = true;
    }
    if (v > high) {
        v = high;
        moved = true;
    }
    return moved;
}

bool KvNearlyEqual(double a, double b) {
    if (!std::isfinite(a) || !std::isfinite(b))
        return false;
    int ea = 0, eb = 0;
    const double ma = std::frexp(a, &ea);
    const double mb = std::frexp(b, &eb);
    if (std::abs(ea - eb) > 1)
        return false;
    if (eb == ea + 1)
        return std::fabs(ma - 2 * mb) <= 1e-10;
    if (ea == eb + 1)
        return std::fabs(2 * ma - mb) <= 1e-10;
    return std::fabs(ma - mb) <= 1e-10;
}

CHeuristic::ChangeScope::ChangeScope(CHeuristic& h) : m_h(h) {
    if (m_h.m_depth++ == 0)
        m_h.TakeSnapshot();
}

CHeuristic::ChangeScope::~ChangeScope() {
    if (--m_h.m_depth == 0)
        m_h.MarkChanges();
}

CHeuristic::CHeuristic() = default;

CHeuristic::CHeuristic(const CHeuristic& other) : CHeuristic() {
    Assign(other);
}

void CHeuristic::TakeSnapshot() {
    m_snapshot.crop = m_crop;
    m_snapshot.printWidth = m_printWidth;
    m_snapshot.printHeight = m_printHeight;
    m_snapshot.scale = m_scale;
    m_snapshot.resolution = m_resolution;
    m_snapshot.scaleRatio = m_scaleRatio;
    m_snapshot.ratioMin = GetRatioMin();
    m_snapshot.ratioMax = GetRatioMax();
    m_snapshot.outputWidth = m_outputWidth;
    m_snapshot.outputHeight = m_outputHeight;
    m_snapshot.outputArea = m_outputArea;
}

void CHeuristic::MarkChanges() {
    const Snapshot& s = m_snapshot;
    DWORD bits = 0;
    if (m_crop.left != s.crop.left || m_crop.top != s.crop.top)
        bits |= kChangedCropOrigin;
    if (m_crop.Width() != s.crop.Width())
        bits |= kChangedCropWidth;
    if (m_crop.Height() != s.crop.Height())
        bits |= kChangedCropHeight;
    if (m_printWidth.value != s.printWidth.value)
        bits |= kChangedPrintWidth;
    if (m_printHeight.value != s.printHeight.value)
        bits |= kChangedPrintHeight;
    if (m_scale.value != s.scale.value)
        bits |= kChangedScale;
    if (m_resolution.value != s.resolution.value)
        bits |= kChangedResolution;
    if (m_scaleRatio != s.scaleRatio)
        bits |= kChangedScaleRatio;
    if (GetRatioMin() != s.ratioMin || GetRatioMax() != s.ratioMax)
        bits |= kChangedRatioLimits;
    if (m_outputWidth != s.outputWidth)
        bits |= kChangedOutputWidth;
    if (m_outputHeight != s.outputHeight)
        bits |= kChangedOutputHeight;
    if (m_outputArea != s.outputArea)
        bits |= kChangedOutputArea;
    m_flags |= bits;
}

int CHeuristic::ConstrainCropSize(double& width, double& height, int) {
    const bool w = HoldWithin(width, 1.0, m_bounds.Width());
    const bool h = HoldWithin(height, 1.0, m_bounds.Height());
    return w || h ? 1 : 0;
}

void CHeuristic::Assign(const CHeuristic& o) {
    if (&o == this)
        return;
    m_crop = o.m_crop;
    m_bounds = o.m_bounds;
    m_imageWidth = o.m_imageWidth;
    m_imageHeight = o.m_imageHeight;
    m_printWidth = o.m_printWidth;
    m_printHeight = o.m_printHeight;
    m_scale = o.m_scale;
    m_scaleMin = o.m_scaleMin;
    m_scaleMax = o.m_scaleMax;
    m_resolution = o.m_resolution;
    m_scaleRatio = o.m_scaleRatio;
    m_outputWidth = o.m_outputWidth;
    m_outputHeight = o.m_outputHeight;
    m_outputArea = o.m_outputArea;
    m_aspect = o.m_aspect;
    m_flags = (o.m_flags & kAssignedFlags) | (m_flags & ~kAssignedFlags);
}

int CHeuristic::FlipHorizontal() {
    ChangeScope scope(*this);
    m_crop.MirrorX(m_imageWidth / 2);
    m_bounds.MirrorX(m_imageWidth / 2);
    return 0;
}

int CHeuristic::FlipVertical() {
    ChangeScope scope(*this);
    m_crop.MirrorY(m_imageHeight / 2);
    m_bounds.MirrorY(m_imageHeight / 2);
    return 0;
}

int CHeuristic::RotateClockwise() {
    ChangeScope scope(*this);
    const double c = m_imageHeight / 2;
    m_crop.RotateCW(c, c);
    m_bounds.RotateCW(c, c);
    std::swap(m_imageWidth, m_imageHeight);
    std::swap(m_printWidth, m_printHeight);
    std::swap(m_outputWidth, m_outputHeight);
    RecomputeAspectFromCrop();
    return 0;
}

int CHeuristic::RotateCounterClockwise() {
    ChangeScope scope(*this);
    const double c = m_imageWidth / 2;
    m_crop.RotateCCW(c, c);
    m_bounds.RotateCCW(c, c);
    std::swap(m_imageWidth, m_imageHeight);
    std::swap(m_printWidth, m_printHeight);
    std::swap(m_outputWidth, m_outputHeight);
    RecomputeAspectFromCrop();
    return 0;
}

int CHeuristic::BeginTrack() {
    m_trackStart = m_crop;
    return 0;
}

int CHeuristic::TrackCrop(const DblRect& rect, int hint) {
    double w = rect.Width();
    double h = rect.Height();
    if (w != m_trackStart.Width() || h != m_trackStart.Height())
        ConstrainCropSize(w, h, hint);
    double left = rect.left;
    double top = rect.top;
    // The edge that did not move during the drag holds.
    if (rect.right == m_trackStart.right)
        left = rect.right - w;
    if (rect.bottom == m_trackStart.bottom)
        top = rect.bottom - h;
    if (top < m_bounds.top)
        top = m_bounds.top;
    else if (top + h > m_bounds.bottom)
        top = m_bounds.bottom - h;
    if (left < m_bounds.left)
        left = m_bounds.left;
    else if (left + w > m_bounds.right)
        left = m_bounds.right - w;
    return SetCrop(DblRect(left, top, left + w, top + h), hint);
}

int CHeuristic::TrackCrop(double left, double top, double right, double bottom, int hint) {
    return TrackCrop(DblRect(left, top, right, bottom), hint);
}

int CHeuristic::SetCrop(const DblRect& rect, int) {
    ChangeScope scope(*this);
    m_crop = rect;
    RecomputeAspectFromCrop();
    return 0;
}

int CHeuristic::SetCrop(double left, double top, double right, double bottom, int hint) {
    return SetCrop(DblRect(left, top, right, bottom), hint);
}

int CHeuristic::SetCropSize(double width, double height, int) {
    ChangeScope scope(*this);
    m_crop.SetWidth(width);
    m_crop.SetHeight(height);
    RecomputeAspectFromCrop();
    return 0;
}

int CHeuristic::MoveCrop(double x, double y) {
    ChangeScope scope(*this);
    m_crop.MoveTo(x, y);
    return 0;
}

int CHeuristic::SetBounds(const DblRect& rect) {
    ChangeScope scope(*this);
    m_bounds = rect;
    DblRect candidate = m_crop;
    if (candidate.Width() > m_bounds.Width())
        candidate.SetWidth(m_bounds.Width());
    if (candidate.Height() > m_bounds.Height())
        candidate.SetHeight(m_bounds.Height());
    if (candidate.left < m_bounds.left)
        candidate.MoveTo(m_bounds.left, candidate.top);
    else if (candidate.right > m_bounds.right)
        candidate.MoveTo(m_bounds.right - candidate.Width(), candidate.top);
    if (candidate.top < m_bounds.top)
        candidate.MoveTo(candidate.left, m_bounds.top);
    else if (candidate.bottom > m_bounds.bottom)
        candidate.MoveTo(candidate.left, m_bounds.bottom - candidate.Height());
    return SetCrop(candidate, 0);
}

int CHeuristic::SetBoundsSize(double width, double height) {
    ChangeScope scope(*this);
    DblRect candidate = m_bounds;
    candidate.SetWidth(width);
    candidate.SetHeight(height);
    const int result = SetBounds(candidate);
    SetCrop(candidate, 0);
    return result;
}

int CHeuristic::SetImageSize(double width, double height) {
    ChangeScope scope(*this);
    m_imageWidth = width;
    m_imageHeight = height;
    DblRect candidate = m_bounds;
    if (candidate.Width() > width)
        candidate.SetWidth(width);
    if (candidate.Height() > height)
        candidate.SetHeight(height);
    if (candidate.right > width)
        candidate.MoveTo(width - candidate.Width(), candidate.top);
    if (candidate.bottom > height)
        candidate.MoveTo(candidate.left, height - candidate.Height());
    return SetBounds(candidate);
}

int CHeuristic::SetPrintWidth(UnitValue width) {
    ChangeScope scope(*this);
    m_printWidth = width;
    m_flags &= ~kOutputSizeFixed;
    return 0;
}

int CHeuristic::SetPrintHeight(UnitValue height) {
    ChangeScope scope(*this);
    m_printHeight = height;
    m_flags &= ~kOutputSizeFixed;
    return 0;
}

int CHeuristic::SetScale(UnitValue scale) {
    ChangeScope scope(*this);
    m_scale = scale;
    return 0;
}

int CHeuristic::SetScaleMin(UnitValue minimum) {
    ChangeScope scope(*this);
    m_scaleMin = minimum;
    if (minimum.value > m_scale.value)
        SetScale(minimum);
    return 0;
}

int CHeuristic::SetScaleMax(UnitValue maximum) {
    ChangeScope scope(*this);
    m_scaleMax = maximum;
    if (maximum.value < m_scale.value)
        SetScale(maximum);
    return 0;
}

int CHeuristic::SetResolution(UnitValue resolution) {
    ChangeScope scope(*this);
    m_resolution = resolution;
    return 0;
}

int CHeuristic::SetScaleRatio(double ratio) {
    ChangeScope scope(*this);
    m_scaleRatio = ratio;
    return 0;
}

int CHeuristic::SetOutputWidth(double width) {
    ChangeScope scope(*this);
    m_outputWidth = width;
    m_flags |= kOutputSizeFixed;
    return 0;
}

int CHeuristic::SetOutputHeight(double height) {
    ChangeScope scope(*this);
    m_outputHeight = height;
    m_flags |= kOutputSizeFixed;
    return 0;
}

int CHeuristic::SetOutputArea(double area) {
    ChangeScope scope(*this);
    m_outputArea = area;
    return 0;
}

int CHeuristic::SetOutputSizeFixed(int fixed) {
    if (fixed & 1)
        m_flags |= kOutputSizeFixed;
    else
        m_flags &= ~kOutputSizeFixed;
    return 0;
}

int CHeuristic::ConstrainWidth(double& width) {
    return HoldWithin(width, 1.0, m_bounds.Width()) ? 1 : 0;
}

int CHeuristic::ConstrainHeight(double& height) {
    return HoldWithin(height, 1.0, m_bounds.Height()) ? 1 : 0;
}

int CHeuristic::IsEditable(KvEditQuery query) const {
    switch (query) {
    case KvEditQuery::kCrop:
        return IsEditable(KvEditQuery::kCropPosition) || IsEditable(KvEditQuery::kCropSize);
    case KvEditQuery::kCropSize:
        return IsEditable(KvEditQuery::kCropWidth) || IsEditable(KvEditQuery::kCropHeight);
    case KvEditQuery::kPrintSize:
        return IsEditable(KvEditQuery::kPrintWidth) || IsEditable(KvEditQuery::kPrintHeight);
    case KvEditQuery::kOutputSize:
        return IsEditable(KvEditQuery::kOutputWidth) || IsEditable(KvEditQuery::kOutputHeight);
    case KvEditQuery::kFixedAspect:
        return 0;
    default:
        return 1;
    }
}

bool CHeuristic::WriteState(BYTE* buffer, int& size) {
    const int given = size;
    size = kRecordSize;
    if (!buffer)
        return false;
    CKvRecordWriter w(buffer, given, KvStateIds::kHeuristic, kVersion);
    for (const DblRect* r : {&m_crop, &m_trackStart, &m_bounds}) {
        w.PutF64(r->left);
        w.PutF64(r->top);
        w.PutF64(r->right);
        w.PutF64(r->bottom);
    }
    w.PutF64(m_imageWidth);
    w.PutF64(m_imageHeight);
    w.PutF64(m_printWidth.value);
    w.PutF64(m_printHeight.value);
    w.PutF64(m_scale.value);
    w.PutF64(m_scaleMin.value);
    w.PutF64(m_scaleMax.value);
    w.PutF64(m_resolution.value);
    w.PutF64(m_scaleRatio);
    w.PutF64(m_outputWidth);
    w.PutF64(m_outputHeight);
    w.PutF64(m_outputArea);
    w.PutF64(m_aspect);
    w.PutFlag(IsOutputSizeFixed());
    w.Finish();
    return given >= kRecordSize;
}

int CHeuristic::ReadState(const BYTE* buffer, int size) {
    if (!buffer || size < 16)
        return 0;
    CKvRecordReader probe(buffer, size);
    if (!probe.IsRecordOf(KvStateIds::kHeuristic))
        return 0;
    const WORD version = probe.GetVersion();
    if (version == 0 || version > kVersion)
        return size >= (version == 0 ? 18 : 22) ? 1 : 0;

    CKvRecordReader r(buffer, size, version >= 3);
    for (DblRect* rect : {&m_crop, &m_trackStart, &m_bounds}) {
        r.GetF64(rect->left);
        r.GetF64(rect->top);
        r.GetF64(rect->right);
        r.GetF64(rect->bottom);
    }
    r.GetF64(m_imageWidth);
    r.GetF64(m_imageHeight);
    r.GetF64(m_printWidth.value);
    r.GetF64(m_printHeight.value);
    r.GetF64(m_scale.value);
    r.GetF64(m_scaleMin.value);
    r.GetF64(m_scaleMax.value);
    r.GetF64(m_resolution.value);
    r.GetF64(m_scaleRatio);
    r.GetF64(m_outputWidth);
    r.GetF64(m_outputHeight);
    r.GetF64(m_outputArea);
    r.GetF64(m_aspect);
    BYTE fixed = 0;
    if (r.GetU8(fixed))
        SetOutputSizeFixed(fixed & 1);
    m_printWidth.unit = m_printHeight.unit = UnitValue::kInches;
    m_scale.unit = m_scaleMin.unit = m_scaleMax.unit = m_resolution.unit = UnitValue::kPixelsPerInch;
    if (m_depth == 0)
        TakeSnapshot();
    return size >= (version >= 3 ? kRecordSize : kOldRecordSize) ? 1 : 0;
}

int CHeuristic::Reset(double width, double height, const UnitValue& scaleMin, const UnitValue& scaleMax) {
    ChangeScope scope(*this);
    const double sx = width / m_imageWidth;
    const double sy = height / m_imageHeight;
    for (DblRect* r : {&m_crop, &m_trackStart, &m_bounds}) {
        r->left *= sx;
        r->right *= sx;
        r->top *= sy;
        r->bottom *= sy;
        r->FitInto(width, height);
    }
    RecomputeAspectFromCrop();
    if (m_scale.value < scaleMin.value)
        m_scale = scaleMin;
    if (m_scale.value > scaleMax.value)
        m_scale = scaleMax;
    m_scaleRatio = m_scale.value / m_resolution.value;
    m_outputWidth = m_scale.value * m_crop.Width() / scaleMax.value;
    m_outputHeight = m_scale.value * m_crop.Height() / scaleMax.value;
    m_outputArea = m_outputWidth * m_outputHeight;
    m_printWidth = UnitValue::Inches(m_outputWidth / m_resolution.value);
    m_printHeight = UnitValue::Inches(m_outputHeight / m_resolution.value);
    m_imageWidth = width;
    m_imageHeight = height;
    m_scaleMin = scaleMin;
    m_scaleMax = scaleMax;
    return 0;
}

int CHeuristic::Validate(int useBounds) const {
    const DblRect r = useBounds ? m_bounds : DblRect(0, 0, m_imageWidth, m_imageHeight);
    const double e = kEpsilon;
    const double scale = m_scale.value;
    const double res = m_resolution.value;
    const double max = m_scaleMax.value;
    if (Outside(scale, m_scaleMin.value - e, max + e))
        return kScaleOutsideLimits;
    if (Outside(m_crop.left, r.left - e, r.right))
        return kCropLeftOutside;
    if (Outside(m_crop.right, r.left, r.right + e))
        return kCropRightOutside;
    if (Outside(m_crop.top, r.top - e, r.bottom))
        return kCropTopOutside;
    if (Outside(m_crop.bottom, r.top, r.bottom + e))
        return kCropBottomOutside;
    if (Outside(m_outputWidth, 0, r.Width() + e))
        return kOutputWidthOutside;
    if (Outside(m_outputHeight, 0, r.Height() + e))
        return kOutputHeightOutside;
    if (!KvNearlyEqual(m_outputWidth, res * m_printWidth.value))
        return kOutputWidthNotResolutionTimesPrint;
    if (!KvNearlyEqual(m_outputHeight, m_printHeight.value * res))
        return kOutputHeightNotResolutionTimesPrint;
    if (!KvNearlyEqual(m_outputArea, m_outputHeight * m_outputWidth))
        return kAreaNotWidthTimesHeight;
    if (!KvNearlyEqual(m_aspect, m_outputWidth / m_outputHeight))
        return kAspectNotOutputAspect;
    if (!KvNearlyEqual(m_aspect, m_printWidth.value / m_printHeight.value))
        return kAspectNotPrintAspect;
    if (!KvNearlyEqual(m_aspect, m_crop.Width() / m_crop.Height()))
        return kAspectNotCropAspect;
    if (!KvNearlyEqual(m_scaleRatio, scale / res))
        return kRatioNotScaleOverResolution;
    if (!KvNearlyEqual(m_outputWidth, scale * m_crop.Width() / max))
        return kOutputWidthNotScaledCrop;
    if (!KvNearlyEqual(m_outputHeight, scale * m_crop.Height() / max))
        return kOutputHeightNotScaledCrop;
    return kValid;
}

bool CHeuristic::SameRecord(const CHeuristic& other) const {
    BYTE a[kRecordSize], b[kRecordSize];
    int size = kRecordSize;
    const_cast<CHeuristic*>(this)->WriteState(a, size);
    size = kRecordSize;
    const_cast<CHeuristic&>(other).WriteState(b, size);
    for (int i = 0; i < kRecordSize; ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

int CHeuristic::ClampToRatioRange(UnitValue& value, LONG unitCode) {
    if (value.value < kRatioMin) {
        value = {kRatioMin, unitCode};
        return 1;
    }
    if (value.value > kRatioMax) {
        value = {kRatioMax, unitCode};
        return 1;
    }
    return 0;
}

int CHeuristic::ClampScale(UnitValue& scale) const {
    int result = 0;
    if (scale.value < m_scaleMin.value) {
        scale = m_scaleMin;
        result = 1;
    }
    if (scale.value > m_scaleMax.value) {
        scale = m_scaleMax;
        result = 1;
    }
    return result;
}

int CHeuristic::KeepInBounds(DblRect& candidate, int hint) {
    const DblRect before = m_crop;
    bool adjusted = false;
    if (candidate.left < m_bounds.left) {
        candidate.left = m_bounds.left;
        adjusted = true;
    } else if (candidate.right > m_bounds.right) {
        candidate.right = m_bounds.right;
        adjusted = true;
    }
    if (candidate.top < m_bounds.top) {
        candidate.top = m_bounds.top;
        adjusted = true;
    } else if (candidate.bottom > m_bounds.bottom) {
        candidate.bottom = m_bounds.bottom;
        adjusted = true;
    }
    double w = candidate.Width();
    double h = candidate.Height();
    int result = ConstrainCropSize(w, h, hint);
    candidate.SetWidth(w);
    candidate.SetHeight(h);
    if (adjusted)
        result = 1;
    // A candidate that the sizing pushed out of the bounds goes back along the edges of the crop held
    // before this operation.
    if (candidate.left < m_bounds.left) {
        candidate.MoveTo(m_bounds.left, before.top);
        result = 1;
    } else if (candidate.right > m_bounds.right) {
        candidate.MoveTo(m_bounds.right - before.Width(), before.top);
        result = 1;
    }
    if (candidate.top < m_bounds.top) {
        candidate.MoveTo(before.left, m_bounds.top);
        result = 1;
    } else if (candidate.bottom > m_bounds.bottom) {
        candidate.MoveTo(before.left, m_bounds.bottom - before.Height());
        result = 1;
    }
    return result;
}

int CHeuristic::SetLockedCrop(const DblRect& rect, int hint) {
    ChangeScope scope(*this);
    DblRect candidate = rect;
    const int kept = KeepInBounds(candidate, hint);
    m_crop.MoveTo(candidate.left, candidate.top);
    const int sized = SetCropSize(candidate.Width(), candidate.Height(), hint);
    return kept ? kept : sized;
}

int CHeuristic::MoveLockedCrop(double x, double y) {
    ChangeScope scope(*this);
    int result = 0;
    if (x < m_bounds.left) {
        x = m_bounds.left;
        result = 1;
    } else if (x > m_bounds.right - m_crop.Width()) {
        x = m_bounds.right - m_crop.Width();
        result = 1;
    }
    if (y < m_bounds.top) {
        y = m_bounds.top;
        result = 1;
    } else if (y > m_bounds.bottom - m_crop.Height()) {
        y = m_bounds.bottom - m_crop.Height();
        result = 1;
    }
    m_crop.MoveTo(x, y);
    return result;
}

void CHeuristic::KeepCropInBoundsHorizontally() {
    if (m_crop.left > m_bounds.right - m_crop.Width())
        m_crop.MoveTo(m_bounds.right - m_crop.Width(), m_crop.top);
}

void CHeuristic::KeepCropInBoundsVertically() {
    if (m_crop.top > m_bounds.bottom - m_crop.Height())
        m_crop.MoveTo(m_crop.left, m_bounds.bottom - m_crop.Height());
}

#include "CKvSizeRes.h"

#include "CHDevSetup.h"
#include "CHLockCrop.h"
#include "CHLockSize.h"
#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <new>

namespace {

constexpr double kCutBias = 1e-15;
constexpr DWORD kClearedChanges = 0xEFF; // every change bit but the ratio limits
constexpr UnitValue kResetScaleMin{1.0, UnitValue::kPixelsPerInch};
constexpr UnitValue kResetScaleMax{600.0, UnitValue::kPixelsPerInch};

// floor(v + 1e-15) as a 32-bit integer, saturated; not a number gives 0.
std::int64_t Cut(double v) {
    const double f = std::floor(v + kCutBias);
    if (!(f == f))
        return 0;
    if (f <= static_cast<double>(INT_MIN))
        return INT_MIN;
    if (f >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<std::int64_t>(f);
}

// The integer part of v, saturated to 32 bits; not a number gives 0.
std::int64_t Truncate(double v) {
    if (!(v == v))
        return 0;
    if (v <= static_cast<double>(INT_MIN))
        return INT_MIN;
    if (v >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<std::int64_t>(v);
}

LONG ToLong(std::int64_t v) {
    return static_cast<LONG>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

CKvRect FromDbl(const DblRect& r) {
    return CKvRect(ToLong(Cut(r.top)), ToLong(Cut(r.left)), ToLong(Cut(r.bottom)), ToLong(Cut(r.right)));
}

bool SameRect(const CKvRect& a, const CKvRect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

// False for a stored state whose values would bring a division by zero, an infinity or a not-a-number
// into the arithmetic: nothing the setters produce, so only a damaged record.
bool IsUsable(const CHeuristic& h) {
    const DblRect& crop = h.GetCrop();
    const DblRect& track = h.GetTrackStart();
    const DblRect& bounds = h.GetBounds();
    const double values[] = {crop.left,    crop.top,      crop.right,       crop.bottom, track.left,
                             track.top,    track.right,   track.bottom,     bounds.left, bounds.top,
                             bounds.right, bounds.bottom, h.GetOutputArea()};
    for (double v : values)
        if (!std::isfinite(v))
            return false;
    const double positives[] = {
        h.GetImageWidth(),  h.GetImageHeight(),    bounds.Width(),          bounds.Height(),
        crop.Width(),       crop.Height(),         h.GetPrintWidth().value, h.GetPrintHeight().value,
        h.GetScale().value, h.GetScaleMin().value, h.GetScaleMax().value,   h.GetResolution().value,
        h.GetScaleRatio(),  h.GetOutputWidth(),    h.GetOutputHeight(),     h.GetAspect()};
    for (double v : positives)
        if (!(v > 0.0 && std::isfinite(v)))
            return false;
    return true;
}

UnitValue UsableResolution(const UnitValue& given) {
    UnitValue r;
    r.SetResolution(given.value, given.unit);
    if (!(r.value > 0.0 && std::isfinite(r.value)))
        r = UnitValue::PerInch(CKvSizeRes::kDefaultResolution);
    return r;
}

} // namespace

CKvSizeRes::CKvSizeRes() : m_heuristic(std::make_unique<CHLockCrop>()) {
    SyncOutputFixed();
}

CKvSizeRes::CKvSizeRes(LONG width, LONG height, const CKvRect* crop, const UnitValue& resolution) {
    const double w = 2.0 * std::max<LONG>(width, 1);
    const double h = 2.0 * std::max<LONG>(height, 1);
    const UnitValue r = UsableResolution(resolution);
    m_heuristic =
        std::make_unique<CHDevSetup>(w, h, r, UnitValue::PerInch(1.0), UnitValue::PerInch(2 * r.value));
    if (ToLockCrop(&m_heuristic) != 0)
        m_lastError = kErrorNoMemory;
    SetBounds(DblRect(0, 0, w, h));
    if (crop)
        SetCrop(2.0 * crop->left, 2.0 * crop->top, 2.0 * crop->right, 2.0 * crop->bottom, 0);
    else
        SetCrop(DblRect(0, 0, w, h), 0);
    SyncOutputFixed();
}

CKvSizeRes::CKvSizeRes(const CKvSizeRes& other)
    : IKvState(), m_heuristic(std::make_unique<CHDevSetup>(*other.m_heuristic)) {
    SetHeuristicType(other.GetHeuristicType());
    m_lastError = other.m_lastError;
    m_mirrored = other.m_mirrored;
    m_angle = other.m_angle;
    m_recordVersion = other.m_recordVersion;
    m_flagByte = other.m_flagByte;
}

CKvSizeRes& CKvSizeRes::operator=(const CKvSizeRes& other) {
    if (&other == this)
        return *this;
    std::unique_ptr<CHeuristic> copy(new (std::nothrow) CHDevSetup(*other.m_heuristic));
    if (!copy) {
        m_lastError = kErrorNoMemory;
        return *this;
    }
    m_heuristic = std::move(copy);
    SetHeuristicType(other.GetHeuristicType());
    m_lastError = other.m_lastError;
    m_mirrored = other.m_mirrored;
    m_angle = other.m_angle;
    m_recordVersion = other.m_recordVersion;
    m_flagByte = other.m_flagByte;
    return *this;
}

CKvSizeRes::~CKvSizeRes() = default;

bool CKvSizeRes::operator==(const CKvSizeRes& other) const {
    return GetHeuristicType() == other.GetHeuristicType() && m_heuristic->SameRecord(*other.m_heuristic) &&
           m_mirrored == other.m_mirrored && m_angle == other.m_angle && m_flagByte == other.m_flagByte;
}

int CKvSizeRes::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kSizeRes, kVersion);
    w.PutU32(GetHeuristicType());
    BYTE heuristic[CHeuristic::kRecordSize];
    int heuristicSize = CHeuristic::kRecordSize;
    m_heuristic->WriteState(heuristic, heuristicSize);
    w.PutU32(static_cast<DWORD>(heuristicSize));
    w.PutBytes(heuristic, static_cast<std::uint64_t>(heuristicSize));
    w.PutU8(m_mirrored ? 1 : 0);
    w.PutI32(m_angle);
    w.PutU8(m_flagByte);
    return w.Finish();
}

int CKvSizeRes::ReadState(const BYTE*, int) {
    return 0;
}

const BYTE* CKvSizeRes::GetStateId() {
    return KvStateIds::kSizeRes.Data();
}

bool CKvSizeRes::IsNeutral() const {
    CKvRect crop(0, 0, 0, 0), bounds(0, 0, 0, 0);
    GetCropRect(crop, 1);
    GetBoundsRect(bounds, 1);
    return SameRect(crop, bounds) && GetScaleFactor() == 1.0;
}

double CKvSizeRes::InchesToUnit(double value, int unitCode) {
    switch (unitCode) {
    case kInch:
        return value;
    case kCentimetre:
        return value * 2.54;
    case kMillimetre:
        return value * 25.4;
    case kPica:
        return value * 6.0;
    case kPoint:
        return value * 72.0;
    default:
        return 0.0;
    }
}

double CKvSizeRes::ResolutionToUnit(double value, int unitCode) {
    switch (unitCode) {
    case kPerInch:
        return value;
    case kPerCentimetre:
        return value * 0.39370078740157477;
    default:
        return 0.0;
    }
}

UnitValue CKvSizeRes::UnitToInches(double value, int unitCode) {
    switch (unitCode) {
    case kCentimetre:
        return UnitValue::Inches(value * 0.39370078740157477);
    case kMillimetre:
        return UnitValue::Inches(value * 0.03937007874015748);
    case kPica:
        return UnitValue::Inches(value * (1.0 / 6.0));
    case kPoint:
        return UnitValue::Inches(value * (1.0 / 72.0));
    default:
        return UnitValue::Inches(value);
    }
}

UnitValue CKvSizeRes::ResolutionFromUnit(double value, int unitCode) {
    return UnitValue::PerInch(unitCode == kPerCentimetre ? value * 2.54 : value);
}

int CKvSizeRes::SetPrintWidth(const UnitValue& width) {
    const int result = m_heuristic->SetPrintWidth(width);
    SyncOutputFixed();
    return result;
}

int CKvSizeRes::SetPrintHeight(const UnitValue& height) {
    const int result = m_heuristic->SetPrintHeight(height);
    SyncOutputFixed();
    return result;
}

int CKvSizeRes::SetResolution(const UnitValue& resolution, int keepFixed) {
    const bool fixed = m_heuristic->IsOutputSizeFixed();
    if (keepFixed)
        m_heuristic->SetOutputSizeFixed(1);
    const int result = m_heuristic->SetResolution(resolution);
    m_heuristic->SetOutputSizeFixed(fixed ? 1 : 0);
    return result;
}

int CKvSizeRes::SetOutputWidth(double width) {
    const int result = m_heuristic->SetOutputWidth(width);
    SyncOutputFixed();
    return result;
}

int CKvSizeRes::SetOutputHeight(double height) {
    const int result = m_heuristic->SetOutputHeight(height);
    SyncOutputFixed();
    return result;
}

void CKvSizeRes::FlipHorizontal() {
    m_mirrored ^= 1;
    m_angle = (720 - m_angle) % 360;
    m_heuristic->FlipHorizontal();
}

void CKvSizeRes::FlipVertical() {
    m_mirrored ^= 1;
    m_angle = (900 - m_angle) % 360;
    m_heuristic->FlipVertical();
}

void CKvSizeRes::RotateClockwise() {
    m_angle = (m_angle + 90) % 360;
    m_heuristic->RotateClockwise();
}

void CKvSizeRes::RotateCounterClockwise() {
    m_angle = (m_angle + 270) % 360;
    m_heuristic->RotateCounterClockwise();
}

LONG CKvSizeRes::GetOutputWidth() const {
    return ToLong(std::max<std::int64_t>(Truncate(m_heuristic->GetOutputWidth()), 1));
}

LONG CKvSizeRes::GetOutputHeight() const {
    return ToLong(std::max<std::int64_t>(Truncate(m_heuristic->GetOutputHeight()), 1));
}

double CKvSizeRes::GetOutputArea() const {
    return std::fmax(m_heuristic->GetOutputWidth(), 1.0) * std::fmax(m_heuristic->GetOutputHeight(), 1.0);
}

void CKvSizeRes::GetCropSize(double* width, double* height) const {
    if (width)
        *width = m_heuristic->GetCrop().Width();
    if (height)
        *height = m_heuristic->GetCrop().Height();
}

void CKvSizeRes::GetCropSize(LONG* width, LONG* height) const {
    if (width)
        *width = ToLong(Cut(m_heuristic->GetCrop().Width()));
    if (height)
        *height = ToLong(Cut(m_heuristic->GetCrop().Height()));
}

void CKvSizeRes::GetBoundsSize(double* width, double* height) const {
    if (width)
        *width = m_heuristic->GetBounds().Width();
    if (height)
        *height = m_heuristic->GetBounds().Height();
}

void CKvSizeRes::ClearChanges() {
    m_heuristic->ClearFlags(kClearedChanges);
}

bool CKvSizeRes::SetOrientation(int mirrored, LONG angle, int apply) {
    const LONG target = static_cast<LONG>((static_cast<std::int64_t>(angle) % 360 + 360) % 360);
    if (target % 90 != 0)
        return false;
    const LONG mirror = mirrored ? 1 : 0;
    if (!apply) {
        m_mirrored = mirror;
        m_angle = target;
        return true;
    }
    if (mirror != m_mirrored) {
        const LONG d = (target + m_angle) % 360;
        if (d == 180) {
            FlipVertical();
        } else {
            FlipHorizontal();
            if (d == 90)
                RotateClockwise();
            else if (d == 270)
                RotateCounterClockwise();
        }
    } else {
        const LONG d = (target - m_angle + 360) % 360;
        if (d == 180) {
            FlipHorizontal();
            FlipVertical();
        } else if (d == 90) {
            RotateClockwise();
        } else if (d == 270) {
            RotateCounterClockwise();
        }
    }
    return true;
}

void CKvSizeRes::OrientRect(DblRect& rect, const DblRect& reference) const {
    const double cx = (reference.left + reference.right) / 2;
    const double cy = (reference.top + reference.bottom) / 2;
    if (!m_mirrored) {
        if (m_angle == 90) {
            rect.RotateCW(cy, cy);
        } else if (m_angle == 180) {
            rect.MirrorX(cx);
            rect.MirrorY(cy);
        } else if (m_angle == 270) {
            rect.RotateCCW(cx, cx);
        }
    } else if (m_angle == 180) {
        rect.MirrorY(cy);
    } else {
        rect.MirrorX(cx);
        if (m_angle == 90)
            rect.RotateCW(cy, cy);
        else if (m_angle == 270)
            rect.RotateCCW(cx, cx);
    }
}

void CKvSizeRes::UnorientRect(DblRect& rect, const DblRect& reference) const {
    if (m_mirrored) {
        // A mirror combined with a quarter turn is its own inverse.
        OrientRect(rect, reference);
        return;
    }
    const double cx = (reference.left + reference.right) / 2;
    const double cy = (reference.top + reference.bottom) / 2;
    if (m_angle == 90) {
        rect.RotateCCW(cx, cx);
    } else if (m_angle == 180) {
        rect.MirrorX(cx);
        rect.MirrorY(cy);
    } else if (m_angle == 270) {
        rect.RotateCW(cy, cy);
    }
}

void CKvSizeRes::OrientPoint(DblPoint& point, const DblRect& reference) const {
    DblRect r(point.x, point.y, point.x, point.y);
    OrientRect(r, reference);
    point = {r.left, r.top};
}

void CKvSizeRes::UnorientPoint(DblPoint& point, const DblRect& reference) const {
    DblRect r(point.x, point.y, point.x, point.y);
    UnorientRect(r, reference);
    point = {r.left, r.top};
}

CKvRect CKvSizeRes::IntRect(const DblRect& source, bool atLeastOne, int oriented) const {
    const std::int64_t imageWidth = std::max<std::int64_t>(Cut(GetImageWidth()), 0);
    const std::int64_t imageHeight = std::max<std::int64_t>(Cut(GetImageHeight()), 0);
    const std::int64_t low = atLeastOne ? 1 : 0;
    const std::int64_t width = std::min(std::max(Cut(source.Width()), low), imageWidth);
    const std::int64_t height = std::min(std::max(Cut(source.Height()), low), imageHeight);
    // The rectangle never leaves the image, on any side.
    const std::int64_t left = std::max<std::int64_t>(std::min(Cut(source.left), imageWidth - width), 0);
    const std::int64_t top = std::max<std::int64_t>(std::min(Cut(source.top), imageHeight - height), 0);
    CKvRect rect(ToLong(top), ToLong(left), ToLong(top + height), ToLong(left + width));
    if (!oriented) {
        DblRect r(rect.left, rect.top, rect.right, rect.bottom);
        UnorientRect(r, DblRect(0, 0, static_cast<double>(imageWidth), static_cast<double>(imageHeight)));
        rect = FromDbl(r);
    }
    return rect;
}

void CKvSizeRes::GetCropRect(CKvRect& rect, int oriented) const {
    rect = IntRect(m_heuristic->GetCrop(), true, oriented);
}

void CKvSizeRes::GetBoundsRect(CKvRect& rect, int oriented) const {
    rect = IntRect(m_heuristic->GetBounds(), false, oriented);
}

void CKvSizeRes::GetImageRectInt(CKvRect& rect, int oriented) const {
    rect = IntRect(GetImageRect(), false, oriented);
}

int CKvSizeRes::SetHeuristicType(DWORD typeCode) {
    m_lastError = 0;
    if (GetHeuristicType() == typeCode)
        return 0;
    if (typeCode == CHeuristic::kTypeLockCrop) {
        if (ToLockCrop(&m_heuristic) != 0)
            m_lastError = kErrorNoMemory;
    } else if (typeCode == CHeuristic::kTypeLockSize) {
        if (ToLockSize(&m_heuristic) != 0)
            m_lastError = kErrorNoMemory;
    } else {
        m_lastError = kErrorUnknownHeuristic;
    }
    SyncOutputFixed();
    return m_lastError != 0 ? 1 : 0;
}

int CKvSizeRes::ReadRecord(const BYTE* buffer, int size, LONG width, LONG height) {
    if (!buffer || size < 16)
        return 0;
    CKvRecordReader probe(buffer, size);
    if (!probe.IsRecordOf(KvStateIds::kSizeRes))
        return 0;
    const WORD version = probe.GetVersion();
    const bool knownImage = width > 0 && height > 0;
    auto imageDefault = [&] {
        CKvSizeRes d = knownImage ? CKvSizeRes(width, height, nullptr, UnitValue::PerInch(kDefaultResolution))
                                  : CKvSizeRes();
        d.m_recordVersion = version;
        return d;
    };
    // The body follows the version below version 3 and the length field from version 3 on.
    CKvRecordReader r(buffer, size, version >= 3);
    const std::int64_t header = version >= 3 ? 22 : 18;
    std::int64_t consumed = header;

    CKvSizeRes temporary;
    temporary.m_recordVersion = version;
    DWORD type = CHeuristic::kTypeLockCrop;
    if (version >= 1) {
        DWORD heuristicSize = 0;
        r.GetU32(type);
        r.GetU32(heuristicSize);
        consumed = header + 8 + static_cast<std::int64_t>(heuristicSize);
        if (consumed <= size)
            temporary.m_heuristic->ReadState(buffer + header + 8, static_cast<int>(heuristicSize));
        r.Skip(heuristicSize);
    }
    // A state never set up (both limits at 1, also when the record held no heuristic) or one whose values
    // cannot be used is replaced by the default for the image.
    const CHeuristic& read = *temporary.m_heuristic;
    const bool replaced =
        (read.GetScaleMin().value == 1.0 && read.GetScaleMax().value == 1.0) || !IsUsable(read);
    if (replaced)
        temporary = imageDefault();
    if (version >= 2) {
        BYTE mirrored = 0;
        LONG angle = 0;
        const bool haveMirror = r.GetU8(mirrored);
        const bool haveAngle = r.GetI32(angle);
        consumed += 5;
        // An angle that is not a right angle leaves the stored frame unknown: it reads as no orientation.
        const std::int64_t normalised = (static_cast<std::int64_t>(angle) % 360 + 360) % 360;
        if (normalised % 90 == 0) {
            if (haveMirror)
                temporary.m_mirrored = mirrored ? 1 : 0;
            if (haveAngle)
                temporary.m_angle = static_cast<LONG>(normalised);
        }
    }
    if (version >= 5) {
        r.GetU8(temporary.m_flagByte);
        consumed += 1;
    }
    const bool covered = consumed <= size;
    if (covered && !replaced) {
        temporary.SetOrientation(m_mirrored, m_angle, 1);
        if (knownImage && (temporary.GetOutputWidth() != width || temporary.GetOutputHeight() != height))
            temporary.m_heuristic->Reset(2.0 * width, 2.0 * height, kResetScaleMin, kResetScaleMax);
        // Values that passed as stored can still be too far apart to survive the turn or the fit.
        if (!IsUsable(*temporary.m_heuristic)) {
            const BYTE flag = temporary.m_flagByte;
            temporary = imageDefault();
            temporary.SetOrientation(m_mirrored, m_angle, 0);
            temporary.m_flagByte = flag;
        }
    }
    *this = temporary;
    if (covered) {
        SetHeuristicType(type);
        SyncOutputFixed();
    }
    m_lastError = 0;
    return consumed > INT_MAX ? INT_MAX : static_cast<int>(consumed);
}

void CKvSizeRes::ResetToImage(const UnitValue& resolution) {
    const DWORD type = GetHeuristicType();
    const bool fixed = m_heuristic->IsOutputSizeFixed();
    SetHeuristicType(CHeuristic::kTypeLockCrop);
    const DblRect image = GetImageRect();
    SetBounds(image);
    SetCrop(image, 0);
    SetOutputWidth(GetImageWidth() / 2);
    SetScaleRatio(1.0);
    SetScale(resolution);
    SetResolution(resolution, 0);
    SetScaleRatio(1.0);
    SetHeuristicType(type);
    m_heuristic->SetOutputSizeFixed(fixed ? 1 : 0);
}

void CKvSizeRes::ResetImage(LONG width, LONG height) {
    m_heuristic->Reset(2.0 * std::max<LONG>(width, 1), 2.0 * std::max<LONG>(height, 1), kResetScaleMin,
                       kResetScaleMax);
}

CKvRect CKvSizeRes::GetScaledCropRect(int oriented) const {
    CKvRect crop(0, 0, 0, 0);
    GetCropRect(crop, oriented);
    const double f = m_heuristic->GetScaleRatio() / m_heuristic->GetRatioMax();
    return FromDbl(DblRect(crop.left * f, crop.top * f, crop.right * f, crop.bottom * f));
}

double CKvSizeRes::GetScaleFactor() const {
    return 2.0 * m_heuristic->GetScale().value / m_heuristic->GetScaleMax().value;
}

int CKvSizeRes::SetScaleFactor(double factor) {
    const UnitValue maximum = m_heuristic->GetScaleMax();
    return m_heuristic->SetScale(UnitValue(factor * maximum.value / 2.0, maximum.unit));
}

void CKvSizeRes::SyncOutputFixed() {
    m_heuristic->SetOutputSizeFixed(GetHeuristicType() == CHeuristic::kTypeLockSize ? 1 : 0);
}

#include "CHLockSize.h"

#include <algorithm>
#include <cmath>
#include <new>

CHLockSize::CHLockSize(const CHeuristic& other)
    : CHeuristic(other), m_lockedResolution(other.GetResolution()) {}

int CHLockSize::ConstrainCropSize(double& width, double& height, int hint) {
    const double max = m_scaleMax.value;
    const double min = m_scaleMin.value;
    const bool widthHint = (hint & kHintWidthLeads) != 0;
    const bool heightHint = (hint & kHintHeightLeads) != 0;
    const bool widthLeads = widthHint != heightHint ? widthHint : m_aspect * height > width;
    int result = 0;
    if (widthLeads) {
        if (width < m_outputWidth) {
            width = m_outputWidth;
            result = 1;
        } else {
            const double limit =
                std::min({m_outputWidth * max / min, m_bounds.Width(),
                          m_aspect * std::min(m_outputHeight * max / min, m_bounds.Height())});
            if (width > limit) {
                width = limit;
                result = 1;
            }
        }
        height = width / m_aspect;
    } else {
        if (height < m_outputHeight) {
            height = m_outputHeight;
            result = 1;
        } else {
            const double limit = std::min({m_outputHeight * max / min, m_bounds.Height(),
                                           std::min(m_outputWidth * max / min, m_bounds.Width()) / m_aspect});
            if (height > limit) {
                height = limit;
                result = 1;
            }
        }
        width = m_aspect * height;
    }
    return result;
}

int CHLockSize::TrackCrop(const DblRect& rect, int hint) {
    ChangeScope scope(*this);
    double w = rect.Width();
    double h = rect.Height();
    int result = 0;
    if (w != m_trackStart.Width() || h != m_trackStart.Height())
        result = ConstrainCropSize(w, h, hint);
    double left = hint & kHintRightEdge ? rect.right - w : rect.left;
    double top = hint & kHintBottomEdge ? rect.bottom - h : rect.top;
    // Dragging one dimension keeps the crop centred across the other.
    if ((hint & 3) == kHintWidthLeads)
        top = (m_trackStart.top + m_trackStart.bottom) / 2 - h / 2;
    else if ((hint & 3) == kHintHeightLeads)
        left = (m_trackStart.left + m_trackStart.right) / 2 - w / 2;
    HoldWithin(top, m_bounds.top, m_bounds.bottom - h);
    HoldWithin(left, m_bounds.left, m_bounds.right - w);
    m_crop = DblRect(left, top, left + w, top + h);
    m_scale = UnitValue::PerInch(m_outputWidth * m_scaleMax.value / w);
    m_scaleRatio = m_scale.value / m_resolution.value;
    return result;
}

int CHLockSize::SetCropSize(double width, double height, int hint) {
    ChangeScope scope(*this);
    const int result = ConstrainCropSize(width, height, hint);
    m_crop.SetWidth(width);
    m_crop.SetHeight(height);
    if (m_crop.right > m_bounds.right)
        m_crop.MoveTo(m_bounds.right - width, m_crop.top);
    if (m_crop.bottom > m_bounds.bottom)
        m_crop.MoveTo(m_crop.left, m_bounds.bottom - height);
    m_scale = UnitValue::PerInch(m_outputWidth * m_scaleMax.value / width);
    m_scaleRatio = m_scale.value / m_resolution.value;
    return result;
}

void CHLockSize::FitScaleAndCropToOutput() {
    const double max = m_scaleMax.value;
    double scale = m_resolution.value * m_scaleRatio;
    scale = std::max(
        scale, std::max(max * m_outputWidth / m_bounds.Width(), max * m_outputHeight / m_bounds.Height()));
    scale = std::min(std::max(scale, m_scaleMin.value), max);
    m_scale = UnitValue::PerInch(scale);
    m_crop.SetWidth(m_outputWidth * max / scale);
    KeepCropInBoundsHorizontally();
    m_crop.SetHeight(m_outputHeight * max / scale);
    KeepCropInBoundsVertically();
    m_scaleRatio = scale / m_resolution.value;
    m_outputArea = m_outputWidth * m_outputHeight;
    m_aspect = m_printWidth.value / m_printHeight.value;
    m_flags &= ~kOutputSizeFixed;
}

int CHLockSize::SetPrintWidth(UnitValue width) {
    ChangeScope scope(*this);
    const int result = ClampToRatioRange(width, UnitValue::kInches);
    const double v = width.value;
    m_printWidth = width;
    m_outputWidth = std::min(v * m_lockedResolution.value, m_bounds.Width());
    m_resolution = UnitValue::PerInch(m_outputWidth / v);
    m_outputHeight = m_resolution.value * m_printHeight.value;
    if (m_outputHeight > m_bounds.Height()) {
        m_outputHeight = m_bounds.Height();
        m_resolution = UnitValue::PerInch(m_bounds.Height() / m_printHeight.value);
        m_outputWidth = v * m_resolution.value;
    }
    FitScaleAndCropToOutput();
    return result;
}

int CHLockSize::SetPrintHeight(UnitValue height) {
    ChangeScope scope(*this);
    const int result = ClampToRatioRange(height, UnitValue::kInches);
    const double v = height.value;
    m_printHeight = height;
    m_outputHeight = std::min(v * m_lockedResolution.value, m_bounds.Height());
    m_resolution = UnitValue::PerInch(m_outputHeight / v);
    m_outputWidth = m_resolution.value * m_printWidth.value;
    if (m_outputWidth > m_bounds.Width()) {
        m_outputWidth = m_bounds.Width();
        m_resolution = UnitValue::PerInch(m_bounds.Width() / m_printWidth.value);
        m_outputHeight = v * m_resolution.value;
    }
    FitScaleAndCropToOutput();
    return result;
}

int CHLockSize::SetScale(UnitValue scale) {
    ChangeScope scope(*this);
    const int result = ClampScale(scale);
    const double v = scale.value;
    const double max = m_scaleMax.value;
    m_scale = scale;
    m_resolution = UnitValue::PerInch(
        std::min({v * m_bounds.Width() / (m_printWidth.value * max),
                  v * m_bounds.Height() / (m_printHeight.value * max), m_lockedResolution.value}));
    m_outputWidth = m_printWidth.value * m_resolution.value;
    m_outputHeight = m_printHeight.value * m_resolution.value;
    m_scaleRatio = v / m_resolution.value;
    m_crop.SetWidth(m_outputWidth * max / v);
    KeepCropInBoundsHorizontally();
    m_crop.SetHeight(m_outputHeight * max / v);
    KeepCropInBoundsVertically();
    m_outputArea = m_outputWidth * m_outputHeight;
    return result;
}

int CHLockSize::SetResolution(UnitValue resolution) {
    ChangeScope scope(*this);
    int result = ClampToRatioRange(resolution, UnitValue::kPixelsPerInch);
    const bool fixed = IsOutputSizeFixed();
    if (!fixed) {
        const double cap =
            std::min(m_bounds.Width() / m_printWidth.value, m_bounds.Height() / m_printHeight.value);
        if (resolution.value > cap) {
            resolution = UnitValue::PerInch(cap);
            result = 1;
        }
    }
    const double v = resolution.value;
    m_resolution = m_lockedResolution = resolution;
    if (fixed) {
        m_printWidth = UnitValue::Inches(m_outputWidth / v);
        m_printHeight = UnitValue::Inches(m_outputHeight / v);
        m_scaleRatio = m_scale.value / v;
    } else {
        m_outputWidth = v * m_printWidth.value;
        m_outputHeight = v * m_printHeight.value;
        double scale = v * m_scaleRatio;
        HoldWithin(scale, m_scaleMin.value, m_scaleMax.value);
        m_scale = UnitValue::PerInch(scale);
        m_scaleRatio = scale / v;
        const double max = m_scaleMax.value;
        m_crop.SetWidth(max / scale * m_outputWidth);
        KeepCropInBoundsHorizontally();
        m_crop.SetHeight(max / scale * m_outputHeight);
        KeepCropInBoundsVertically();
        m_outputArea = m_outputWidth * m_outputHeight;
    }
    return result;
}

int CHLockSize::SetScaleRatio(double ratio) {
    ChangeScope scope(*this);
    const int result = HoldWithin(ratio, GetRatioMin(), GetRatioMax()) ? 1 : 0;
    m_scaleRatio = ratio;
    m_scale = UnitValue::PerInch(ratio * m_resolution.value);
    const double max = m_scaleMax.value;
    m_crop.SetWidth(m_outputWidth / m_scale.value * max);
    KeepCropInBoundsHorizontally();
    m_crop.SetHeight(m_outputHeight / m_scale.value * max);
    KeepCropInBoundsVertically();
    return result;
}

int CHLockSize::SetOutputWidth(double width) {
    ChangeScope scope(*this);
    const int result = ConstrainWidth(width);
    const double max = m_scaleMax.value;
    m_outputWidth = width;
    m_printWidth = UnitValue::Inches(width / m_resolution.value);
    const double cropWidth = std::min(width * max / m_scale.value, m_bounds.Width());
    m_crop.SetWidth(cropWidth);
    KeepCropInBoundsHorizontally();
    m_scale = UnitValue::PerInch(max * m_outputWidth / cropWidth);
    m_crop.SetHeight(max / m_scale.value * m_outputHeight);
    m_scaleRatio = m_scale.value / m_resolution.value;
    m_outputArea = m_outputWidth * m_outputHeight;
    m_aspect = m_printWidth.value / m_printHeight.value;
    m_flags |= kOutputSizeFixed;
    return result;
}

int CHLockSize::SetOutputHeight(double height) {
    ChangeScope scope(*this);
    const int result = ConstrainHeight(height);
    const double max = m_scaleMax.value;
    m_outputHeight = height;
    m_printHeight = UnitValue::Inches(height / m_resolution.value);
    const double cropHeight = std::min(height * max / m_scale.value, m_bounds.Height());
    m_crop.SetHeight(cropHeight);
    KeepCropInBoundsVertically();
    m_scale = UnitValue::PerInch(max * m_outputHeight / cropHeight);
    m_crop.SetWidth(max / m_scale.value * m_outputWidth);
    m_scaleRatio = m_scale.value / m_resolution.value;
    m_outputArea = m_outputWidth * m_outputHeight;
    m_aspect = m_printWidth.value / m_printHeight.value;
    m_flags |= kOutputSizeFixed;
    return result;
}

int CHLockSize::SetOutputArea(double area) {
    ChangeScope scope(*this);
    const double w = m_crop.Width();
    const double h = m_crop.Height();
    const double q = m_scaleMin.value / m_scaleMax.value;
    const int result = HoldWithin(area, w * h * q * q, w * h) ? 1 : 0;
    m_outputArea = area;
    m_outputWidth = std::sqrt(area * m_aspect);
    m_outputHeight = std::sqrt(area / m_aspect);
    m_resolution = UnitValue::PerInch(m_outputWidth / m_printWidth.value);
    m_scale = UnitValue::PerInch(m_scaleRatio * m_resolution.value);
    return result;
}

double CHLockSize::GetRatioMin() const {
    const double max = m_scaleMax.value;
    return std::max({max * m_printWidth.value / m_bounds.Width(),
                     max * m_printHeight.value / m_bounds.Height(), m_scaleMin.value / m_resolution.value});
}

double CHLockSize::GetRatioMax() const {
    return m_scaleMax.value / m_resolution.value;
}

int CHLockSize::Reset(double width, double height, const UnitValue& scaleMin, const UnitValue& scaleMax) {
    ChangeScope scope(*this);
    if (width < m_outputWidth) {
        m_outputWidth = width;
        m_resolution = UnitValue::PerInch(width / m_printWidth.value);
        m_outputHeight = m_printHeight.value * m_resolution.value;
    }
    if (m_outputHeight > height) {
        m_outputHeight = height;
        m_resolution = UnitValue::PerInch(height / m_printHeight.value);
        m_outputWidth = m_printWidth.value * m_resolution.value;
    }
    m_outputArea = m_outputWidth * m_outputHeight;
    if (m_scale.value < scaleMin.value)
        m_scale = scaleMin;
    if (m_scale.value > scaleMax.value)
        m_scale = scaleMax;
    const double fit =
        std::max(m_outputWidth / width * scaleMax.value, scaleMax.value * m_outputHeight / height);
    if (m_scale.value < fit)
        m_scale = UnitValue::PerInch(fit);
    m_scaleRatio = m_scale.value / m_resolution.value;
    const double cropWidth = scaleMax.value / m_scale.value * m_outputWidth;
    const double cropHeight = scaleMax.value / m_scale.value * m_outputHeight;
    double left = m_crop.left;
    double top = m_crop.top;
    if (left + cropWidth > width)
        left = width - cropWidth;
    if (top + cropHeight > height)
        top = height - cropHeight;
    m_crop = DblRect(left, top, left + cropWidth, top + cropHeight);
    m_trackStart = m_crop;
    m_bounds = DblRect(0, 0, width, height);
    m_imageWidth = width;
    m_imageHeight = height;
    m_scaleMin = scaleMin;
    m_scaleMax = scaleMax;
    return 1;
}

int ToLockSize(std::unique_ptr<CHeuristic>* slot) {
    if (!slot)
        return 1;
    CHeuristic* made = *slot ? new (std::nothrow) CHLockSize(**slot) : new (std::nothrow) CHLockSize();
    if (!made)
        return 2;
    slot->reset(made);
    return 0;
}

#include "CHLockCrop.h"

#include <algorithm>
#include <cmath>
#include <new>

CHLockCrop::CHLockCrop(const CHeuristic& other)
    : CHeuristic(other), m_lockedResolution(other.GetResolution()) {}

int CHLockCrop::SetCropSize(double width, double height, int hint) {
    ChangeScope scope(*this);
    const int result = ConstrainCropSize(width, height, hint);
    m_crop.MoveTo(std::min(m_crop.left, m_bounds.right - width),
                  std::min(m_crop.top, m_bounds.bottom - height));
    m_crop.SetWidth(width);
    m_crop.SetHeight(height);
    const double max = m_scaleMax.value;
    m_outputWidth = m_scale.value * width / max;
    m_outputHeight = m_scale.value * height / max;
    m_printWidth = UnitValue::Inches(m_outputWidth / m_resolution.value);
    m_printHeight = UnitValue::Inches(m_outputHeight / m_resolution.value);
    m_outputArea = m_outputWidth * m_outputHeight;
    m_aspect = width / height;
    return result;
}

int CHLockCrop::SetPrintWidth(UnitValue width) {
    ChangeScope scope(*this);
    const int result = ClampToRatioRange(width, UnitValue::kInches);
    const double v = width.value;
    const double max = m_scaleMax.value;
    m_printWidth = width;
    m_printHeight = UnitValue::Inches(v / m_aspect);
    double scale = v * m_lockedResolution.value * max / m_crop.Width();
    scale = std::max(std::min(scale, max), m_scaleMin.value);
    m_scale = UnitValue::PerInch(scale);
    m_outputWidth = scale * m_crop.Width() / max;
    m_outputHeight = scale * m_crop.Height() / max;
    m_resolution = UnitValue::PerInch(m_outputWidth / v);
    m_scaleRatio = scale / m_resolution.value;
    m_outputArea = m_outputWidth * m_outputHeight;
    m_flags &= ~kOutputSizeFixed;
    return result;
}

int CHLockCrop::SetPrintHeight(UnitValue height) {
    ChangeScope scope(*this);
    const int result = ClampToRatioRange(height, UnitValue::kInches);
    const double v = height.value;
    const double max = m_scaleMax.value;
    m_printHeight = height;
    m_printWidth = UnitValue::Inches(v * m_aspect);
    double scale = m_lockedResolution.value * max * m_printWidth.value / m_crop.Width();
    scale = std::max(std::min(scale, max), m_scaleMin.value);
    m_scale = UnitValue::PerInch(scale);
    m_outputWidth = scale * m_crop.Width() / max;
    m_outputHeight = scale * m_crop.Height() / max;
    m_resolution = UnitValue::PerInch(m_outputWidth / m_printWidth.value);
    m_scaleRatio = scale / m_resolution.value;
    m_outputArea = m_outputWidth * m_outputHeight;
    m_flags &= ~kOutputSizeFixed;
    return result;
}

int CHLockCrop::SetScale(UnitValue scale) {
    ChangeScope scope(*this);
    const int result = ClampScale(scale);
    m_scale = scale;
    m_resolution = UnitValue::PerInch(scale.value / m_scaleRatio);
    m_outputWidth = m_printWidth.value * m_resolution.value;
    m_outputHeight = m_printHeight.value * m_resolution.value;
    m_outputArea = m_outputWidth * m_outputHeight;
    return result;
}

int CHLockCrop::SetResolution(UnitValue resolution) {
    ChangeScope scope(*this);
    int result = ClampToRatioRange(resolution, UnitValue::kPixelsPerInch);
    const bool fixed = IsOutputSizeFixed();
    if (!fixed &&
        HoldWithin(resolution.value, m_scaleMin.value / m_scaleRatio, m_scaleMax.value / m_scaleRatio)) {
        resolution.unit = UnitValue::kPixelsPerInch;
        result = 1;
    }
    const double v = resolution.value;
    m_resolution = m_lockedResolution = resolution;
    if (fixed) {
        m_printWidth = UnitValue::Inches(m_outputWidth / v);
        m_printHeight = UnitValue::Inches(m_outputHeight / v);
        m_scaleRatio = m_scale.value / v;
    } else {
        m_scale = UnitValue::PerInch(v * m_scaleRatio);
        m_outputWidth = v * m_printWidth.value;
        m_outputHeight = v * m_printHeight.value;
        m_outputArea = m_outputWidth * m_outputHeight;
    }
    return result;
}

int CHLockCrop::SetScaleRatio(double ratio) {
    ChangeScope scope(*this);
    const int result = HoldWithin(ratio, GetRatioMin(), GetRatioMax()) ? 1 : 0;
    const double res = m_resolution.value;
    const double max = m_scaleMax.value;
    m_scaleRatio = ratio;
    m_scale = UnitValue::PerInch(ratio * res);
    m_printWidth = UnitValue::Inches(ratio * m_crop.Width() / max);
    m_printHeight = UnitValue::Inches(ratio * m_crop.Height() / max);
    m_outputWidth = res * m_printWidth.value;
    m_outputHeight = res * m_printHeight.value;
    m_outputArea = m_outputWidth * m_outputHeight;
    return result;
}

int CHLockCrop::ConstrainWidth(double& width) {
    const double w = m_crop.Width();
    return HoldWithin(width, w * m_scaleMin.value / m_scaleMax.value, w) ? 1 : 0;
}

int CHLockCrop::ConstrainHeight(double& height) {
    const double h = m_crop.Height();
    return HoldWithin(height, h * m_scaleMin.value / m_scaleMax.value, h) ? 1 : 0;
}

int CHLockCrop::SetOutputWidth(double width) {
    ChangeScope scope(*this);
    const int result = ConstrainWidth(width);
    const double res = m_resolution.value;
    m_outputWidth = width;
    m_scale = UnitValue::PerInch(width * m_scaleMax.value / m_crop.Width());
    m_outputHeight = width / m_aspect;
    m_printWidth = UnitValue::Inches(width / res);
    m_printHeight = UnitValue::Inches(m_outputHeight / res);
    m_scaleRatio = m_scale.value / res;
    m_outputArea = m_outputWidth * m_outputHeight;
    m_flags |= kOutputSizeFixed;
    return result;
}

int CHLockCrop::SetOutputHeight(double height) {
    ChangeScope scope(*this);
    const int result = ConstrainHeight(height);
    const double res = m_resolution.value;
    m_outputHeight = height;
    m_scale = UnitValue::PerInch(height * m_scaleMax.value / m_crop.Height());
    m_outputWidth = height * m_aspect;
    m_printWidth = UnitValue::Inches(m_outputWidth / res);
    m_printHeight = UnitValue::Inches(height / res);
    m_scaleRatio = m_scale.value / res;
    m_outputArea = m_outputWidth * m_outputHeight;
    m_flags |= kOutputSizeFixed;
    return result;
}

int CHLockCrop::SetOutputArea(double area) {
    ChangeScope scope(*this);
    const double w = m_crop.Width();
    const double h = m_crop.Height();
    const double q = m_scaleMin.value / m_scaleMax.value;
    const int result = HoldWithin(area, w * h * q * q, w * h) ? 1 : 0;
    m_aspect = w / h;
    m_outputArea = area;
    m_outputWidth = std::sqrt(area * m_aspect);
    m_outputHeight = std::sqrt(area / m_aspect);
    m_scale = UnitValue::PerInch(m_outputWidth * m_scaleMax.value / w);
    m_resolution = UnitValue::PerInch(m_scale.value / m_scaleRatio);
    return result;
}

double CHLockCrop::GetRatioMin() const {
    return m_scaleMin.value / m_resolution.value;
}

double CHLockCrop::GetRatioMax() const {
    return m_scaleMax.value / m_resolution.value;
}

int ToLockCrop(std::unique_ptr<CHeuristic>* slot) {
    if (!slot)
        return 1;
    CHeuristic* made = *slot ? new (std::nothrow) CHLockCrop(**slot) : new (std::nothrow) CHLockCrop();
    if (!made)
        return 2;
    slot->reset(made);
    return 0;
}

#include "CHDevSetup.h"

CHDevSetup::CHDevSetup(double width, double height, const UnitValue& scale, const UnitValue& scaleMin,
                       const UnitValue& scaleMax) {
    m_crop = DblRect(0, 0, width, height);
    m_bounds = m_crop;
    m_imageWidth = width;
    m_imageHeight = height;
    m_printWidth = UnitValue::Inches(width / scaleMax.value);
    m_printHeight = UnitValue::Inches(height / scaleMax.value);
    m_scale = scale;
    m_scaleMin = scaleMin;
    m_scaleMax = scaleMax;
    m_resolution = scale;
    m_scaleRatio = 1.0;
    m_flags = 0;
    m_outputWidth = scale.value * m_printWidth.value;
    m_outputHeight = scale.value * m_printHeight.value;
    m_outputArea = m_outputWidth * m_outputHeight;
    m_aspect = m_outputWidth / m_outputHeight;
}

int CHDevSetup::SetCrop(const DblRect&, int) {
    return 1;
}

int CHDevSetup::SetCrop(double, double, double, double, int) {
    return 1;
}

int CHDevSetup::SetCropSize(double, double, int) {
    return 1;
}

int CHDevSetup::MoveCrop(double, double) {
    return 1;
}

int CHDevSetup::SetPrintWidth(UnitValue) {
    return 1;
}

int CHDevSetup::SetPrintHeight(UnitValue) {
    return 1;
}

int CHDevSetup::SetScale(UnitValue) {
    return 1;
}

int CHDevSetup::SetResolution(UnitValue) {
    return 1;
}

int CHDevSetup::SetScaleRatio(double) {
    return 1;
}

int CHDevSetup::SetOutputWidth(double) {
    return 1;
}

int CHDevSetup::SetOutputHeight(double) {
    return 1;
}

int CHDevSetup::SetOutputArea(double) {
    return 1;
}

int CHDevSetup::IsEditable(KvEditQuery query) const {
    switch (query) {
    case KvEditQuery::kCrop:
    case KvEditQuery::kCropSize:
    case KvEditQuery::kPrintSize:
    case KvEditQuery::kOutputSize:
        return CHeuristic::IsEditable(query);
    default:
        return 0;
    }
}

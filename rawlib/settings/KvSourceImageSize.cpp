#include "KvSourceImageSize.h"

#include "ImageProperties.h"

#include "platform/pravon/IPravonError.h"
#include "rawlib/pipeline/CKvnProcessRawVendor1.h"
#include "rawlib/pipeline/CProcessRawVendor1.h"

namespace {

constexpr LONG kTagType32 = 3;
constexpr LONG kTagTypeColorSpace = 4;
constexpr DWORD kMosaicMask = 0x1FF00;
constexpr DWORD kMosaicFamily = 0x400;
constexpr DWORD kMosaicTrimmed = 0x10020401;
constexpr DWORD kMosaicFixed = 0x10020403;
constexpr DWORD kMosaicWide = 0x10020404;

bool ReadLong(IPravonTagControl* tags, ULONG tag, LONG type, LONG* value) {
    PravonErrorPtr error(tags->ReadTag(tag, type, sizeof(LONG), value));
    return !error;
}

// Takes a border off a size; false when the size is smaller than the border.
bool Trim(LONG& size, LONG border) {
    if (size < border)
        return false;
    size -= border;
    return true;
}

// The mosaic border of most models; three camera models develop to a size of their own.
constexpr LONG kMosaicBorder = 12;
constexpr LONG kWideBorderX = 16;
constexpr LONG kWideBorderY = 6;

// The developed size of a kMosaicTrimmed source; false when it is smaller than the border.
bool TrimmedMosaicSize(WORD model, LONG& w, LONG& h) {
    if (model == 259)
        w = 4016, h = 2616;
    else if (model == 260)
        w = 2464, h = 1632;
    else if (model == 1025 || model == 1026)
        w = 3008, h = 2000;
    else
        return Trim(w, kMosaicBorder) && Trim(h, kMosaicBorder);
    return true;
}

// A processed source of this size is half of its developed height.
constexpr LONG kHalfHeightWidth = 4016;
constexpr LONG kHalfHeight = 1312;
constexpr LONG kFullHeight = 2616;

} // namespace

bool GetSourceImageSize(IPravonTagControl* tags, LONG* width, LONG* height, bool developed) {
    if (!tags || !width || !height)
        return false;
    *width = 0;
    *height = 0;
    LONG w = 0, h = 0;
    if (!ReadLong(tags, KvSourceTags::kWidth, kTagType32, &w) ||
        !ReadLong(tags, KvSourceTags::kHeight, kTagType32, &h) || w < 0 || h < 0)
        return false;
    if (developed) {
        LONG space = 0;
        WORD model = 0;
        if (!ReadLong(tags, KvSourceTags::kColorSpace, kTagTypeColorSpace, &space))
            return false;
        PravonErrorPtr modelError(tags->GetCameraModel(&model));
        if (modelError)
            return false;
        const DWORD colorSpace = static_cast<DWORD>(space);
        if ((colorSpace & kMosaicMask) == kMosaicFamily) {
            if (colorSpace == kMosaicTrimmed) {
                if (!TrimmedMosaicSize(model, w, h))
                    return false;
            } else if (colorSpace == kMosaicFixed) {
                w = 2560, h = 1920;
            } else if (colorSpace == kMosaicWide) {
                if (!Trim(w, kWideBorderX) || !Trim(h, kWideBorderY))
                    return false;
            }
        }
    }
    *width = w;
    *height = h;
    return true;
}

bool GetDevelopedImageSize(const ImageProperties& properties, LONG* width, LONG* height, bool fullSize) {
    IPravonImage* source = properties.sourceImage;
    if (!source || !width || !height)
        return false;
    LONG w = 0, h = 0, colorSpace = 0;
    if (PravonErrorPtr(source->GetSize(&w, &h)) || PravonErrorPtr(source->GetColorSpace(&colorSpace)) ||
        w < 0 || h < 0)
        return false;
    if (static_cast<DWORD>(colorSpace) == kMosaicTrimmed) {
        if (!TrimmedMosaicSize(properties.cameraModelCode, w, h))
            return false;
    } else if (properties.firstFlag == 0) {
        // Developed as it stands.
    } else if (w == kHalfHeightWidth && h == kHalfHeight) {
        h = kFullHeight;
    } else if (fullSize && ImageProperties::IsLimitedModel(properties.cameraModelCode)) {
        // The processor's answer replaces the source size only when it gives one.
        // The exported processor's image is the chain's source for these models; its processor answers.
        auto* processor = dynamic_cast<CProcessRawVendor1*>(source);
        if (auto* exported = processor ? nullptr : dynamic_cast<CKvnProcessRawVendor1*>(source))
            processor = exported->GetProcessor();
        if (processor) {
            LONG pw = w, ph = h;
            if (!PravonErrorPtr(processor->GetSize(&pw, &ph)))
                w = pw, h = ph;
        }
    }
    *width = w;
    *height = h;
    return true;
}

WORD GetCameraModelCode(IPravonTagControl* tags) {
    WORD model = 0;
    if (!tags || PravonErrorPtr(tags->GetCameraModel(&model)))
        return 0;
    return model;
}

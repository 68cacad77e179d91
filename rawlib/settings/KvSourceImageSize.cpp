#include "KvSourceImageSize.h"

#include "platform/pravon/IPravonError.h"

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
                if (model == 259)
                    w = 4016, h = 2616;
                else if (model == 260)
                    w = 2464, h = 1632;
                else if (model == 1025 || model == 1026)
                    w = 3008, h = 2000;
                else if (!Trim(w, 12) || !Trim(h, 12))
                    return false;
            } else if (colorSpace == kMosaicFixed) {
                w = 2560, h = 1920;
            } else if (colorSpace == kMosaicWide) {
                if (!Trim(w, 16) || !Trim(h, 6))
                    return false;
            }
        }
    }
    *width = w;
    *height = h;
    return true;
}

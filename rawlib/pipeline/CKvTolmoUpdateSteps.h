// What the development chain's update steps share, for the chain's own files only: how a stage call
// becomes the step's result, the units of the sharpening stages, the picture's full-size tags, the preview
// mode and camera 259's pixel aspect.
#pragma once

#include "CKvTolmoFilterChain.h"

#include "rawlib/settings/KvSourceImageSize.h"

namespace KvTolmoUpdate {

// True when the stage refused the call; its error goes here, the step's result tells of it.
inline bool Refused(IPravonError* error) {
    return PravonErrorPtr(error) != nullptr;
}

// The step's result of one stage call.
inline int Outcome(IPravonError* error) {
    return Refused(error) ? CKvTolmoFilterChain::kStageError : CKvTolmoFilterChain::kOk;
}

// What the settings' radius, amount and threshold codes are worth to an unsharp-mask stage. A radius
// below the smallest is not worked at: the stage takes radius 1 with the amount scaled by the radius.
inline constexpr double kUsmRadiusUnit = 0.2;
inline constexpr double kUsmAmountUnit = 0.05;
inline constexpr double kUsmThresholdUnit = 0.2;
inline constexpr double kUsmSmallestRadius = 0.5;
// The mask method that sharpens the whole range.
inline constexpr LONG kUsmMaskMethod = 3;
// The full sensor size, as the picture's tags give it.
inline constexpr ULONG kFullWidthTag = KvSourceTags::kWidth;
inline constexpr ULONG kFullHeightTag = KvSourceTags::kHeight;
// The development mode of quick previews, which leaves the detail stages out, and the one that
// demosaics with the high-quality stage.
inline constexpr DWORD kPreviewMode = 4;
inline constexpr DWORD kQualityMode = 3;
// The stretch that the sensor of camera model 259 needs: its pixels are twice as tall as wide.
inline constexpr double kModel259Aspect = 1.9939024390243902;

} // namespace KvTolmoUpdate

// The development chain's update steps for the optional corrections, the displays and the stages the
// update adds and removes, with what the chain's steps share: how a stage call becomes a step's result,
// the units of the sharpening stages, the picture's full-size tags, the development modes and camera
// 259's pixel aspect. For the chain's own files only.
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

// Each step re-derives its stages from the snapshot and returns the chain's result; Update runs those its
// mask names.
class CKvTolmoFilterChain::UpdateSteps {
public:
    explicit UpdateSteps(CKvTolmoFilterChain& chain) : m_chain(chain) {}

    // The dust map is computed once, from the source, when the settings hold none.
    int Dust(ImageProperties& snapshot, LONG colorSpace, bool rawDevelopment);
    // Whatever the mask, an enabled Revelation stage whose data are out of date runs its passes here.
    int Revelation(const ImageProperties& snapshot, LONG colorSpace, DWORD mask);
    int Fisheye(const ImageProperties& snapshot);
    // The calibrated default level the settings ask for is written back into them.
    int ChromaBooster(ImageProperties& snapshot);
    int LchEditor(const ImageProperties& snapshot);
    int AutoBrightness(const ImageProperties& snapshot);
    int LostDetail(const ImageProperties& snapshot);
    // One plug-in stage per step of the plug-in list that holds a plug-in; kept as they are while the
    // list's plug-ins and their parameters are the same.
    int PluginStages(const ImageProperties& snapshot);
    int PluginScales(const ImageProperties& snapshot, double scale);
    // scale: the update's S, for a list that counts as off.
    int SharpeningList(const ImageProperties& snapshot, double scale);

private:
    CKvTolmoFilterChain& m_chain;
};

#include "KvStateIds.h"

namespace KvStateIds {

namespace {

// clang-format off
#define KV_NAMED_ID(id) NamedId{#id, &id}
// clang-format on
constexpr NamedId kAll[] = {
    KV_NAMED_ID(kImageProcSet),
    KV_NAMED_ID(kMarkerUsmList),
    KV_NAMED_ID(kMarkerLutGroup1),
    KV_NAMED_ID(kMarkerLutGroup2),
    KV_NAMED_ID(kMarkerExposure),
    KV_NAMED_ID(kMarkerWhiteBalance),
    KV_NAMED_ID(kMarkerVignette),
    KV_NAMED_ID(kItemOrientation),
    KV_NAMED_ID(kItemRotation),
    KV_NAMED_ID(kMarkerLutGroup3),
    KV_NAMED_ID(kMarkerRevelation),
    KV_NAMED_ID(kMarkerAlways),
    KV_NAMED_ID(kMarkerDustRemoval),
    KV_NAMED_ID(kMarkerNoiseReduction),
    KV_NAMED_ID(kMarkerFisheye),
    KV_NAMED_ID(kMarkerFilterPlugins),
    KV_NAMED_ID(kMarkerChromaBooster),
    KV_NAMED_ID(kMarkerRedEye),
    KV_NAMED_ID(kMarkerBrightness),
    KV_NAMED_ID(kItemOpaqueBlock),
    KV_NAMED_ID(kItemExtraBlock),
    KV_NAMED_ID(kItemName),
    KV_NAMED_ID(kUsmList),
    KV_NAMED_ID(kUsm),
    KV_NAMED_ID(kRevelation),
    KV_NAMED_ID(kDustRemoval),
    KV_NAMED_ID(kSizeRes),
    KV_NAMED_ID(kExposureAdjustment),
    KV_NAMED_ID(kWBAdjustment),
    KV_NAMED_ID(kNoiseReduction),
    KV_NAMED_ID(kFisheye),
    KV_NAMED_ID(kFilterPluginList),
    KV_NAMED_ID(kFilterPlugins),
    KV_NAMED_ID(kChromaBooster),
    KV_NAMED_ID(kLEGeneral),
    KV_NAMED_ID(kVignette),
    KV_NAMED_ID(kFnRedEye),
    KV_NAMED_ID(kBrightness),
    KV_NAMED_ID(kHeuristic),
    KV_NAMED_ID(kLensInformation),
    KV_NAMED_ID(kLutGroup),
    KV_NAMED_ID(kToneChannel),
    KV_NAMED_ID(kHueChannel),
    KV_NAMED_ID(kChromaChannel),
};
#undef KV_NAMED_ID

} // namespace

std::span<const NamedId> All() {
    return kAll;
}

} // namespace KvStateIds

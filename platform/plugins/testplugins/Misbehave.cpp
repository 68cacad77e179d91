// A plug-in that does what the control "mode" says, mostly wrong: it fails its initial call, answers
// prepare with "done", fails with an error text or a bare code, or asks the host for rectangles and plane
// ranges outside the image and what the host allocated. It reports the host's answer to its request as
// the fact "advance" and hands that answer back, so a refused request fails the run. Otherwise it passes
// its input through.
#include "KvTestPlugin.h"

#include <cstdint>

using namespace KvPlugin;

namespace {

enum Mode : std::int32_t {
    kPassThrough,
    kInitialiseFails,
    kPrepareAnswersDone,
    kErrorText,
    kBareError,
    kInputOutsideImage,
    kInputAroundImage,
    kInputInverted,
    kInputHuge,
    kPlaneAbovePlanes,
    kPlanesReversed,
    kPlaneNegative,
    kOutputOutsideBuffer,
    kOutputPlaneAbovePlanes,
    kHugePadding,
};

constexpr std::int16_t kBareErrorCode = -4711;

// Asks for the input the mode names and reports what the host answered.
std::int16_t Request(KvFilterRecord& r, std::int32_t mode) {
    const std::int32_t w = r.imageWidth, h = r.imageHeight;
    switch (mode) {
    case kInputOutsideImage:
        r.inRect = {w + 10, h + 10, w + 20, h + 20};
        break;
    case kInputAroundImage:
        r.inRect = {-5, -3, w + 5, h + 3};
        break;
    case kInputInverted:
        r.inRect = {10, 10, 5, 5};
        break;
    case kInputHuge:
        r.inRect = {-(1 << 30), -(1 << 30), 1 << 30, 1 << 30};
        break;
    case kPlaneAbovePlanes:
        r.inHiPlane = r.planes;
        break;
    case kPlanesReversed:
        r.inLoPlane = 1;
        r.inHiPlane = 0;
        break;
    case kPlaneNegative:
        r.inLoPlane = -1;
        break;
    case kOutputOutsideBuffer:
        r.outRect = {r.outRect.left - 1, r.outRect.top, r.outRect.right + 40, r.outRect.bottom + 40};
        break;
    case kOutputPlaneAbovePlanes:
        r.outHiPlane = static_cast<std::int16_t>(r.planes + 3);
        break;
    default:
        return kNoError;
    }
    const std::int16_t result = r.advanceState();
    KvTestPlugin::SetFact("advance", result);
    if (result == kNoError && mode == kInputOutsideImage) {
        // Nothing of the image lies there: the host leaves the buffer zero.
        const auto* bytes = static_cast<const std::uint8_t*>(r.inData);
        bool zero = true;
        for (std::int64_t i = 0; i < std::int64_t{r.inRowBytes} * 10; ++i)
            zero = zero && bytes[i] == 0;
        KvTestPlugin::SetFact("input-zero", zero);
    }
    return result;
}

} // namespace

KV_TEST_PLUGIN_ENTRY()

std::int16_t KvTestPluginHandle(std::int16_t selector, KvFilterRecord& r, std::intptr_t*) {
    const std::int32_t mode = KvTestPlugin::Control("mode");
    switch (selector) {
    case kSelectorInitialize:
        return mode == kInitialiseFails ? std::int16_t{7} : kNoError;
    case kSelectorPrepare:
        if (mode == kHugePadding)
            r.inputPadding = 32767;
        return mode == kPrepareAnswersDone ? kPrepareDone : kNoError;
    case kSelectorProcess:
        if (mode == kErrorText) {
            KvTestPlugin::SetErrorText(r, "The lens of this filter is cracked");
            return kErrWithText;
        }
        if (mode == kBareError)
            return kBareErrorCode;
        if (mode == kHugePadding)
            KvTestPlugin::SetFact("input-width", r.inRect.right - r.inRect.left);
        return Request(r, mode);
    default:
        return kNoError;
    }
}

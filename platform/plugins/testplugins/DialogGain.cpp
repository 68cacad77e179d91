// Multiplies every sample by a gain in percent (saturating). The gain is its parameter block (4 bytes);
// when it has none, its run step shows its dialog, whose answer comes from the test's script: a gain, or
// none (the user closed the dialog), which cancels the run.
#include "KvTestPlugin.h"

#include <algorithm>
#include <cstring>

using namespace KvPlugin;

KV_TEST_PLUGIN_ENTRY()

std::int16_t KvTestPluginHandle(std::int16_t selector, KvFilterRecord& r, std::intptr_t*) {
    std::int32_t gain = 0;
    if (selector == kSelectorRun && !KvTestPlugin::ParameterWord(r, &gain)) {
        KvTestPlugin::AddFact("dialogs");
        std::int32_t answer = 0;
        if (!KvTestPlugin::NextAnswer(&answer))
            return kErrUserCanceled;
        KvHandle handle = r.parameters ? r.parameters : r.handleSuite->newHandle(4);
        if (!handle || r.handleSuite->setSize(handle, 4) != kNoError)
            return kErrMemory;
        std::memcpy(r.handleSuite->lock(handle, 0), &answer, 4);
        r.parameters = handle;
    } else if (selector == kSelectorPrepare) {
        r.outputInitialised = 1;
    } else if (selector == kSelectorProcess) {
        if (!KvTestPlugin::ParameterWord(r, &gain))
            return kErrParameter;
        const std::uint32_t max = KvTestPlugin::MaxSample(r);
        for (std::int32_t y = r.outRect.top; y < r.outRect.bottom; ++y)
            for (std::int32_t x = r.outRect.left; x < r.outRect.right; ++x)
                for (int p = r.outLoPlane; p <= r.outHiPlane; ++p) {
                    const std::uint64_t v = std::uint64_t{KvTestPlugin::InSample(r, x, y, p)} *
                                            static_cast<std::uint32_t>(std::max(gain, 0)) / 100;
                    KvTestPlugin::SetOutSample(r, x, y, p,
                                               static_cast<std::uint32_t>(std::min<std::uint64_t>(v, max)));
                }
    }
    return kNoError;
}

// Inverts its output band by band: for each band of rows (the control "band", 2 unless set) it asks the
// host for that band's input, so the host reports progress band by band, and before each band it asks
// the host whether to stop; when told to, it stops with the user-cancel result.
#include "KvTestPlugin.h"

#include <algorithm>

using namespace KvPlugin;

KV_TEST_PLUGIN_ENTRY()

std::int16_t KvTestPluginHandle(std::int16_t selector, KvFilterRecord& r, std::intptr_t*) {
    if (selector == kSelectorPrepare) {
        r.outputInitialised = 1;
        return kNoError;
    }
    if (selector != kSelectorProcess)
        return kNoError;
    const KvPluginRect whole = r.outRect;
    const std::int32_t band = std::max(KvTestPlugin::Control("band"), 1);
    for (std::int32_t top = whole.top; top < whole.bottom; top += band) {
        r.progressProc(top - whole.top, whole.bottom - whole.top);
        if (r.abortProc()) {
            KvTestPlugin::AddFact("cancelled");
            return kErrUserCanceled;
        }
        r.inRect = r.outRect = {whole.left, top, whole.right, std::min(top + band, whole.bottom)};
        if (const std::int16_t result = r.advanceState(); result != kNoError)
            return result;
        KvTestPlugin::AddFact("bands");
        KvTestPlugin::InvertOutput(r);
    }
    r.outRect = whole;
    return kNoError;
}

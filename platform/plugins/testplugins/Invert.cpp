// Inverts every sample of its output. With the control "planar" it asks for its output plane after plane.
// The same library is built without resources and with damaged ones, for the resource readers.
#include "KvTestPlugin.h"

using namespace KvPlugin;

KV_TEST_PLUGIN_ENTRY()

std::int16_t KvTestPluginHandle(std::int16_t selector, KvFilterRecord& r, std::intptr_t*) {
    if (selector == kSelectorPrepare) {
        r.planarOutput = KvTestPlugin::Control("planar") != 0;
        r.outputInitialised = 1;
    } else if (selector == kSelectorProcess) {
        KvTestPlugin::InvertOutput(r);
        KvTestPlugin::AddFact("processed");
    }
    return kNoError;
}

// A library with resources but no entry point: hosts must refuse to load it.
#include "KvTestPlugin.h"

KV_PLUGIN_EXPORT int KvTestPluginNoEntry() {
    return 1;
}

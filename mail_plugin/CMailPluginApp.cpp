// The mail plug-in module's application object: when the library is loaded it starts the canvas library
// and hands over the factory of the one plug-in object. Nothing is shut down when it unloads.
#include "TMailPlugin.h"

#include "plugin_framework/TModuleValues.h"

#include "platform/zizoraz/zIzoRaz.h"

#include <new>

const TModuleValues g_moduleValues{L"Mail plugin", L"E-mail"};

namespace {

class CMailPluginApp {
public:
    CMailPluginApp() {
        iproStartup();
        KvwSetModuleFactory([]() -> TBasicQWComp* { return new (std::nothrow) TMailPlugin; });
    }
};

CMailPluginApp theApp;

} // namespace

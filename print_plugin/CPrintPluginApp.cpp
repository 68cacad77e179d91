// The print plug-in module's application object: when the library is loaded it starts the canvas and
// XML libraries and hands over the factory of the one plug-in object; both libraries are shut down when
// the library goes.
#include "TPrintPlugin.h"

#include "plugin_framework/TModuleValues.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/zizoraz/zIzoRaz.h"

#include <new>

const TModuleValues g_moduleValues{L"Print plugin", L"Print"};

namespace {

class CPrintPluginApp {
public:
    CPrintPluginApp() {
        iproStartup();
        utlStartup();
        KvwSetModuleFactory([]() -> TBasicQWComp* { return new (std::nothrow) TPrintPlugin; });
    }
    ~CPrintPluginApp() {
        iproShutdown();
        utlShutdown();
    }
    CPrintPluginApp(const CPrintPluginApp&) = delete;
    CPrintPluginApp& operator=(const CPrintPluginApp&) = delete;
};

CPrintPluginApp theApp;

} // namespace

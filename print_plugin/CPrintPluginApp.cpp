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
        m_canvasStarted = iproStartup() == 1;
        m_xmlStarted = utlStartup() == 1;
        KvwSetModuleFactory([]() -> TBasicQWComp* { return new (std::nothrow) TPrintPlugin; });
    }
    // Only what was started is shut down, so that another user of a library keeps it.
    ~CPrintPluginApp() {
        if (m_canvasStarted)
            iproShutdown();
        if (m_xmlStarted)
            utlShutdown();
    }
    CPrintPluginApp(const CPrintPluginApp&) = delete;
    CPrintPluginApp& operator=(const CPrintPluginApp&) = delete;

private:
    bool m_canvasStarted = false;
    bool m_xmlStarted = false;
};

CPrintPluginApp theApp;

} // namespace

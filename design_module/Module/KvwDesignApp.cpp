// The design module library's application object: it starts the imaging and utility libraries when the
// library is loaded, hands over the factory of the module object, and shuts them down when it goes.
#include "design_module/TKvwDesignModule.h"

#include "plugin_framework/TModuleValues.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/zizoraz/zIzoRaz.h"

const TModuleValues g_moduleValues{L"Design", L"DesignModule"};

namespace {

struct TKvwDesignApp {
    TKvwDesignApp() {
        m_started = iproStartup() == 1 && utlStartup() == 1;
        KvwSetModuleFactory([]() -> TBasicQWComp* { return new TKvwDesignModule; });
    }
    ~TKvwDesignApp() {
        if (m_started) {
            iproShutdown();
            utlShutdown();
        }
    }
    bool m_started = false;
} theApp;

} // namespace

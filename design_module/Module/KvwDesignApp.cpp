// The design module library's application object: at the first export it loads the language library beside
// the module, starts the imaging and utility libraries and makes the module object; it shuts them down
// when the library goes. Without the language library the module does not start.
#include "design_module/CKvwLangResource.h"
#include "design_module/TKvwDesignModule.h"

#include "plugin_framework/TModuleValues.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/win/WinDialogs.h"
#include "platform/zizoraz/zIzoRaz.h"

#include <new>

const TModuleValues g_moduleValues{L"Design", L"DesignModule"};

namespace {

class CKvw_DesignApp {
public:
    CKvw_DesignApp() {
        KvwSetModuleStart([] { return theApp().InitInstance(); },
                          []() -> TBasicQWComp* { return new (std::nothrow) TKvwDesignModule; });
    }
    ~CKvw_DesignApp() { ExitInstance(); }
    CKvw_DesignApp(const CKvw_DesignApp&) = delete;
    CKvw_DesignApp& operator=(const CKvw_DesignApp&) = delete;

    bool InitInstance() {
        if (!m_language.Load(CKvwLangResource::PathBeside(GetThisModule()))) {
            MessageBoxW(nullptr, L"Load error : KvtDesignLang.dll", L"DesignModule", MB_OK);
            return false;
        }
        m_canvasStarted = iproStartup() == 1;
        m_xmlStarted = utlStartup() == 1;
        return true;
    }
    // Only what was started is shut down, so that another user of a library keeps it.
    void ExitInstance() {
        if (m_canvasStarted)
            iproShutdown();
        if (m_xmlStarted)
            utlShutdown();
        m_canvasStarted = m_xmlStarted = false;
    }

    static CKvw_DesignApp& theApp();

private:
    CKvwLangResource m_language;
    bool m_canvasStarted = false;
    bool m_xmlStarted = false;
};

CKvw_DesignApp g_app;

CKvw_DesignApp& CKvw_DesignApp::theApp() {
    return g_app;
}

} // namespace

// A minimal host module: the framework's module object and nothing of its own but the messages by which the
// tests look inside it. Built several times, as modules with different names, language libraries and
// temporary folders (KV_TEST_MODULE_NAME, KV_TEST_LANGUAGE_LIBRARY).
#include "TestModuleMessages.h"

#include "plugin_framework/TBasicQWComp.h"
#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TObjectManager.h"
#include "plugin_framework/TResource.h"

#include "platform/win/WinDebug.h"
#include "platform/win/WinModule.h"

#include <cwchar>
#include <map>

const TModuleValues g_moduleValues{KV_TEST_MODULE_NAME, KV_TEST_MODULE_NAME};

namespace {

bool CopyOut(const TString& text, KvwWord buffer, KvwWord size) {
    auto* out = reinterpret_cast<wchar_t*>(buffer);
    if (!out || size == 0 || static_cast<KvwWord>(text.GetLength()) >= size)
        return false;
    std::wcscpy(out, text);
    return true;
}

// An object registered with the object manager, as the module's own objects are.
class RegisteredProbe : public TBaseObject {
public:
    RegisteredProbe() : handle(TObjectManager::Instance()->Register(this)) {}
    const DWORD handle;
};

class TTestModule;

class TTestRequest : public TCodecRequest {
public:
    explicit TTestRequest(std::map<KvwItemId, int>* completions) : m_completions(completions) {}
    void Complete(KvwItemId item, DWORD) override { ++(*m_completions)[item]; }

private:
    std::map<KvwItemId, int>* m_completions;
};

class TTestModule : public TBasicQWComp {
public:
    TTestModule() : m_probe(TRefPtr<RegisteredProbe>::Adopt(new RegisteredProbe)) {}
    // Tells whether what it releases is still registered, as it must be until the object manager goes.
    ~TTestModule() override {
        const bool registered = TObjectManager::Instance()->Find(m_probe->handle) == m_probe.Get();
        OutputDebugStringA(registered ? "test module: probe registered at deletion\n"
                                      : "test module: probe lost before deletion\n");
        m_probe = TRefPtr<RegisteredProbe>();
    }

    TString GetName() override { return TString(KV_TEST_MODULE_NAME); }
    TString GetLanguageDllName() override { return TString(KV_TEST_LANGUAGE_LIBRARY); }

    KvwResult OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                        KvwWord p7, KvwWord p8) override {
        TBasicQWComp::OnMessage(id, p1, p2, p3, p4, p5, p6, p7, p8);
        switch (id) {
        case TestModule::kLoadString:
            return LoadText(static_cast<UINT>(p1), p2, p3, p4);
        case TestModule::kRequestImage: {
            const KvwItemId item = KvwMakeItemId(p1, p2);
            const DWORD request = static_cast<DWORD>(p3);
            auto* waiter = new TTestRequest(&m_completions);
            m_codecWindow->AddWaiter(request, item, waiter);
            waiter->Release();
            return SendToHost(request, KvwItemIdLow(item), KvwItemIdHigh(item), 0, 0, 0, 6, 64,
                              kKvwFrameworkRequestTag);
        }
        case TestModule::kCompletions:
            return static_cast<KvwResult>(m_completions[KvwMakeItemId(p1, p2)]);
        case TestModule::kImageLoadedNotices:
            return static_cast<KvwResult>(m_imageLoadedNotices);
        case TestModule::kIdentity: {
            auto* out = reinterpret_cast<KvwWord*>(p3);
            if (!out)
                return kKvwInvalidArgument;
            out[0] = reinterpret_cast<KvwWord>(TObjectManager::Instance());
            out[1] = reinterpret_cast<KvwWord>(TResource::Instance());
            out[2] = reinterpret_cast<KvwWord>(GetThisModule());
            return kKvwOk;
        }
        case TestModule::kCodecWindow:
            if (!p3)
                return kKvwInvalidArgument;
            *reinterpret_cast<HWND*>(p3) = m_codecWindow ? m_codecWindow->GetHandle() : nullptr;
            return kKvwOk;
        case TestModule::kTempFile: {
            TFilePath location;
            if (!MakeUniqueFileName(L"probe", L"txt", location))
                return kKvwNothingToWorkOn;
            return CopyOut(location.GetPath(), p3, p4) ? kKvwOk : kKvwInvalidArgument;
        }
        case TestModule::kGroupId:
            if (!p3)
                return kKvwInvalidArgument;
            *reinterpret_cast<KvwItemId*>(p3) = GetCurrentGroupId();
            return kKvwOk;
        case TestModule::kSendToHost:
            return SendToHost(static_cast<DWORD>(p1), p2, p3, p4, p5, p6, p7, p8, 0);
        case TestModule::kServices:
            return (m_itemService ? 1 : 0) | (m_browseService ? 2 : 0) | (m_host ? 4 : 0);
        case TestModule::kWaiters:
            return static_cast<KvwResult>(m_codecWindow ? m_codecWindow->WaiterCount() : 0);
        default:
            return kKvwOk;
        }
    }

protected:
    void NotifyImageLoaded(KvwItemId item) override {
        ++m_imageLoadedNotices;
        TBasicQWComp::NotifyImageLoaded(item);
    }

private:
    KvwResult LoadText(UINT id, KvwWord source, KvwWord buffer, KvwWord size) {
        TString text;
        bool found = false;
        if (source == TestModule::kLanguageLibrary) {
            found = TResource::Instance()->LoadString(id, text);
        } else if (source == TestModule::kOwnFile) {
            found = text.LoadString(GetThisModule(), id);
        } else {
            TResource host;
            host.SetModule(GetModuleHandleW(L"KvtImgy.exe"));
            found = host.LoadString(id, text);
        }
        if (!found)
            return kKvwNothingToWorkOn;
        return CopyOut(text, buffer, size) ? kKvwOk : kKvwInvalidArgument;
    }

    TRefPtr<RegisteredProbe> m_probe;
    std::map<KvwItemId, int> m_completions;
    int m_imageLoadedNotices = 0;
};

// The module's application object: it hands over the factory of the module object when the library is
// loaded.
struct TTestModuleApp {
    TTestModuleApp() {
        KvwSetModuleFactory([]() -> TBasicQWComp* { return new TTestModule; });
    }
} theApp;

} // namespace

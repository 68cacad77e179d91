// A generic plug-in for the host tests: the framework's button plug-in with a dialog that shows how many
// pictures it was opened on, and a task with a progress dialog. Built as two modules with their own names,
// captions and language libraries (KV_TEST_PLUGIN_NAME, KV_TEST_PLUGIN_LANGUAGE).
#include "TestPluginMessages.h"

#include "plugin_framework/TGenericPlugin.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TPluginProgressDlg.h"
#include "plugin_framework/TResource.h"

const TModuleValues g_moduleValues{KV_TEST_PLUGIN_NAME, KV_TEST_PLUGIN_NAME};

namespace {

constexpr WORD kDialogTemplate = 1004;
constexpr UINT kProgressTemplate = 1005;
constexpr UINT kProgressText = 1100;
constexpr int kCountText = 1000;

class TTestPluginDlg : public TGenPluginDlg {
public:
    LONG OnInit() override {
        if (TGenPluginDlg::OnInit() != 1)
            return 0;
        TString count;
        count.Format(L"%d pictures", GetSelection() ? static_cast<int>(GetSelection()->size()) : 0);
        if (TControl* text = GetControl(kCountText))
            text->SetText(count);
        return 1;
    }
};

// Receives the progress dialog's cancel and closes it.
class TProgressOwner : public TWindow {
public:
    bool Make() {
        if (!Create(L"TestPluginProgressOwner", 0, TRect(0, 0, 1, 1), nullptr))
            return false;
        AddMessageHandler(kProgressCancelledMessage, TMessageHandler{this, &TProgressOwner::OnCancelled});
        return m_target.Attach(this);
    }
    TAutoHandle* Target() { return &m_target; }
    TRefPtr<TPluginProgressDlg> progress;

private:
    static LONG OnCancelled(TMessageInfo*, void* context) {
        auto* owner = static_cast<TProgressOwner*>(context);
        if (owner->progress)
            owner->progress->Close();
        owner->progress = TRefPtr<TPluginProgressDlg>();
        return 1;
    }
    TAutoHandle m_target;
};

class TTestPlugin : public TGenericPlugin {
public:
    TString GetName() override { return TString(KV_TEST_PLUGIN_NAME); }
    TString GetLanguageDllName() override { return TString(KV_TEST_PLUGIN_LANGUAGE); }
    UINT GetButtonBitmapState1() override { return 301; }
    UINT GetButtonBitmapState2() override { return 302; }
    UINT GetButtonBitmapState3() override { return 303; }
    UINT GetButtonBitmapState100() override { return 310; }
    WORD GetDialogTemplateId() override { return kDialogTemplate; }
    void GetCommandList(std::vector<DWORD>& commands) override {
        commands = {TestPlugin::kOpenDialog, TestPlugin::kShowProgress};
    }

    KvwResult Initialize(KvwHostCallback callback, IKvwHost* host) override {
        const KvwResult result = TGenericPlugin::Initialize(callback, host);
        if (result != kKvwOk)
            return result;
        m_dialog = TRefPtr<TGenPluginDlg>::Adopt(new TTestPluginDlg);
        InitDialogResource();
        m_owner = TRefPtr<TProgressOwner>::Adopt(new TProgressOwner);
        m_owner->Make();
        return kKvwOk;
    }
    void Close() override {
        if (m_owner) {
            m_owner->progress = TRefPtr<TPluginProgressDlg>();
            m_owner->Destroy();
        }
        m_owner = TRefPtr<TProgressOwner>();
        TGenericPlugin::Close();
    }

    KvwResult OnCommand(DWORD command, DWORD second) override {
        if (command != TestPlugin::kShowProgress)
            return TGenericPlugin::OnCommand(command, second);
        if (!m_owner || m_owner->progress)
            return kKvwHandled;
        auto progress = TRefPtr<TPluginProgressDlg>::Adopt(new TPluginProgressDlg);
        progress->GetResource().SetModule(TResource::Instance()->GetModule());
        TString text;
        TResource::Instance()->LoadString(kProgressText, text);
        progress->SetMessageText(text);
        progress->SetDetailText(L"Picture 3 of 5");
        progress->SetStepRange(5);
        progress->SetStepPos(3);
        progress->SetTotalRange(10);
        progress->SetTotalPos(7);
        progress->SetNotifyTarget(m_owner->Target());
        if (progress->CreateModeless(kProgressTemplate, GetThreadMainWindow()))
            m_owner->progress = progress;
        return kKvwHandled;
    }

    KvwResult OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                        KvwWord p7, KvwWord p8) override {
        if (id == TestPlugin::kProgressWindow) {
            if (!p3)
                return kKvwInvalidArgument;
            *reinterpret_cast<HWND*>(p3) =
                m_owner && m_owner->progress ? m_owner->progress->GetHandle() : nullptr;
            return kKvwOk;
        }
        return TGenericPlugin::OnMessage(id, p1, p2, p3, p4, p5, p6, p7, p8);
    }

private:
    TRefPtr<TProgressOwner> m_owner;
};

// The module's application object: it hands over the factory of the module object when the library is
// loaded.
struct TTestPluginApp {
    TTestPluginApp() {
        KvwSetModuleFactory([]() -> TBasicQWComp* { return new TTestPlugin; });
    }
} theApp;

} // namespace

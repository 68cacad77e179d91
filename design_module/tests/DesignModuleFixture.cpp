#include "DesignModuleFixture.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/host/CHostModule.h"
#include "platform/win/WinMenus.h"
#include "platform/win/WinUser.h"
#include "platform/win/utf16.h"

#include <algorithm>

DesignPartsLog* DesignModuleTest::s_log = nullptr;

namespace {

class FakePane : public IDesignPane {
public:
    FakePane(DesignPartsLog::Pane& state, std::string name) : m_state(state), m_name(std::move(name)) {}
    bool Create(HWND, const TWindow::TRect& rect) override {
        m_state.x = rect.left;
        m_state.y = rect.top;
        m_state.width = rect.Width();
        m_state.height = rect.Height();
        return true;
    }
    void SetMode(LONG mode) override { m_state.mode = mode; }
    void SetPosSize(const TWindow::TPoint& point, const TWindow::TSize& size) override {
        m_state.x = point.x;
        m_state.y = point.y;
        SetSize(size);
    }
    void SetSize(const TWindow::TSize& size) override {
        m_state.width = size.cx;
        m_state.height = size.cy;
    }
    void StopRendering() override { DesignModuleTest::Log(m_name + " stop"); }
    HWND GetHandle() const override { return nullptr; }
    DWORD GetZoomCommand() const override { return m_state.zoom; }
    void SetZoomCommand(DWORD command) override { m_state.zoom = command; }
    LONG GetShownPage() const override { return m_state.page; }
    void ShowPage(LONG page) override { m_state.page = page; }
    void ShowPages(const KvwItemIdList& pages) override { m_state.pageLists.push_back(pages); }

private:
    DesignPartsLog::Pane& m_state;
    std::string m_name;
};

class FakePanel : public IDesignPropertiesPanel {
public:
    bool Create(HWND parent) override { return parent != nullptr; }
    bool Initialise(TKvwDesignModule&) override { return true; }
    bool GetWindowRect(TWindow::TRect& rect) const override {
        rect = TWindow::TRect(10, 10, 10 + Log().panelWidth, 10 + Log().panelHeight);
        return true;
    }
    bool Resize(LONG width, LONG height) override {
        Log().panelSizes.emplace_back(width, height);
        return true;
    }
    static DesignPartsLog& Log() { return *DesignModuleTest::s_log; }
};

class FakeRenderer : public IDesignRenderer {
public:
    bool Start(const TFilePath&, TAutoHandle* target, const TString& codec) override {
        DesignModuleTest::Log("renderer start");
        DesignModuleTest::s_log->codecParameters = codec;
        return target && target->IsSet() && DesignModuleTest::s_log->rendererStarts;
    }
    void CancelQueued() override { DesignModuleTest::Log("renderer cancel"); }
    void Stop() override { DesignModuleTest::Log("renderer stop"); }
};

class FakeLayouts : public IDesignLayouts {
public:
    KvwResult Open() override {
        DesignModuleTest::Log("layouts open");
        return DesignModuleTest::s_log->openResult;
    }
    void Close() override { DesignModuleTest::Log("layouts close"); }
    bool WriteBack() override {
        DesignModuleTest::Log("layouts write");
        return true;
    }
    void AnnouncePages() override { DesignModuleTest::Log("layouts announce"); }
    LONG GetPageCount() const override { return DesignModuleTest::s_log->pageCount; }
    void ForgetLayoutFile() override { DesignModuleTest::Log("layouts forget"); }
    std::map<LONG, KvwItemId> GetPageItems() const override { return DesignModuleTest::s_log->pageItems; }
    void ChangeTemplate(const TString& path) override {
        DesignModuleTest::Log("layouts template " + Utf::WideToUtf8(static_cast<const wchar_t*>(path)));
    }
};

class FakeParts : public IDesignParts {
public:
    std::unique_ptr<IDesignPane> MakeSinglePagePane(TKvwDesignModule&) override {
        return std::make_unique<FakePane>(DesignModuleTest::s_log->single, "single");
    }
    std::unique_ptr<IDesignPane> MakeContactSheetPane(TKvwDesignModule&) override {
        return std::make_unique<FakePane>(DesignModuleTest::s_log->sheet, "sheet");
    }
    std::unique_ptr<IDesignPropertiesPanel> MakePropertiesPanel(TKvwDesignModule&) override {
        return DesignModuleTest::s_log->withPanel ? std::make_unique<FakePanel>() : nullptr;
    }
    std::unique_ptr<IDesignRenderer> MakeRenderer() override { return std::make_unique<FakeRenderer>(); }
    std::unique_ptr<IDesignLayouts> MakeLayouts(TKvwDesignModule&) override {
        return std::make_unique<FakeLayouts>();
    }
};

} // namespace

void DesignModuleTest::Log(const std::string& call) {
    s_log->calls.push_back(call);
}

void DesignModuleTest::SetUp() {
    s_log = &m_log;
    ASSERT_EQ(utlStartup(), 1);
    WinSeams::SetTempBase(m_temp.Path());
    WinDialogTest::ResetMessageBoxes();
    WinMenuTest::Reset();
    m_host = std::make_unique<CScriptedHost>();
    m_host->Windows().SetWindow(KvwDesign::kComponentKind, 1, m_host->MainWindow());
    m_host->Panes().SetWindow(KvwDesign::kComponentKind, m_host->MainWindow());
    m_host->SetScript(KvwDesign::kCommandUpdate, [this](const CHostRequest& request) {
        const auto command = static_cast<DWORD>(request.words[0]);
        if (request.words[4] == KvwDesign::kUpdateText)
            m_log.texts.emplace_back(
                command, std::wstring(reinterpret_cast<const wchar_t*>(request.words[2]), request.words[3]));
        else if (request.words[4] == KvwDesign::kUpdateStateWord && request.words[2])
            m_log.states.emplace_back(command, *reinterpret_cast<const DWORD*>(request.words[2]));
        return CHostReply{};
    });
}

void DesignModuleTest::TearDown() {
    m_host.reset();
    WinUserTest::PumpPending();
    WinSeams::ResetAll();
    WinDialogTest::ResetMessageBoxes();
    WinMenuTest::Reset();
    s_log = nullptr;
    utlShutdown();
}

std::size_t DesignModuleTest::Start() {
    KvwSetModuleFactory(
        []() -> TBasicQWComp* { return new TKvwDesignModule(std::make_unique<FakeParts>()); });
    Module().SetModuleFolder([&] {
        TFilePath folder;
        folder.Set(TString(m_moduleFolder.Path().c_str()) + L"/");
        return folder;
    }());
    m_module = m_host->Add(
        CHostModule::FromExports("KvwDesign.md7", KvwInitialize, KvwMessage, KvwGetInformation, KvwClose));
    EXPECT_NE(m_module, CScriptedHost::kNoModule);
    EXPECT_EQ(m_host->Initialize(m_module), kKvwOk);
    return m_module;
}

void DesignModuleTest::WriteConfiguration(const std::string& templatesFolder, const std::string& extra) {
    m_moduleFolder.Write("DesignModuleCfg.xml", "<config><templates><templates_path>" + templatesFolder +
                                                    "</templates_path></templates>" + extra + "</config>");
}

void DesignModuleTest::WriteTemplate(const std::string& folder, const std::string& name,
                                     const std::string& description) {
    TFilePath location;
    location.Set(TString((m_moduleFolder.Path() + "/" + folder).c_str()));
    location.CreateFolder();
    m_moduleFolder.Write(folder + "/" + name, "<layout><metadata><property name=\"template_description\">" +
                                                  description + "</property></metadata></layout>");
}

TKvwDesignModule& DesignModuleTest::Module() const {
    return *static_cast<TKvwDesignModule*>(KvwGetModuleObject());
}

KvwResult DesignModuleTest::Send(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                 KvwWord p6, KvwWord p7, KvwWord p8) {
    return m_host->Send(m_module, id, p1, p2, p3, p4, p5, p6, p7, p8);
}

void DesignModuleTest::OpenDesign(LONG width, LONG height) {
    WriteConfiguration("templates");
    WriteTemplate("templates", "a.xml", "First");
    Start();
    MoveWindow(m_host->MainWindow(), 0, 0, width, height, FALSE);
    Send(KvwDesign::kStartup);
    ASSERT_EQ(Send(KvwDesign::kOpenDesign), kKvwOk);
    ASSERT_TRUE(Module().IsDesignOpen());
    m_host->ClearRequests();
    m_log.calls.clear();
    m_log.texts.clear();
    m_log.states.clear();
}

std::vector<std::wstring> DesignModuleTest::TextsFor(DWORD command) const {
    std::vector<std::wstring> texts;
    for (const auto& [sent, text] : m_log.texts)
        if (sent == command)
            texts.push_back(text);
    return texts;
}

std::vector<DWORD> DesignModuleTest::StatesFor(DWORD command) const {
    std::vector<DWORD> states;
    for (const auto& [sent, state] : m_log.states)
        if (sent == command)
            states.push_back(state);
    return states;
}

std::size_t DesignModuleTest::CountOf(const std::string& call) const {
    return static_cast<std::size_t>(std::count(m_log.calls.begin(), m_log.calls.end(), call));
}

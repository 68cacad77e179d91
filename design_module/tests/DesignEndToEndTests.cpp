#include "design_module/TKvwDesignModule.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace KvwDesign;

struct SeenFunction {
    DWORD command = 0;
    std::vector<LONG> offsets;
};

class DesignEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        WinSeams::SetTempBase(m_temp.Path());
        // The module as installed: its file, its language library in "Module", its configuration and
        // its templates beside it.
        const fs::path built(KV_DESIGN_MODULE_DIR);
        m_folder = fs::path(m_install.Path());
        fs::create_directories(m_folder / "Module");
        fs::create_directories(m_folder / "templates");
        fs::copy_file(built / "KvwDesign.md7", m_folder / "KvwDesign.md7");
        fs::copy_file(built / "Module" / "KvtDesignLang.so", m_folder / "Module" / "KvtDesignLang.so");
        m_install.Write("DesignModuleCfg.xml",
                        "<config><templates><templates_path>templates</templates_path></templates></config>");
        for (const char* name : {"Wedding.xml", "album.xml"})
            m_install.Write(std::string("templates/") + name,
                            "<layout><metadata><property name=\"template_description\">" + std::string(name) +
                                "</property></metadata></layout>");
        m_host = std::make_unique<CScriptedHost>();
        m_host->Windows().SetWindow(kComponentKind, 1, m_host->MainWindow());
        m_host->SetScript(kMenu, [this](const CHostRequest& request) {
            const auto* data = reinterpret_cast<const CKvwMenuData*>(request.words[2]);
            HMENU design = GetSubMenu(data->menu, 0);
            for (int i = 0; i < GetMenuItemCount(design); ++i)
                m_menuCommands.push_back(GetMenuItemID(design, i));
            m_accelerators = CopyAcceleratorTableW(data->accelerators, nullptr, 0);
            return CHostReply{};
        });
        m_host->SetScript(kFunctions, [this](const CHostRequest& request) {
            const auto* functions = reinterpret_cast<const CKvwFunctionData*>(request.words[2]);
            for (KvwWord i = 0; i < request.words[3]; ++i) {
                SeenFunction seen{functions[i].commandId, {}};
                for (const auto& [state, cell] : functions[i].bitmaps)
                    seen.offsets.push_back(cell.offset);
                m_functions.push_back(seen);
            }
            return CHostReply{};
        });
    }
    void TearDown() override {
        m_host.reset();
        WinUserTest::PumpPending();
        WinSeams::ResetAll();
    }

    std::size_t LoadAndStart() {
        const std::size_t module = m_host->Load((m_folder / "KvwDesign.md7").string());
        EXPECT_NE(module, CScriptedHost::kNoModule) << m_host->LastError();
        if (module == CScriptedHost::kNoModule)
            return module;
        EXPECT_EQ(m_host->Initialize(module), kKvwOk);
        m_host->Send(module, kStartup);
        return module;
    }

    kvtest::TempSystemRoot m_root;
    kvtest::TempFolder m_temp;
    kvtest::TempFolder m_install;
    fs::path m_folder;
    std::unique_ptr<CScriptedHost> m_host;
    std::vector<UINT> m_menuCommands;
    int m_accelerators = 0;
    std::vector<SeenFunction> m_functions;
};

TEST_F(DesignEndToEnd, TheLoadedModuleAnnouncesItselfAndKeepsTheLastLayoutWithTheHost) {
    const std::size_t module = LoadAndStart();
    ASSERT_NE(module, CScriptedHost::kNoModule);
    DWORD kind = 0, version = 0;
    EXPECT_EQ(m_host->GetInformation(module, &kind, &version), kKvwOk);
    EXPECT_EQ(kind, kComponentKind);
    EXPECT_EQ(m_menuCommands, (std::vector<UINT>{kMenuPreviousPage, kMenuNextPage, 0, kSinglePageView,
                                                 kContactSheetView, kBothViews, 0, kSave}));
    EXPECT_EQ(m_accelerators, 1);
    ASSERT_EQ(m_functions.size(), 4u);
    EXPECT_EQ(m_functions[3].command, kZoomPopup);
    EXPECT_EQ(m_functions[3].offsets, (std::vector<LONG>{0, 38, 19, 57})) << "by state: 1, 2, 3, 0x100";
    EXPECT_TRUE(m_functions[0].offsets.empty());
    const auto subPanels = m_host->RequestsOf(kSubPanel);
    ASSERT_EQ(subPanels.size(), 1u);
    EXPECT_EQ(reinterpret_cast<const CKvwSubPanelData*>(subPanels[0].words[2])->title, "Layout");

    // Something of the module's in its temporary folder, which goes with the module.
    char root[512] = {};
    ASSERT_NE(GetTempPathA(sizeof(root), root), 0u);
    const fs::path temporary = fs::path(root) / "Korvel" / "Design";
    fs::create_directories(temporary / "inner");
    std::ofstream(temporary / "inner" / "bndl.xml") << "<bundle/>";
    m_host->Close(module);
    EXPECT_FALSE(fs::exists(temporary));
    const std::string first = (m_folder / "templates" / "album.xml").string();
    EXPECT_EQ(m_host->Registry().Text("Design", "last_ltf_path"), first) << "the first template, by name";

    m_host->Unload(module);
    const std::size_t again = LoadAndStart();
    ASSERT_NE(again, CScriptedHost::kNoModule);
    const auto calls = m_host->Registry().Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), CHostRegistryService::kGetText), calls.end());
    m_host->Registry().ClearFailures();
    m_host->Close(again);
    EXPECT_EQ(m_host->Registry().Text("Design", "last_ltf_path"), first);
}

} // namespace

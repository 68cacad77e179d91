// The print plug-in as the host sees it: KvtPrint.qw7 loaded through its exports from a folder of its own
// with its language library and configuration file, its record, button and limit, and the printer's page
// setup run on its own.
#include "print_plugin/TPrintPlugin.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinBitmaps.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinSpool.h"
#include "platform/win/WinUser.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr DWORD kDeadline = 10000;
constexpr const char* kPrinters = R"(<printers>
  <printer name="Studio" dpi="300" default="1">
    <paper id="9" name="A4" width="2100" height="2970" left="50" top="50" right="50" bottom="50"/>
  </printer>
</printers>)";

std::uint32_t FirstPixel(HBITMAP bitmap) {
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    if (!WinGdiTest::ReadBitmapPixels(bitmap, &width, &height, &pixels) || pixels.empty())
        return 0;
    return pixels[0];
}

class PrintModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        WinSeams::SetTempBase(m_temp.Path());
        WinDialogTest::SetModalLoopDeadline(kDeadline);
        WinDialogTest::ResetMessageBoxes();
        WinPrintTest::Reset();
        m_host = std::make_unique<CScriptedHost>();
    }
    void TearDown() override {
        WinDialogTest::SetModalLoopDeadline(INFINITE);
        WinDialogTest::ResetMessageBoxes();
        WinPrintTest::Reset();
        m_host.reset();
        WinUserTest::PumpPending();
        WinSeams::ResetAll();
    }

    // The module and its language library in a folder of their own, with the configuration file's text
    // beside them (none for an empty text).
    std::size_t Start(const std::string& configuration) {
        for (const char* file : {"KvtPrint.qw7", "KvtPrintLang.so"})
            fs::copy_file(std::string(KV_PRINT_MODULE_DIR) + "/" + file, m_install.File(file));
        if (!configuration.empty())
            m_install.Write("PrintPluginCfg.xml", configuration);
        const std::size_t module = m_host->Load(m_install.File("KvtPrint.qw7"));
        EXPECT_NE(module, CScriptedHost::kNoModule) << m_host->LastError();
        if (module != CScriptedHost::kNoModule) {
            EXPECT_EQ(m_host->Initialize(module), kKvwOk);
        }
        return module;
    }
    void Select(DWORD count) {
        KvwItemIdList ids;
        for (DWORD i = 1; i <= count; ++i) {
            CHostItemRecord item;
            item.id = KvwMakeItemId(i, 1);
            m_host->AddItem(item);
            ids.push_back(item.id);
        }
        m_host->Browse().SetSelectedItems(ids);
    }
    // The texts of the boxes the command showed.
    std::vector<std::wstring> Command(std::size_t module, DWORD command, KvwResult expected) {
        WinDialogTest::ResetMessageBoxes();
        EXPECT_EQ(m_host->Send(module, KvwHostMessage::kCommand, command, 0), expected);
        std::vector<std::wstring> texts;
        for (const auto& box : WinDialogTest::MessageBoxCalls())
            texts.push_back(box.text);
        return texts;
    }
    std::optional<std::string> Stored(const std::string& path) const {
        return m_host->Registry().Text("PrintPI\\" + path, "Default");
    }

    kvtest::TempSystemRoot m_machine;
    kvtest::TempFolder m_temp;
    kvtest::TempFolder m_install;
    std::unique_ptr<CScriptedHost> m_host;
};

TEST_F(PrintModuleTest, TheHostReadsThePrintPluginsRecordAndButton) {
    const std::size_t module = Start("");
    ASSERT_NE(module, CScriptedHost::kNoModule);
    CKvwModuleInformation information;
    ASSERT_EQ(m_host->ReadInformation(module, information), kKvwOk);
    EXPECT_EQ(information.name, "Print");
    ASSERT_EQ(information.commands.size(), 2u);
    EXPECT_EQ(information.commands[0].commandId, 0x2001u);
    EXPECT_EQ(information.commands[1].commandId, 0x2015u);

    // The states 1, 3, 2 and 0x100 show the bitmaps 1019, 1021, 1020 and 1018 of the plug-in's own file.
    CKvwBitmapTable table;
    ASSERT_EQ(m_host->ReadButtonBitmaps(module, 0x2001, 0, table), kKvwHandled);
    const struct {
        DWORD state;
        std::uint32_t pixel;
    } states[] = {{1, 0xFFC8783C}, {3, 0xFFAAA096}, {2, 0xFFE69C5A}, {0x100, 0xFF503020}};
    ASSERT_EQ(table.size(), 4u);
    for (const auto& s : states) {
        EXPECT_EQ(table[s.state].width, 32);
        EXPECT_EQ(FirstPixel(table[s.state].bitmap), s.pixel) << s.state;
    }
    m_host->Close(module);
}

TEST_F(PrintModuleTest, TheSelectionLimitComesFromTheConfigurationOrIsFiveHundred) {
    const struct {
        std::string configuration;
        DWORD limit;
    } cases[] = {
        {"<?xml version=\"1.0\"?><config><selection><max_limit>3</max_limit></selection>"
         "<index_print_advanced><minimum_size>1</minimum_size><maximum_size>3</maximum_size>"
         "<increment_size>0.5</increment_size></index_print_advanced></config>",
         3},
        {"", 500},
        {"<config><selection>", 500},
    };
    for (const auto& c : cases) {
        const std::size_t module = Start(c.configuration);
        ASSERT_NE(module, CScriptedHost::kNoModule);
        Select(c.limit + 1);
        std::wstring expected =
            L"The print plug-in takes at most " + std::to_wstring(c.limit) + L" pictures.";
        const std::vector<std::wstring> boxes = Command(module, TPrintPlugin::kPrintCommand, kKvwHandled);
        ASSERT_EQ(boxes.size(), 1u) << c.configuration;
        EXPECT_EQ(boxes[0], expected);
        m_host->Close(module);
        m_host->Unload(module);
        fs::remove_all(m_install.Path());
        fs::create_directory(m_install.Path());
    }
}

TEST_F(PrintModuleTest, StandAlonePageSetupSavesTheOptionsOnlyWhenAccepted) {
    std::ofstream(m_machine.File("printers.xml")) << kPrinters;
    const std::size_t module = Start("");
    ASSERT_NE(module, CScriptedHost::kNoModule);

    WinPrintTest::PageSetupAnswer cancel;
    cancel.accept = false;
    WinPrintTest::QueuePageSetupAnswer(cancel);
    EXPECT_TRUE(Command(module, TPrintPlugin::kPageSetupCommand, kKvwHandled).empty());
    EXPECT_EQ(WinPrintTest::PageSetupCalls().size(), 1u);
    EXPECT_FALSE(Stored("printer_options\\paper_orientation")) << "a cancelled setup saves nothing";

    WinPrintTest::PageSetupAnswer landscape;
    landscape.orientation = DMORIENT_LANDSCAPE;
    WinPrintTest::QueuePageSetupAnswer(landscape);
    EXPECT_TRUE(Command(module, TPrintPlugin::kPageSetupCommand, kKvwHandled).empty());
    EXPECT_EQ(Stored("printer_options\\paper_orientation"), "landcape");
    EXPECT_EQ(Stored("printer_options\\printer_name"), "Studio");
    EXPECT_EQ(Stored("printer_options\\port_name"), "A4");
    m_host->Close(module);
}

TEST_F(PrintModuleTest, StandAlonePageSetupWithoutAPrinterSaysSo) {
    std::ofstream(m_machine.File("printers.xml")) << "<printers/>";
    const std::size_t module = Start("");
    ASSERT_NE(module, CScriptedHost::kNoModule);
    const std::vector<std::wstring> boxes = Command(module, TPrintPlugin::kPageSetupCommand, kKvwHandled);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], L"No printer could be found.");
    EXPECT_TRUE(WinPrintTest::PageSetupCalls().empty());
    EXPECT_FALSE(Stored("printer_options\\printer_name"));
    m_host->Close(module);
}

} // namespace

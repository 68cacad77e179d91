// The print plug-in as the host sees it: KvtPrint.qw7 loaded through its exports from a folder of its own
// with its language library and configuration file, its record, button and limit, and the printer's page
// setup run on its own.
#include "PrintTestModule.h"

#include "print_plugin/TPrintPlugin.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinSpool.h"
#include "platform/win/WinUser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDeadline = 10000;

class PrintModuleTest : public kvtest::PluginModuleTest {
protected:
    PrintModuleTest() : PluginModuleTest(PrintModuleFiles(), kDeadline) {}
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
    EXPECT_EQ(
        ButtonFaces(0x2001),
        (ButtonFaceTable{
            {1, {32, 0xFFC8783C}}, {3, {32, 0xFFAAA096}}, {2, {32, 0xFFE69C5A}}, {0x100, {32, 0xFF503020}}}));
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
        const std::vector<std::wstring> boxes = Command(TPrintPlugin::kPrintCommand);
        ASSERT_EQ(boxes.size(), 1u) << c.configuration;
        EXPECT_EQ(boxes[0], expected);
        StartOver();
    }
}

TEST_F(PrintModuleTest, StandAlonePageSetupSavesTheOptionsOnlyWhenAccepted) {
    std::ofstream(m_machine.File("printers.xml")) << kStudioPrinter;
    const std::size_t module = Start("");
    ASSERT_NE(module, CScriptedHost::kNoModule);

    WinPrintTest::PageSetupAnswer cancel;
    cancel.accept = false;
    WinPrintTest::QueuePageSetupAnswer(cancel);
    EXPECT_TRUE(Command(TPrintPlugin::kPageSetupCommand).empty());
    EXPECT_EQ(WinPrintTest::PageSetupCalls().size(), 1u);
    EXPECT_FALSE(Stored("printer_options\\paper_orientation")) << "a cancelled setup saves nothing";

    WinPrintTest::PageSetupAnswer landscape;
    landscape.orientation = DMORIENT_LANDSCAPE;
    WinPrintTest::QueuePageSetupAnswer(landscape);
    EXPECT_TRUE(Command(TPrintPlugin::kPageSetupCommand).empty());
    EXPECT_EQ(Stored("printer_options\\paper_orientation"), "landcape");
    EXPECT_EQ(Stored("printer_options\\printer_name"), "Studio");
    EXPECT_EQ(Stored("printer_options\\port_name"), "A4");
}

TEST_F(PrintModuleTest, StandAlonePageSetupWithoutAPrinterSaysSo) {
    std::ofstream(m_machine.File("printers.xml")) << "<printers/>";
    const std::size_t module = Start("");
    ASSERT_NE(module, CScriptedHost::kNoModule);
    const std::vector<std::wstring> boxes = Command(TPrintPlugin::kPageSetupCommand);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], L"No printer could be found.");
    EXPECT_TRUE(WinPrintTest::PageSetupCalls().empty());
    EXPECT_FALSE(Stored("printer_options\\printer_name"));
}

} // namespace

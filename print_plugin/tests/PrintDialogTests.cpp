// The print dialog as a user opens it: KvtPrint.qw7 loaded by the scripted host from a folder of its own,
// the host's photos selected, the virtual A4 printer, the dialog driven by its controls inside its modal
// loop.
#include "print_plugin/CPrintDlg.h"
#include "print_plugin/TPrintPlugin.h"

#include "platform/host/CHostPhotos.h"
#include "platform/host/CScriptedHost.h"
#include "platform/win/WinControls.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"
#include "testing/ScriptedModuleTest.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr DWORD kDeadline = 30000;
constexpr const char* kPrinters = R"(<printers>
  <printer name="Studio" dpi="300" default="1">
    <paper id="9" name="A4" width="2100" height="2970" left="50" top="50" right="50" bottom="50"/>
  </printer>
</printers>)";
// Inches: A4 less its 5 mm margins is about 7.87 x 11.3 in.
constexpr const char* kLayouts = R"(<?xml version="1.0"?><config><units><current>inch</current></units>
<standard_layouts><nb_rows_cols>
 <layout><name>1 x 1</name><data>1x1</data></layout>
 <layout><name>none</name><data>0x3</data></layout>
</nb_rows_cols><image_size>
 <layout><name>4 x 6 in</name><data>4x6</data></layout>
 <layout><name>20 x 30 in</name><data>20x30</data></layout>
 <layout><name>empty</name><data>0x0</data></layout>
 <layout><name>7 x 12 in</name><data>7x12</data></layout>
</image_size></standard_layouts>
<index_print_advanced><minimum_size>0</minimum_size><maximum_size>9</maximum_size>
<increment_size>1</increment_size></index_print_advanced>
<printer_types><printer_type><name>Draft</name><res_dpi>150x150</res_dpi></printer_type></printer_types>
</config>)";
constexpr const char* kNoLayouts = R"(<?xml version="1.0"?><config>
<index_print_advanced><minimum_size>1</minimum_size><maximum_size>3</maximum_size>
<increment_size>0.5</increment_size></index_print_advanced></config>)";

// The first line of the command's output, empty when it gave none.
std::string RunCommand(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char line[512];
    while (pipe && fgets(line, sizeof line, pipe.get()))
        out += line;
    return out;
}

// A page of the PDF at 50 dpi, as pdftoppm draws it: width, height and RGB bytes.
struct PageRaster {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    std::array<int, 3> At(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

PageRaster RasterOf(const std::string& pdf, int page, const std::string& folder) {
    const std::string base = folder + "/page" + std::to_string(page);
    RunCommand("pdftoppm -r 50 -f " + std::to_string(page) + " -l " + std::to_string(page) +
               " -singlefile '" + pdf + "' '" + base + "'");
    std::ifstream file(base + ".ppm", std::ios::binary);
    PageRaster raster;
    std::string magic;
    int maximum = 0;
    file >> magic >> raster.width >> raster.height >> maximum;
    file.get();
    raster.rgb.resize(static_cast<std::size_t>(raster.width) * raster.height * 3);
    file.read(reinterpret_cast<char*>(raster.rgb.data()), static_cast<std::streamsize>(raster.rgb.size()));
    if (magic != "P6" || !file)
        raster = PageRaster{};
    return raster;
}

class PrintDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        WinSeams::SetTempBase(m_temp.Path());
        WinDialogTest::SetModalLoopDeadline(kDeadline);
        WinDialogTest::ResetMessageBoxes();
        WinPrintTest::Reset();
        std::ofstream(m_machine.File("printers.xml")) << kPrinters;
        m_host = std::make_unique<CScriptedHost>();
        for (const char* file : {"KvtPrint.qw7", "KvtPrintLang.so"})
            fs::copy_file(std::string(KV_PRINT_MODULE_DIR) + "/" + file, m_install.File(file));
    }
    void TearDown() override {
        if (m_module != CScriptedHost::kNoModule)
            m_host->Close(m_module);
        WinDialogTest::ClearModalSteps();
        WinDialogTest::SetModalLoopDeadline(INFINITE);
        WinDialogTest::ResetMessageBoxes();
        WinPrintTest::Reset();
        m_host.reset();
        WinUserTest::PumpPending();
        WinSeams::ResetAll();
    }

    void Start(const std::string& configuration) {
        m_install.Write("PrintPluginCfg.xml", configuration);
        m_module = m_host->Load(m_install.File("KvtPrint.qw7"));
        ASSERT_NE(m_module, CScriptedHost::kNoModule) << m_host->LastError();
        ASSERT_EQ(m_host->Initialize(m_module), kKvwOk);
    }
    void AddPhoto(LONG width, LONG height, const std::array<BYTE, 3>& rgb) {
        const KvwItemId id = KvwMakeItemId(static_cast<DWORD>(m_ids.size() + 1), 1);
        const std::string path = m_temp.Path() + "/photo" + std::to_string(m_ids.size() + 1) + ".jpg";
        CHostItemRecord item = CHostPhotos::JpegItem(id, path, CHostPhotos::SolidJpeg(width, height, rgb));
        m_host->AddItem(item);
        m_ids.push_back(id);
        m_host->Browse().SetSelectedItems(m_ids);
    }
    void Put(const std::string& path, const std::string& text) {
        m_host->Registry().PutText("PrintPI\\" + path, "Default", text);
    }
    // Opens the dialog with the steps queued for its modal loop; returns once the loop ended.
    void RunDialog(const std::vector<std::function<bool(HWND)>>& steps) {
        for (const auto& step : steps)
            WinDialogTest::RunInModalLoop(step);
        EXPECT_EQ(m_host->Send(m_module, KvwHostMessage::kCommand, TPrintPlugin::kPrintCommand, 0),
                  kKvwHandled);
        EXPECT_EQ(WinDialogTest::PendingModalSteps(), 0u)
            << "the dialog closed before its steps ran" << ::testing::PrintToString(Boxes());
    }
    std::vector<std::wstring> Boxes() const {
        std::vector<std::wstring> texts;
        for (const auto& box : WinDialogTest::MessageBoxCalls())
            texts.push_back(box.text);
        return texts;
    }
    // The items listed in the dialog's items file, counted by their ids.
    std::size_t ListedItems() const {
        std::size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(m_temp.Path())) {
            if (entry.path().filename().string().rfind("bndl", 0) != 0)
                continue;
            std::stringstream text;
            text << std::ifstream(entry.path()).rdbuf();
            for (std::size_t at = text.str().find("<content>"); at != std::string::npos;
                 at = text.str().find("<content>", at + 1))
                ++count;
        }
        return count;
    }

    static bool Click(HWND dialog, int id) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
        return true;
    }
    static void Choose(HWND dialog, int id, LONG index) {
        HWND combo = GetDlgItem(dialog, id);
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 9),
                     reinterpret_cast<LPARAM>(combo));
    }
    static std::vector<std::wstring> Entries(HWND dialog, int id) {
        HWND combo = GetDlgItem(dialog, id);
        std::vector<std::wstring> entries;
        const LONG count = static_cast<LONG>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
        for (LONG i = 0; i < count; ++i) {
            wchar_t text[256] = {};
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        return entries;
    }
    static LONG Selected(HWND dialog, int id) {
        return static_cast<LONG>(SendMessageW(GetDlgItem(dialog, id), CB_GETCURSEL, 0, 0));
    }
    static bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
    static std::wstring Text(HWND dialog, int id) {
        wchar_t text[512] = {};
        GetWindowTextW(GetDlgItem(dialog, id), text, 512);
        return text;
    }

    kvtest::TempSystemRoot m_machine;
    kvtest::TempFolder m_temp;
    kvtest::TempFolder m_install;
    std::unique_ptr<CScriptedHost> m_host;
    std::size_t m_module = CScriptedHost::kNoModule;
    KvwItemIdList m_ids;
};

TEST(PrintSelectionTest, AQuarterTurnEitherWaySwapsTheSides) {
    const struct {
        double degrees;
        bool swapped;
    } cases[] = {{0, false},   {90, true},     {180, false}, {270, true},
                 {89.6, true}, {269.4, false}, {360, false}};
    for (const auto& c : cases) {
        const graphtypes::TSize_T<LONG> size =
            CPrintDlg::RotatedSize(graphtypes::TSize_T<LONG>(400, 300), c.degrees);
        EXPECT_EQ(size.cx, c.swapped ? 300 : 400) << c.degrees;
        EXPECT_EQ(size.cy, c.swapped ? 400 : 300) << c.degrees;
    }
}

TEST(PrintResolutionTest, PagesRenderAtTheTypesResolutionOrThePrintersOwn) {
    const std::vector<PrinterTypeRecord> types = {{TString(L"a"), {300, 300}},
                                                  {TString(L"b"), {0, 0}},
                                                  {TString(L"c"), {600, 1200}},
                                                  {TString(L"d"), {300, 0}}};
    const struct {
        LONG printerX, printerY, kind;
        LONG renderX, renderY;
    } cases[] = {{600, 600, 0, 300, 300}, {600, 600, 1, 600, 600}, {600, 600, 2, 1200, 1200},
                 {600, 600, 3, 600, 600}, {600, 600, 9, 600, 600}, {600, 300, 2, 600, 300},
                 {300, 600, 0, 300, 300}, {300, 600, 2, 600, 1200}};
    for (const auto& c : cases) {
        graphtypes::TSize_T<LONG> render;
        ASSERT_TRUE(CPrintDlg::RenderResolution({c.printerX, c.printerY}, types, c.kind, render)) << c.kind;
        EXPECT_EQ(render.cx, c.renderX) << c.printerX << "x" << c.printerY << " kind " << c.kind;
        EXPECT_EQ(render.cy, c.renderY) << c.printerX << "x" << c.printerY << " kind " << c.kind;
    }
    graphtypes::TSize_T<LONG> render;
    EXPECT_FALSE(CPrintDlg::RenderResolution({0, 600}, types, 0, render)) << "a printer without a resolution";
}

TEST_F(PrintDialogTest, TheControlsShowThePrinterAndOnlyTheLayoutsThatFit) {
    Start(kLayouts);
    AddPhoto(64, 48, {200, 30, 30});
    Put("standard_print\\layout_index", "2");
    RunDialog({[&](HWND dialog) {
        EXPECT_EQ(Text(dialog, 1007), L"Printer: Studio");
        EXPECT_EQ(Entries(dialog, 1008), (std::vector<std::wstring>{L"Standard print", L"Index print"}));
        // Neither a count below one, a size of 0, nor one larger than the printable area is offered.
        EXPECT_EQ(Entries(dialog, 1031), (std::vector<std::wstring>{L"1 x 1", L"4 x 6 in"}));
        EXPECT_EQ(Selected(dialog, 1031), 1) << "the stored layout, found by its name";
        EXPECT_EQ(Entries(dialog, 1036).size(), 5u);
        EXPECT_FALSE(Enabled(dialog, 1036)) << "replicas are not in use";
        // Sizes above 0 and below the printable width (7.87 in) and height (11.3 in) only.
        EXPECT_EQ(Entries(dialog, 1051),
                  (std::vector<std::wstring>{L"1.0", L"2.0", L"3.0", L"4.0", L"5.0", L"6.0", L"7.0"}));
        EXPECT_EQ(Entries(dialog, 1052).size(), 9u);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 1045))) << "standard print hides the slider";
        Choose(dialog, 1008, 1);
        EXPECT_EQ(Entries(dialog, 1031),
                  (std::vector<std::wstring>{L"Easy index print", L"Advanced index print"}));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, 1045)));
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 1051)));
        Choose(dialog, 1031, 1);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 1045)));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, 1051)));
        return Click(dialog, 2);
    }});
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrintDialogTest, StoredIndexesOutsideTheListsOpenTheDialog) {
    const struct {
        const char* configuration;
        std::vector<std::wstring> layouts;
    } cases[] = {{kLayouts, {L"1 x 1", L"4 x 6 in"}}, {kNoLayouts, {}}};
    for (const auto& c : cases) {
        Start(c.configuration);
        AddPhoto(64, 48, {30, 200, 30});
        Put("standard_print\\layout_index", "99");
        Put("printer_kind_index", "7");
        const auto printDialogs = [] {
            return WinPrintTest::PrintCalls().size() + WinPrintTest::PrintExCalls().size();
        };
        const std::size_t asked = printDialogs();
        RunDialog({[&](HWND dialog) {
            EXPECT_EQ(Entries(dialog, 1031), c.layouts);
            EXPECT_EQ(Selected(dialog, 1039), -1);
            // Without a sheet there are no pages: OK starts nothing (the printer's dialog is not asked).
            Click(dialog, 1);
            return Click(dialog, 2);
        }});
        EXPECT_EQ(printDialogs() - asked, c.layouts.empty() ? 0u : 1u);
        EXPECT_TRUE(Boxes().empty());
        m_host->Close(m_module);
        m_host->Unload(m_module);
        m_module = CScriptedHost::kNoModule;
        m_ids.clear();
        fs::remove_all(m_install.Path());
        fs::create_directory(m_install.Path());
        for (const char* file : {"KvtPrint.qw7", "KvtPrintLang.so"})
            fs::copy_file(std::string(KV_PRINT_MODULE_DIR) + "/" + file, m_install.File(file));
    }
}

TEST_F(PrintDialogTest, TheReplicaTickRewritesTheItemsFileOnlyForMoreThanOneReplica) {
    Start(kLayouts);
    AddPhoto(64, 48, {30, 30, 200});
    AddPhoto(48, 64, {200, 200, 30});
    Put("replicate_images\\nb_replicas", "1");
    RunDialog({[&](HWND dialog) {
        EXPECT_EQ(ListedItems(), 2u);
        SendMessageW(GetDlgItem(dialog, 1035), BM_SETCHECK, BST_CHECKED, 0);
        Click(dialog, 1035);
        EXPECT_TRUE(Enabled(dialog, 1036));
        EXPECT_EQ(ListedItems(), 2u) << "one replica lists each picture once";
        Choose(dialog, 1036, 2);
        EXPECT_EQ(ListedItems(), 6u);
        SendMessageW(GetDlgItem(dialog, 1035), BM_SETCHECK, BST_UNCHECKED, 0);
        Click(dialog, 1035);
        EXPECT_FALSE(Enabled(dialog, 1036));
        EXPECT_EQ(ListedItems(), 2u);
        return Click(dialog, 2);
    }});
}

TEST_F(PrintDialogTest, ARestrictedHostDisablesTheListedControls) {
    m_host->Panes().SetNumber(TUserOptions::kRestrictedHostNumber);
    Start(kLayouts);
    AddPhoto(64, 48, {200, 30, 30});
    Put("replicate_images\\use_replicate", "1");
    RunDialog({[&](HWND dialog) {
        for (int id : {1006, 1008, 1012, 1031, 1032, 1033, 1034, 1035, 1036, 1037, 1040, 1041})
            EXPECT_FALSE(Enabled(dialog, id)) << id;
        EXPECT_TRUE(Enabled(dialog, 1039));
        return Click(dialog, 2);
    }});
}

TEST_F(PrintDialogTest, AJobThatFailsLeavesNoDocumentAndTheDialogUsable) {
    using WinPrintTest::PrinterCall;
    const PrinterCall failures[] = {PrinterCall::kStartPage, PrinterCall::kStartDoc, PrinterCall::kEndPage,
                                    PrinterCall::kEndDoc};
    Start(kLayouts);
    AddPhoto(64, 48, {200, 30, 30});
    for (PrinterCall failure : failures) {
        WinDialogTest::ResetMessageBoxes();
        WinPrintTest::FailCall(failure);
        WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
        RunDialog({[&](HWND dialog) { return Click(dialog, 1); },
                   [&](HWND dialog) {
                       // Once the job has ended the dialog is enabled again, still open for another try.
                       return IsWindowEnabled(dialog) && Click(dialog, 2);
                   }});
        const std::vector<std::wstring> expected =
            failure == PrinterCall::kStartDoc
                ? std::vector<std::wstring>{}
                : std::vector<std::wstring>{L"The pictures could not be printed."};
        EXPECT_EQ(Boxes(), expected) << static_cast<int>(failure);
        std::error_code ec;
        EXPECT_TRUE(fs::is_empty(m_machine.File("spool/Studio"), ec) || ec) << "no document left behind";
        EXPECT_FALSE(m_host->Registry().Text("PrintPI\\print_as", "Default")) << "nothing is saved";
    }
}

TEST_F(PrintDialogTest, ThreePhotosPrintInThePageListsOrderOnPagesOfThePrinter) {
    const std::array<BYTE, 3> colours[] = {{220, 30, 30}, {30, 200, 40}, {40, 40, 210}};
    const struct {
        std::vector<std::pair<DWORD, DWORD>> ranges;
        std::vector<int> photos; // the photo on each printed page
    } cases[] = {{{}, {0, 1, 2}}, {{{3, 3}, {1, 2}}, {2, 0, 1}}};
    Start(kLayouts);
    AddPhoto(96, 64, colours[0]);
    AddPhoto(64, 96, colours[1]);
    AddPhoto(96, 64, colours[2]);
    const std::string pdf = m_machine.File("spool/Studio/Pictures.pdf");
    for (const auto& c : cases) {
        WinDialogTest::ResetMessageBoxes();
        WinPrintTest::PrintAnswer answer;
        answer.ranges = c.ranges;
        WinPrintTest::QueuePrintAnswer(answer);
        // The job runs inside the dialog's loop, which ends when the dialog closes itself.
        RunDialog({[&](HWND dialog) { return Click(dialog, 1); }});
        EXPECT_TRUE(Boxes().empty()) << ::testing::PrintToString(Boxes());
        ASSERT_TRUE(fs::exists(pdf));
        const std::string info = RunCommand("pdfinfo '" + pdf + "'");
        EXPECT_NE(info.find("Pages:           3"), std::string::npos) << info;
        double width = 0, height = 0;
        const std::size_t size = info.find("Page size:");
        ASSERT_NE(size, std::string::npos) << info;
        ASSERT_EQ(std::sscanf(info.c_str() + size, "Page size: %lf x %lf", &width, &height), 2) << info;
        EXPECT_NEAR(width, 595, 1);
        EXPECT_NEAR(height, 842, 1);
        for (int page = 1; page <= 3; ++page) {
            const PageRaster raster = RasterOf(pdf, page, m_temp.Path());
            ASSERT_GT(raster.width, 0) << page;
            const std::array<int, 3> centre = raster.At(raster.width / 2, raster.height / 2);
            const std::array<BYTE, 3>& colour = colours[c.photos[static_cast<std::size_t>(page - 1)]];
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(centre[k], colour[k], 24) << "page " << page << " channel " << k;
            EXPECT_EQ(raster.At(2, 2), (std::array<int, 3>{255, 255, 255})) << "page " << page;
        }
        EXPECT_TRUE(m_host->Registry().Text("PrintPI\\print_as", "Default")) << "the options are saved";
        fs::remove(pdf);
    }
}

TEST_F(PrintDialogTest, CancelDuringTheLastPageLeavesNoDocumentAndNoBox) {
    Start(kLayouts);
    AddPhoto(96, 64, {220, 30, 30});
    WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
    RunDialog({[&](HWND dialog) { return Click(dialog, 1); },
               [&](HWND dialog) {
                   SendMessageW(dialog, CPrintDlg::kCancelMessage, 0, 0);
                   return true;
               },
               [&](HWND dialog) {
                   EXPECT_TRUE(IsWindowEnabled(dialog));
                   return Click(dialog, 2);
               }});
    EXPECT_TRUE(Boxes().empty()) << ::testing::PrintToString(Boxes());
    std::error_code ec;
    EXPECT_TRUE(fs::is_empty(m_machine.File("spool/Studio"), ec) || ec);
    EXPECT_FALSE(m_host->Registry().Text("PrintPI\\print_as", "Default"));
}

TEST_F(PrintDialogTest, AMissingConfigurationSaysSoAndCloses) {
    m_module = m_host->Load(m_install.File("KvtPrint.qw7"));
    ASSERT_EQ(m_host->Initialize(m_module), kKvwOk);
    AddPhoto(64, 48, {200, 30, 30});
    EXPECT_EQ(m_host->Send(m_module, KvwHostMessage::kCommand, TPrintPlugin::kPrintCommand, 0), kKvwHandled);
    EXPECT_EQ(Boxes(),
              (std::vector<std::wstring>{L"The configuration file PrintPluginCfg.xml could not be read."}));
}

} // namespace

namespace {

class IntakeModule : public TBasicQWComp {
public:
    TString GetName() override { return L"Print intake test module"; }
    TString GetLanguageDllName() override { return L"NoPrintTestLang.dll"; }
};

// The selection as the dialog takes it in from this program's module object under the scripted host.
class PrintIntakeTest : public ScriptedModuleTest<IntakeModule> {};

TEST_F(PrintIntakeTest, AQuarterTurnOfTheHostsRotationSwapsTheSides) {
    const struct {
        std::optional<double> degrees;
        DWORD type;
        LONG width, height;
    } cases[] = {{std::nullopt, 4, 400, 300},
                 {90.0, 4, 300, 400},
                 {270.0, 4, 300, 400},
                 {180.0, 4, 400, 300},
                 {90.0, 3, 400, 300}};
    KvwItemIdList ids;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        CHostItemRecord item;
        item.id = KvwMakeItemId(static_cast<DWORD>(i + 1), 1);
        item.SetSizeRecords(400, 300);
        item.propertyTexts[2] = "2024:05:0" + std::to_string(i + 1) + " 10:00:00";
        if (cases[i].degrees) {
            CKvwItemProperty rotation;
            rotation.type = cases[i].type;
            rotation.value.resize(sizeof(double));
            std::memcpy(rotation.value.data(), &*cases[i].degrees, sizeof(double));
            item.properties[0x10005] = rotation;
        }
        m_host->AddItem(item);
        ids.push_back(item.id);
    }
    CPrintDlg dialog;
    const TNuidList list(ids.begin(), ids.end());
    ASSERT_TRUE(dialog.SetSelection(&list));
    const std::vector<PrintSelectionRecord>& records = dialog.GetSelectionInfo();
    ASSERT_EQ(records.size(), std::size(cases));
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].id, ids[i]);
        EXPECT_EQ(records[i].size.cx, cases[i].width) << i;
        EXPECT_EQ(records[i].size.cy, cases[i].height) << i;
        EXPECT_EQ(std::wstring(records[i].dateText), L"2024:05:0" + std::to_wstring(i + 1) + L" 10:00:00");
    }
}

} // namespace

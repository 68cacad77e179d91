// Layouts of designs under the scripted host: built from a template and the selection, kept in the
// host's record database as a layout record with page records, read back, and closed.
#include "design_module/DesignImageBundle.h"
#include "design_module/DesignPageWords.h"
#include "design_module/TDesignLayouts.h"
#include "design_module/TKvwDesignModule.h"

#include "plugin_framework/LayoutText.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/host/CHostPhotos.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinSeams.h"
#include "platform/win/utf16.h"
#include "testing/ScriptedModuleTest.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

namespace fs = std::filesystem;
using namespace KvwDesign;

constexpr KvwItemId kDesign = 0x0202000000000001ull;
constexpr KvwItemId kPhotos[] = {101, 102, 103, 104, 105};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(DesignPageWords, LongerSideIsFullAndTheOtherTruncatedShare) {
    const double nan = std::nan("");
    const struct {
        double cx, cy;
        bool ok;
        DWORD width, height;
    } cases[] = {
        {210, 297, true, 46337, 65535}, {297, 210, true, 65535, 46337}, {500, 500, true, 65535, 65535},
        {0, 0, true, 65535, 65535},     {0, 297, true, 0, 65535},       {210, 0, true, 65535, 0},
        {-210, 297, false, 7, 7},       {210, -1, false, 7, 7},         {nan, 297, false, 7, 7}};
    for (const auto& c : cases) {
        DWORD width = 7, height = 7;
        EXPECT_EQ(designpages::PageSizeWords(c.cx, c.cy, width, height), c.ok) << c.cx << " x " << c.cy;
        EXPECT_EQ(width, c.width) << c.cx << " x " << c.cy;
        EXPECT_EQ(height, c.height) << c.cx << " x " << c.cy;
    }
}

TEST(DesignImageBundle, ParametersNameEveryPictureInOrder) {
    const TString text = designbundle::BundleParameters({5, 18446744073709551615ull});
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(text)),
              L"intraItemDelimiter='@&@'<;/>interItemDelimiter='$&$'<;/>imageStr='NUID:5@&@$&$"
              L"NUID:18446744073709551615@&@$&$'");
}

// The module object of this program with its folder set to the test's install folder.
class LayoutModule : public TKvwDesignModule {
public:
    LayoutModule() {
        SetModuleFolder(s_folder);
        s_instance = this;
    }
    static TFilePath s_folder;
    static LayoutModule* s_instance;
};
TFilePath LayoutModule::s_folder;
LayoutModule* LayoutModule::s_instance = nullptr;

class DesignLayouts : public ScriptedModuleTest<LayoutModule> {
protected:
    void SetUp() override {
        // The configuration file is read through the XML library, which the module's library start starts.
        ASSERT_EQ(utlStartup(), 1);
        WinSeams::SetTempBase(m_temp.Path());
        WinDialogTest::ResetMessageBoxes();
        LayoutModule::s_folder.Set(Utf::Utf8ToWide(m_install.Path() + "/").c_str());
        fs::copy(fs::path(KV_DESIGN_MODULE_DIR) / "templates", fs::path(m_install.Path()) / "templates");
        ScriptedModuleTest<LayoutModule>::SetUp();
        m_host->Panes().MakeWindow(kComponentKind, m_host->MainWindow(), 640, 480);
        CHostItemRecord design;
        design.id = kDesign;
        m_host->AddItem(design);
        for (KvwItemId id : kPhotos)
            m_host->AddItem(CHostPhotos::QuadrantItem(
                id, CHostPhotos::QuadrantPicture(8, 6, {0xC80000, 0x00C800, 0x0000C8, 0xC8C800})));
        m_host->Browse().SetCurrentGroup(kDesign);
        m_host->Browse().SetSelectedItems({101, 102, 103});
    }
    void TearDown() override {
        ScriptedModuleTest<LayoutModule>::TearDown();
        WinSeams::ResetAll();
        utlShutdown();
    }
    // Starts the module with the limit line of the configuration ("" for none).
    void Start(const std::string& limit = "") {
        m_install.Write(
            "DesignModuleCfg.xml",
            "<config><templates><templates_path>templates</templates_path></templates>" +
                (limit.empty() ? "" : "<selection><max_limit>" + limit + "</max_limit></selection>") +
                "</config>");
        m_host->Send(m_module, kStartup);
    }
    KvwResult Open() { return m_host->Send(m_module, kOpenDesign); }
    TDesignLayouts& Layouts() const { return *static_cast<TDesignLayouts*>(Module().GetLayouts()); }
    LayoutModule& Module() const { return *LayoutModule::s_instance; }
    std::vector<DWORD> RecordRequests() const { return m_host->Records().Requests(); }
    KvwItemIdList Children(KvwItemId id) const { return m_host->Records().Attached(id); }
    std::string Template(const char* name) const { return m_install.Path() + "/templates/" + name; }
    // A layout record under the design holding the bytes.
    KvwItemId StoreLayout(std::vector<BYTE> bytes) {
        CHostRecordDatabase::Record record;
        record.kind = kLayoutRecordKind;
        record.data = std::move(bytes);
        const KvwItemId id = m_host->Records().Add(record);
        m_host->Records().Attach(kDesign, id);
        return id;
    }

    kvtest::TempSystemRoot m_root;
    kvtest::TempFolder m_temp;
    kvtest::TempFolder m_install;
};

TEST_F(DesignLayouts, FirstOpenRegistersOnePageRecordPerPageAndKeepsTheSelection) {
    Start();
    ASSERT_EQ(Open(), kKvwOk);
    EXPECT_TRUE(Module().IsDesignOpen());
    EXPECT_EQ(Layouts().GetPageCount(), 1) << "three photos fill one page of the first template";
    ASSERT_EQ(Layouts().GetPageRecords().size(), 1u);
    CHostRecordDatabase::Record page;
    ASSERT_TRUE(m_host->Records().Find(Layouts().GetPageRecords().at(1), &page));
    EXPECT_EQ(page.name, "page1");
    EXPECT_EQ(page.flags, kPageRecordFlag);
    EXPECT_EQ(page.width, 46337u);
    EXPECT_EQ(page.height, 65535u);
    EXPECT_EQ(RecordRequests(), std::vector<DWORD>{KvwRecordRequest::kCreate});
    EXPECT_EQ(Layouts().GetOpeningSelection(), (KvwItemIdList{101, 102, 103}));
    const std::string bundle =
        ReadAll(Utf::WideToUtf8(static_cast<const wchar_t*>(Layouts().GetLayoutPath())));
    EXPECT_EQ(Count(bundle, "<mm-object"), 3u);
    EXPECT_LT(bundle.find(">101<"), bundle.find(">102<"));
    EXPECT_LT(bundle.find(">102<"), bundle.find(">103<"));
}

TEST_F(DesignLayouts, TheSelectionLimitIsComparedUnsigned) {
    const struct {
        const char* limit;
        std::size_t taken, messages;
    } cases[] = {{"2", 2, 1}, {"0", 0, 1}, {"-1", 5, 0}, {"-7", 5, 0}};
    m_host->Browse().SetSelectedItems({101, 102, 103, 104, 105});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        WinDialogTest::ResetMessageBoxes();
        Start(c.limit);
        m_host->ClearRequests();
        EXPECT_EQ(Open(), kKvwOk) << "nothing to open is no failure";
        EXPECT_EQ(WinDialogTest::MessageBoxCalls().size(), c.messages) << "once an open";
        if (c.taken == 0) {
            EXPECT_FALSE(Module().IsDesignOpen());
            EXPECT_TRUE(m_host->RequestsOf(kShownItems).empty());
            continue;
        }
        const std::string bundle =
            ReadAll(Utf::WideToUtf8(static_cast<const wchar_t*>(Layouts().GetLayoutPath())));
        EXPECT_EQ(Count(bundle, "<mm-object"), c.taken);
        m_host->Send(m_module, kCloseDesign);
    }
}

TEST_F(DesignLayouts, SavesWriteTheLayoutOnceAndReplaceOldPagesInOrder) {
    Start();
    ASSERT_EQ(Open(), kKvwOk);
    const KvwItemId firstPage = Layouts().GetPageRecords().at(1);
    ASSERT_TRUE(Layouts().SaveLayout());
    using namespace KvwRecordRequest;
    const KvwItemId layout = Layouts().GetLayoutRecord();
    ASSERT_NE(layout, 0u);
    EXPECT_EQ(Children(kDesign).front(), layout);
    EXPECT_EQ(Children(layout).front(), firstPage);
    CKvwSourceData source;
    KvwItemId found = 0;
    ASSERT_TRUE(Layouts().FindDesignRecord(kDesign, found, source));
    EXPECT_EQ(found, layout);
    TKorvelDbPrefs& preferences = Module().GetDbPreferences();
    preferences.SetItem(KvwItemIdLow(layout), KvwItemIdHigh(layout));
    TString saved;
    ASSERT_TRUE(preferences.GetString(kSavedLayoutPathKey, saved));
    EXPECT_EQ(Utf::WideToUtf8(static_cast<const wchar_t*>(saved)), Template("A4ThreePhotos.xml"));

    const std::size_t before = RecordRequests().size();
    EXPECT_TRUE(Layouts().SaveLayout());
    EXPECT_EQ(RecordRequests().size(), before) << "an unchanged layout sends nothing";

    m_host->Browse().SetSelectedItems({101, 102, 103, 104});
    Layouts().ChangeTemplate(Utf::Utf8ToWide(Template("A4TwoPhotos.xml")).c_str());
    ASSERT_EQ(Layouts().GetPageRecords().size(), 2u);
    const KvwItemIdList fresh{Layouts().GetPageRecords().at(1), Layouts().GetPageRecords().at(2)};
    // A refused replace keeps everything for a later save.
    m_host->Records().Withhold(kReplace);
    const std::size_t mark = RecordRequests().size();
    EXPECT_FALSE(Layouts().SaveLayout());
    EXPECT_TRUE(Layouts().IsLayoutChanged());
    const KvwItemIdList kept = Children(layout);
    EXPECT_NE(std::find(kept.begin(), kept.end(), firstPage), kept.end());
    EXPECT_EQ(std::find(kept.begin(), kept.end(), fresh[0]), kept.end());
    m_host->Records().Restore();
    // A refused attach after the old pages went: the retry attaches only what is missing.
    auto calls = std::make_shared<int>(0);
    m_host->SetScript(kAttach, [this, calls](const CHostRequest& request) {
        const KvwResult result = ++*calls == 2 ? 0x1008 : m_host->Records().OnRequest(kAttach, request.words);
        return CHostReply{result, {}};
    });
    EXPECT_FALSE(Layouts().SaveLayout());
    EXPECT_TRUE(Layouts().IsLayoutChanged());
    const std::vector<DWORD> all = RecordRequests();
    const std::vector<DWORD> order(all.begin() + static_cast<long>(mark), all.end());
    EXPECT_EQ(order, (std::vector<DWORD>{kReplace, kReplace, kDetach, kDelete, kAttach}));
    EXPECT_FALSE(m_host->Records().Find(firstPage, nullptr));
    m_host->SetScript(kAttach, [this](const CHostRequest& request) {
        return CHostReply{m_host->Records().OnRequest(kAttach, request.words), {}};
    });
    ASSERT_TRUE(Layouts().SaveLayout());
    KvwItemIdList attached = Children(layout);
    std::erase_if(attached, [&](KvwItemId id) { return id != fresh[0] && id != fresh[1]; });
    EXPECT_EQ(attached, fresh);
    for (const CHostRequest& request : m_host->RequestsOf(kAttach))
        EXPECT_NE(*reinterpret_cast<const KvwItemId*>(request.words[2]), firstPage) << "no deleted id";
}

TEST_F(DesignLayouts, CloseDeletesRegisteredPagesAndShowsTheOpeningSelectionAgain) {
    Start();
    ASSERT_EQ(Open(), kKvwOk);
    const KvwItemId page = Layouts().GetPageRecords().at(1);
    m_host->ClearRequests();
    m_host->Send(m_module, kCloseDesign);
    EXPECT_FALSE(m_host->Records().Find(page, nullptr));
    for (DWORD message : {kShownItems, kShownItemsToo}) {
        const auto sent = m_host->RequestsOf(message);
        ASSERT_EQ(sent.size(), 1u);
        const auto* ids = reinterpret_cast<const KvwItemId*>(sent[0].words[2]);
        EXPECT_EQ(KvwItemIdList(ids, ids + sent[0].words[3]), (KvwItemIdList{101, 102, 103}));
    }
    ASSERT_EQ(m_host->RequestsOf(kShownItem).size(), 1u);
    EXPECT_EQ(m_host->RequestsOf(kShownItem)[0].words[0], 0u);
    EXPECT_EQ(m_host->Panes().Closes(), 1);

    // Closed, a template choice is only remembered.
    m_host->ClearRequests();
    Layouts().ChangeTemplate(Utf::Utf8ToWide(Template("A4TwoPhotos.xml")).c_str());
    EXPECT_TRUE(m_host->Requests().empty());
    EXPECT_EQ(Utf::WideToUtf8(static_cast<const wchar_t*>(Module().GetUserOptions().GetLastLayoutPath())),
              Template("A4TwoPhotos.xml"));
    ASSERT_EQ(Open(), kKvwOk);
    EXPECT_EQ(Layouts().GetPageCount(), 2) << "two photos a page";
    m_host->ClearRequests();
    Layouts().ChangeTemplate(Utf::Utf8ToWide(Template("A4TwoPhotos.xml")).c_str());
    EXPECT_TRUE(m_host->Requests().empty()) << "the template in use already";
}

TEST_F(DesignLayouts, StoredLayoutsAreReadLengthDelimited) {
    std::wstring text = L"<ldf version='1'><page id='1' cx='297' cy='210'><item id='1' kind='text'>"
                        L"<bounding-box x='1' y='1' cx='5' cy='5'/><content><text>\u00e9t\u00e9 \u20ac</text>"
                        L"</content></item></page></ldf>";
    std::vector<BYTE> bytes;
    Utf::AppendUtf16LE(bytes, Utf::WideToUtf16(text));
    const std::vector<BYTE> terminated = [&] {
        auto b = bytes;
        b.insert(b.end(), {0, 0, 'x', 0});
        return b;
    }();
    const std::vector<BYTE> odd = [&] {
        auto b = bytes;
        b.push_back('<');
        return b;
    }();
    Start();
    for (const auto& stored : {terminated, odd, bytes}) {
        const KvwItemId layout = StoreLayout(stored);
        m_host->ClearRequests();
        ASSERT_EQ(Open(), kKvwOk);
        EXPECT_EQ(Layouts().GetLayoutRecord(), layout);
        EXPECT_EQ(Layouts().GetPageCount(), 1);
        EXPECT_FALSE(Layouts().IsLayoutChanged());
        EXPECT_TRUE(Layouts().GetLayoutPath().IsEmpty()) << "no bundle built";
        TString saved;
        ASSERT_TRUE(GetLayoutText(Layouts().CopyLayoutDocument()->GetHandle(), saved));
        EXPECT_NE(std::wstring(static_cast<const wchar_t*>(saved)).find(L"\u00e9t\u00e9 \u20ac"),
                  std::wstring::npos);
        m_host->Send(m_module, kCloseDesign);
        m_host->Records().OnRequest(KvwRecordRequest::kDelete, {KvwItemIdLow(layout), KvwItemIdHigh(layout)});
    }
}

TEST_F(DesignLayouts, UnreadableStoredLayoutsFailTheOpenAndStayUntouched) {
    Start();
    const struct {
        const char* what;
        std::vector<BYTE> bytes;
        KvwResult refusal;
        KvwResult expected;
    } cases[] = {{"over the cap", std::vector<BYTE>(kMaxStoredLayoutBytes + 2, 'a'), 0, kKvwInvalidArgument},
                 {"no layout", {'<', 0, 'x', 0, '/', 0, '>', 0}, 0, kKvwInvalidArgument},
                 {"a refused read", {'<', 0}, 0x1101, 0x1101}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const KvwItemId layout = StoreLayout(c.bytes);
        if (c.refusal)
            m_host->Records().Withhold(KvwRecordRequest::kRead, c.refusal);
        m_host->ClearRequests();
        EXPECT_EQ(Open(), c.expected);
        m_host->Records().Restore();
        EXPECT_FALSE(Module().IsDesignOpen());
        EXPECT_TRUE(m_host->RequestsOf(kShownItems).empty());
        CHostRecordDatabase::Record record;
        ASSERT_TRUE(m_host->Records().Find(layout, &record));
        EXPECT_EQ(record.data, c.bytes);
        EXPECT_EQ(m_host->Records().RecordCount(), 1u) << "no page record made";
        m_host->Records().OnRequest(KvwRecordRequest::kDelete, {KvwItemIdLow(layout), KvwItemIdHigh(layout)});
    }
}

TEST_F(DesignLayouts, ThePageRecordsOfAReopenedLayoutAreListedAndKept) {
    Start();
    ASSERT_EQ(Open(), kKvwOk);
    ASSERT_TRUE(Layouts().SaveLayout());
    const auto pages = Layouts().GetPageRecords();
    m_host->Send(m_module, kCloseDesign);
    // A page record listed before the layout record is not taken for it.
    const KvwItemId layout = Children(kDesign).front();
    m_host->Records().OnRequest(KvwRecordRequest::kDetach, {KvwItemIdLow(kDesign), KvwItemIdHigh(kDesign),
                                                            reinterpret_cast<KvwWord>(&layout), 1});
    m_host->Records().Attach(kDesign, pages.at(1));
    m_host->Records().Attach(kDesign, layout);
    ASSERT_EQ(Open(), kKvwOk);
    EXPECT_EQ(Layouts().GetLayoutRecord(), layout);
    EXPECT_EQ(Layouts().GetPageRecords(), pages);
    EXPECT_FALSE(Layouts().ArePagesRegistered());
    m_host->Send(m_module, kCloseDesign);
    EXPECT_TRUE(m_host->Records().Find(pages.at(1), nullptr)) << "stored pages outlive the close";
}

} // namespace

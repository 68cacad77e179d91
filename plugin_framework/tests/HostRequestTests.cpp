#include "ImageTestSupport.h"

#include "plugin_framework/HostLink.h"
#include "plugin_framework/LayoutText.h"
#include "plugin_framework/PngResourceImage.h"
#include "plugin_framework/TModuleValues.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/win/WinDesktop.h"
#include "platform/win/WinSeams.h"
#include "platform/win/utf16.h"
#include "platform/zizoraz/zIzoRaz.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using graphtypes::TSize_T;

std::wstring Wide(const TString& text) {
    return std::wstring(static_cast<const wchar_t*>(text));
}
std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Gives the wrapper's handle back, then the wrapper.
struct ImageReleaser {
    void operator()(TiProImage* image) const {
        image->Release();
        delete image;
    }
};

LRESULT PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

class HostRequestTest : public imagetest::ImageHostTest {
protected:
    void SetUp() override {
        WinSeams::SetTempBase(m_temp.Path());
        ASSERT_EQ(docStartup(), 1);
        ASSERT_EQ(iproStartup(), 1);
        ImageHostTest::SetUp();
    }
    void TearDown() override {
        ImageHostTest::TearDown();
        if (m_pane)
            DestroyWindow(m_pane);
        iproShutdown();
        docShutdown();
        WinSeams::ResetAll();
    }

    // An item whose file is at the path, with the property texts and (when width is not 0) size records.
    void AddDescribedItem(KvwItemId id, const std::string& path, std::map<DWORD, std::string> texts = {},
                          DWORD width = 0, DWORD height = 0) {
        CHostItemRecord item;
        item.id = id;
        item.data.path = path;
        item.propertyTexts = std::move(texts);
        if (width)
            item.SetSizeRecords(width, height);
        m_host->AddItem(item);
    }
    // Every file under the temporary root, by name.
    std::vector<std::string> TemporaryFiles() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_temp.Path(), error))
            if (entry.is_regular_file())
                names.push_back(entry.path().filename().string());
        return names;
    }
    // Resizes the window so that its client area is the size.
    static void SetClientSize(HWND window, LONG width, LONG height) {
        RECT outer{}, client{};
        ASSERT_TRUE(GetWindowRect(window, &outer));
        ASSERT_TRUE(GetClientRect(window, &client));
        const LONG frameX = (outer.right - outer.left) - (client.right - client.left);
        const LONG frameY = (outer.bottom - outer.top) - (client.bottom - client.top);
        ASSERT_TRUE(MoveWindow(window, outer.left, outer.top, width + frameX, height + frameY, FALSE));
        ASSERT_TRUE(GetClientRect(window, &client));
        ASSERT_EQ(client.bottom - client.top, height);
    }
    HWND MakePane() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &PlainWindowProc;
        windowClass.hInstance = GetThisModule();
        windowClass.lpszClassName = L"HostRequestPane";
        RegisterClassW(&windowClass);
        m_pane = CreateWindowExW(0, L"HostRequestPane", L"pane", 0, 0, 0, 300, 200, nullptr, nullptr,
                                 GetThisModule(), nullptr);
        return m_pane;
    }

    kvtest::TempFolder m_temp;
    HWND m_pane = nullptr;
};

TEST_F(HostRequestTest, MetadataFieldsComeFromTheItemsPathPropertiesAndSizeRecords) {
    AddDescribedItem(7, "C:\\Photos\\2024/harbour.jpg",
                     {{2, "2024:05:01"}, {1001, "Nikon"}, {1010, "f/8"}, {1008, "1/250"}, {1014, "last"}},
                     640, 480);
    TItemMetadata metadata;
    EXPECT_TRUE(HostRequests::GetItemMetadata(7, metadata));
    const std::vector<std::wstring> expected = {
        L"harbour.jpg", L"2024:05:01", L"Nikon", L"f/8", L"640 x 480", L"1/250", L"", L"", L"", L"", L"",
        L"last"};
    for (int field = 0; field < TItemMetadata::kFieldCount; ++field)
        EXPECT_EQ(Wide(metadata.fields[field]), expected[static_cast<std::size_t>(field)]) << field;

    TItemMetadata none;
    none.fields[3] = L"stale";
    EXPECT_TRUE(HostRequests::GetItemMetadata(99, none)) << "an unknown item still answers true";
    for (const TString& field : none.fields)
        EXPECT_TRUE(field.IsEmpty());
    EXPECT_EQ(Wide(HostRequests::BuildMetadataText(99, none, 15, L"@&@")),
              L"NUID:99@&@Filename:@&@Additional:,,,,@&@Detailed:,,,,@&@");
}

TEST_F(HostRequestTest, MetadataTextLinesFollowTheFlags) {
    TItemMetadata metadata;
    for (int field = 0; field < TItemMetadata::kFieldCount; ++field)
        metadata.fields[field].Format(L"f%d", field);
    const KvwItemId big = KvwItemId{1} << 63;
    const struct {
        DWORD flags;
        const wchar_t* text;
    } cases[] = {
        {0, L"NUID:9223372036854775808|"},
        {1, L"NUID:9223372036854775808|Filename:f0|"},
        {2, L"NUID:9223372036854775808|Basic:f0,f1|"},
        {3, L"NUID:9223372036854775808|Filename:f0|"},
        {4, L"NUID:9223372036854775808|Additional:f2,f3,f4,f5,f6|"},
        {8, L"NUID:9223372036854775808|Detailed:f7,f8,f9,f10,f11|"},
        {14, L"NUID:9223372036854775808|Basic:f0,f1|Additional:f2,f3,f4,f5,f6|Detailed:f7,f8,f9,f10,f11|"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Wide(HostRequests::BuildMetadataText(big, metadata, c.flags, L"|")), c.text) << c.flags;
    EXPECT_EQ(Wide(NuidToString(~KvwItemId{0})), L"18446744073709551615");
}

TEST_F(HostRequestTest, AnItemTheHostDoesNotHoldIsMadeAvailableAndAskedForOnceMore) {
    m_host->SetScript(KvwPluginRequest::kMakeAvailable, [this](const CHostRequest&) {
        AddDescribedItem(12, "/p/late.jpg", {{2, "arrived"}});
        return CHostReply{};
    });
    TString text = L"kept";
    EXPECT_TRUE(HostLink::Instance()->GetItemProperty(12, 2, text));
    EXPECT_EQ(Wide(text), L"arrived");
    const std::vector<CHostRequest> requests = m_host->RequestsOf(KvwPluginRequest::kMakeAvailable);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].words[0], 12u);
    EXPECT_EQ(requests[0].words[5], 1u) << "p6";

    m_host->SetAnswer(KvwPluginRequest::kMakeAvailable, 0x1101);
    text = L"kept";
    EXPECT_FALSE(HostLink::Instance()->GetItemProperty(13, 2, text));
    EXPECT_EQ(Wide(text), L"kept");
    EXPECT_EQ(m_host->RequestsOf(KvwPluginRequest::kMakeAvailable).size(), 2u)
        << "one more try, then failure";
    BYTE* buffer = reinterpret_cast<BYTE*>(1);
    DWORD length = 5;
    EXPECT_FALSE(HostRequests::GetItemRecord(13, KvwItemRecord::kWidth, buffer, length));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(length, 0u);
}

TEST_F(HostRequestTest, SourceSizesAreTakenModuloTheSixteenBitRange) {
    CHostItemRecord item;
    item.id = 3;
    item.source.width = 0x10000 + 640;
    item.source.height = 480;
    m_host->AddItem(item);
    TSize_T<LONG> size(9, 9);
    EXPECT_TRUE(HostRequests::GetSourceInfo(3, size));
    EXPECT_EQ(size.cx, 640);
    EXPECT_EQ(size.cy, 480);
    EXPECT_FALSE(HostRequests::GetSourceInfo(4, size));
    EXPECT_EQ(size.cx, 0);
    EXPECT_EQ(size.cy, 0);
}

TEST_F(HostRequestTest, TheHostsNumberAndRegistryServiceComeWithTheirReferences) {
    m_host->Panes().SetNumber(20);
    EXPECT_EQ(HostLink::Instance()->QueryNumber(), 20u);
    EXPECT_EQ(m_host->Panes().HeldByModules(), 0);
    IKvwRegistryService* registry = HostLink::Instance()->GetRegistryService();
    ASSERT_EQ(registry, &m_host->Registry());
    EXPECT_EQ(m_host->Registry().HeldByModules(), 1);
    registry->Release();
    m_host->WithholdService(KvwService::kPanes, 0x1101);
    m_host->WithholdService(KvwService::kRegistry, 0x1101);
    EXPECT_EQ(HostLink::Instance()->QueryNumber(), 0u);
    EXPECT_EQ(HostLink::Instance()->GetRegistryService(), nullptr);
}

TEST_F(HostRequestTest, MaxPaneSizeLeavesRoomForTheHostsFrame) {
    WinSeams::SetDesktopSize(1280, 1024);
    SetClientSize(m_host->MainWindow(), 1000, 900);
    HWND pane = MakePane();
    ASSERT_NE(pane, nullptr);
    SetClientSize(pane, 400, 600);
    m_host->Panes().SetWindow(20, pane);
    TSize_T<LONG> size;
    ASSERT_TRUE(HostLink::Instance()->MaxPaneSize(20, size));
    EXPECT_EQ(size.cx, 1233);
    EXPECT_EQ(size.cy, 678);
    EXPECT_EQ(m_host->Panes().HeldByModules(), 0);
    EXPECT_FALSE(HostLink::Instance()->MaxPaneSize(21, size)) << "a component without a pane";
    m_host->WithholdService(KvwService::kPanes, 0x1101);
    EXPECT_FALSE(HostLink::Instance()->MaxPaneSize(20, size));
}

TEST_F(HostRequestTest, ReadPngIntoImageLoadsWhatTheCanvasLibrarySaved) {
    // Opaque red over the left two columns of a 4 x 3 image; the rest stays transparent black.
    IproHandle image = 0, canvas = 0;
    ASSERT_EQ(iproCreateImage(4, 3, &image), 1);
    ASSERT_EQ(iproCreateCanvasFromImage(image, &canvas), 1);
    ASSERT_EQ(iproFillRectangle(canvas, 0, 0, 2, 3, 0xFF0000FF, IPRO_FILL_COPY), 1);
    iproReleaseHandle(canvas);
    const std::string path = m_temp.File("saved.png");
    ASSERT_EQ(iproSaveImage(image, Utf::Utf8ToWide(path).c_str(), IPRO_SAVE_REPLACE, nullptr), 1);
    iproReleaseHandle(image);

    CKvwProfileImage record;
    ASSERT_TRUE(HostLink::Instance()->ReadPngIntoImage(record, Utf::Utf8ToWide(path).c_str()));
    ASSERT_NE(record.image, nullptr);
    LONG width = 0, height = 0;
    ASSERT_EQ(record.image->GetSize(&width, &height), nullptr);
    EXPECT_EQ(width, 4);
    EXPECT_EQ(height, 3);
    for (LONG y = 0; y < 3; ++y) {
        for (LONG x = 0; x < 4; ++x) {
            PravonPixel pixel;
            ASSERT_EQ(record.image->GetPixel(x, y, &pixel), nullptr);
            ASSERT_EQ(pixel.channels, 4);
            const std::vector<ULONG> expected =
                x < 2 ? std::vector<ULONG>{255, 255, 0, 0} : std::vector<ULONG>{0, 0, 0, 0};
            for (std::size_t i = 0; i < 4; ++i)
                EXPECT_EQ(pixel.sample[i], expected[i]) << x << "," << y << " channel " << i;
        }
    }
    EXPECT_EQ(m_host->Imaging().HeldByModules(), 0);
    EXPECT_TRUE(std::filesystem::exists(path)) << "the file stays";
}

TEST_F(HostRequestTest, ReadPngIntoImageRefusesBadFilesAndAMissingManager) {
    IproHandle image = 0;
    ASSERT_EQ(iproCreateImage(8, 8, &image), 1);
    const std::string whole = m_temp.File("whole.png");
    ASSERT_EQ(iproSaveImage(image, Utf::Utf8ToWide(whole).c_str(), IPRO_SAVE_REPLACE, nullptr), 1);
    iproReleaseHandle(image);
    const std::string bytes = ReadFile(whole);
    const std::string truncated = m_temp.Write("cut.png", bytes.substr(0, bytes.size() / 2));
    const std::string notPng = m_temp.Write("text.png", "GIF89a, not a PNG at all");
    for (const std::string& path : {truncated, notPng, m_temp.File("missing.png")}) {
        CKvwProfileImage record;
        EXPECT_FALSE(HostLink::Instance()->ReadPngIntoImage(record, Utf::Utf8ToWide(path).c_str())) << path;
    }
    CKvwProfileImage record;
    EXPECT_FALSE(HostLink::Instance()->ReadPngIntoImage(record, nullptr));
    m_host->Imaging().SetResult(0x1101);
    EXPECT_FALSE(HostLink::Instance()->ReadPngIntoImage(record, Utf::Utf8ToWide(whole).c_str()));
    m_host->Imaging().SetResult(kKvwOk);
    m_host->WithholdService(KvwService::kImaging, 0x1101);
    EXPECT_FALSE(HostLink::Instance()->ReadPngIntoImage(record, Utf::Utf8ToWide(whole).c_str()));
    EXPECT_EQ(m_host->Imaging().HeldByModules(), 0);
}

TEST_F(HostRequestTest, PngResourcesBecomeImagesAndLeaveNoFile) {
    const std::unique_ptr<TiProImage, ImageReleaser> image(LoadPngResourceImage(GetThisModule(), 20));
    ASSERT_NE(image, nullptr);
    TSize_T<LONG> size;
    image->GetSize(size);
    EXPECT_EQ(size.cx, 3);
    EXPECT_EQ(size.cy, 2);
    EXPECT_EQ(LoadPngResourceImage(GetThisModule(), 21), nullptr) << "bytes that are no PNG";
    EXPECT_EQ(LoadPngResourceImage(GetThisModule(), 22), nullptr) << "no such resource";
    EXPECT_EQ(LoadPngResourceImage(nullptr, 20), nullptr);
    EXPECT_TRUE(TemporaryFiles().empty());
}

TEST_F(HostRequestTest, LayoutTextIsTheSavedDocumentAndNoFileStays) {
    const std::string layout = m_temp.Write(
        "in.ldf", "<?xml version='1.0' encoding='UTF-8'?><ldf version='1'><page id='4' cx='210' cy='297'>"
                  "<item id='1' kind='text'/></page></ldf>");
    DocHandle document = kDocNoHandle;
    ASSERT_EQ(docCreateDocumentFromLDF(Utf::Utf8ToWide(layout).c_str(), &document), 1);
    std::filesystem::remove(layout);
    TString text;
    ASSERT_TRUE(GetLayoutText(document, text));
    EXPECT_NE(Wide(text).find(L"<page id=\"4\""), std::wstring::npos) << Utf::WideToUtf8(Wide(text));
    EXPECT_NE(Wide(text)[0], 0xFEFF) << "no byte-order mark";
    TStringA narrow;
    ASSERT_TRUE(GetLayoutTextA(document, narrow));
    EXPECT_NE(std::string(static_cast<const char*>(narrow)).find("kind=\"text\""), std::string::npos);
    EXPECT_TRUE(TemporaryFiles().empty());

    docReleaseHandle(document);
    text = L"stale";
    EXPECT_FALSE(GetLayoutText(document, text)) << "a released document cannot be saved";
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_FALSE(GetLayoutTextA(kDocNoHandle, narrow));
    EXPECT_TRUE(narrow.IsEmpty());
    EXPECT_TRUE(TemporaryFiles().empty());
}

TEST_F(HostRequestTest, DefusedSeparatorsAreBrokenByABlankAndNothingElseChanges) {
    const struct {
        const wchar_t* text;
        const wchar_t* defused;
    } cases[] = {
        {L"plain 'quoted' \"double\" & <tag/>", L"plain 'quoted' \"double\" & <tag/>"},
        {L"a<;/>b", L"a<; />b"},
        {L"@&@$&$", L"@& @$& $"},
        {L"@&@&@", L"@& @& @"},
        {L"<;/><;/>", L"<; /><; />"},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Wide(HostRequests::DefuseSeparators(c.text)), c.defused) << Utf::WideToUtf8(c.text);
}

TEST_F(HostRequestTest, CaptionLinesHoldTheHostsTextsLiterally) {
    // A path separator ends a file name, so the parameter separator rides in a property text.
    const std::vector<std::pair<std::string, std::string>> items = {
        {"it's \"best\".jpg", "plain"},
        {"Tom & Jerry imageStr='x'.jpg", "cut <;/> here, @&@ and $&$"},
        {"a\" or document('secret.xml') or concat(\"b.jpg", "')] | document('x') | x[('"},
    };
    for (std::size_t i = 0; i < items.size(); ++i)
        AddDescribedItem(100 + i, "/photos/" + items[i].first, {{2, items[i].second}});
    TString path;
    ASSERT_TRUE(HostRequests::TransformCaption({100, 101, 102}, HostRequests::kBasicLine, path, 1));
    const std::string caption = ReadFile(Utf::WideToUtf8(Wide(path)));
    EXPECT_EQ(caption,
              "NUID:100 | Basic:it's \"best\".jpg,plain\n"
              "NUID:101 | Basic:Tom & Jerry imageStr='x'.jpg,cut <; /> here, @& @ and $& $\n"
              "NUID:102 | Basic:a\" or document('secret.xml') or concat(\"b.jpg,')] | document('x') | "
              "x[('\n");
    EXPECT_EQ(std::filesystem::path(Utf::WideToUtf8(Wide(path))).filename(), "bndl.xml");
}

TEST_F(HostRequestTest, CaptionCopiesRepeatEachItemInARow) {
    AddDescribedItem(1, "/a.jpg");
    AddDescribedItem(2, "/b.jpg");
    TString path;
    ASSERT_TRUE(HostRequests::TransformCaption({1, 2}, HostRequests::kFileNameLine, path, 2));
    EXPECT_EQ(ReadFile(Utf::WideToUtf8(Wide(path))),
              "NUID:1 | Filename:a.jpg\nNUID:1 | Filename:a.jpg\nNUID:2 | Filename:b.jpg\nNUID:2 | "
              "Filename:b.jpg\n");
    TString second;
    ASSERT_TRUE(HostRequests::TransformCaption({}, 0, second, 1));
    EXPECT_NE(Wide(second), Wide(path)) << "a new numbered file";
    EXPECT_EQ(ReadFile(Utf::WideToUtf8(Wide(second))), "");
}

TEST(HostRequestsUnbound, EveryRequestFailsWithoutCallingTheHost) {
    ASSERT_FALSE(HostLink::Instance()->IsBound());
    TString text = L"kept";
    EXPECT_FALSE(HostLink::Instance()->GetItemProperty(1, 2, text));
    EXPECT_FALSE(HostRequests::GetItemData(1, text));
    EXPECT_EQ(Wide(text), L"kept");
    EXPECT_FALSE(HostRequests::IsDesignPage(1));
    EXPECT_EQ(HostLink::Instance()->QueryNumber(), 0u);
    EXPECT_EQ(HostLink::Instance()->GetRegistryService(), nullptr);
    TSize_T<LONG> size;
    EXPECT_FALSE(HostLink::Instance()->MaxPaneSize(20, size));
    CKvwProfileImage record;
    EXPECT_FALSE(HostLink::Instance()->ReadPngIntoImage(record, L"/nowhere.png"));
}

} // namespace

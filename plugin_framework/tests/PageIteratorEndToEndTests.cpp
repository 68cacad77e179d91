// A three-page layout document previewed in a window from end to end: the module of this program under
// the scripted host, the page iterator rendering through StateRenderer, and a picture that the host
// delivers only after the first render. The window's pixels are saved as PNGs (left in the build folder
// for a person to open), read back and checked at points worked out by hand from the layout.
#include "ImageTestSupport.h"
#include "PageIteratorTestSupport.h"
#include "SavedPicture.h"

#include "plugin_framework/CodecTable.h"

#include "platform/win/WinSeams.h"

#include <algorithm>

namespace {

using pagetest::kFaceArgb;
using pagetest::TRect;
using pagetest::TSize;

// Page 1 is 200 x 100, shown at 400 x 200 in a 400 x 300 window, 50 pixels down: the shape covers
// 20..140 x 70..150 of the window, the image item (picture 21) 220..380 x 90..210. Page 2 is 100 x 200,
// shown at 150 x 300, 125 pixels right: its shape covers 140..260 x 15..135.
const char* const kLayout = R"(<?xml version="1.0" encoding="UTF-8"?>
<ldf version="1">
  <page id="1" cx="200" cy="100">
    <item id="1" kind="shape"><bounding-box x="10" y="10" cx="60" cy="40"/></item>
    <item id="2" kind="image">
      <bounding-box x="110" y="20" cx="80" cy="60"/>
      <content><image refType="NUID">21</image></content>
    </item>
  </page>
  <page id="2" cx="100" cy="200">
    <item id="1" kind="shape"><bounding-box x="10" y="10" cx="80" cy="80"/></item>
  </page>
  <page id="3" cx="100" cy="100"/>
</ldf>
)";

constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kFrame = 0xFF404040;
constexpr std::uint32_t kPlaceholder = 0xFFD8D8D8;
// The item's preview, as window pixels.
constexpr std::uint32_t kPicture = 0xFF3090E0;
const TRect kPictureBox(220, 90, 380, 210);

struct Point {
    LONG x, y;
    std::uint32_t expected;
    const char* what;
};

void ExpectPoints(const IproPixels& pixels, std::initializer_list<Point> points, const char* picture) {
    for (const Point& p : points)
        EXPECT_EQ(pixels.At(p.x, p.y), p.expected)
            << picture << ": " << p.what << " at " << p.x << "," << p.y;
}

class PageIteratorEndToEnd : public imagetest::ImageHostTest {
protected:
    static void OnPageChanged(void* user) { ++*static_cast<int*>(user); }

    IproPixels Snapshot(const char* name) {
        HDC dc = m_window->GetDC();
        const TRect client(0, 0, 400, 300);
        m_iterator->Redraw(dc, 0, client, client, true, true);
        m_window->ReleaseDC(dc);
        LONG width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
        EXPECT_TRUE(WinGdiTest::ReadWindowPixels(m_window->GetHandle(), &width, &height, &pixels));
        const IproPixels shown{width, height, pixels};
        if (!name)
            return shown;
        const std::optional<IproPixels> saved = kvtest::SaveAndReadBack(shown, name);
        EXPECT_TRUE(saved && saved->argb == shown.argb) << "the PNG holds the window's pixels";
        return saved ? *saved : shown;
    }
    bool RenderAndWait(int changes) {
        Snapshot(nullptr);
        return PumpUntil([&] { return m_changes == changes; });
    }

    TRefPtr<TWindow> m_window;
    TRefPtr<TDBufPageIterator> m_iterator;
    int m_changes = 0;
};

TEST_F(PageIteratorEndToEnd, ALayoutPreviewedPageByPageWithAPictureThatArrivesLater) {
    kvtest::Watchdog watchdog("a layout previewed from end to end", std::chrono::milliseconds(60000));
    kvtest::TempFolder folder;
    WinSeams::SetTempBase(folder.Path());
    ASSERT_EQ(iproStartup(), 1);
    ASSERT_EQ(docStartup(), 1);
    CHostItemRecord item;
    item.id = 21;
    item.source.width = 800;
    item.source.height = 600;
    item.fullPicture = Solid(800, 600, {0, 0, 0});
    item.previewPicture = Solid(160, 120, {0x30, 0x90, 0xE0});
    m_host->AddItem(item);
    // The host takes the preview request and delivers only when the test says.
    std::vector<CHostRequest> asked;
    m_host->SetScript(KvwPluginRequest::kPreview, [&](const CHostRequest& request) {
        asked.push_back(request);
        return CHostReply{kKvwOk, {}};
    });

    const std::string layoutPath = folder.Write("preview.ldf", kLayout);
    std::unique_ptr<TdocDocument> document(TdocDocument::CreateFromLDF(Utf::Utf8ToWide(layoutPath).c_str()));
    ASSERT_NE(document, nullptr);
    m_window = TRefPtr<TWindow>::Adopt(new TWindow);
    ASSERT_TRUE(m_window->Create(L"PreviewWindow", 0, TWindow::TRect(0, 0, 400, 300), nullptr));
    m_iterator = TRefPtr<TDBufPageIterator>::Adopt(new TDBufPageIterator);
    m_iterator->SetRendererFolder(rendertest::Folder());
    TFilePath ldf;
    ldf.Set(Utf::Utf8ToWide(layoutPath).c_str());
    m_iterator->SetLdfFileName(ldf);
    ASSERT_TRUE(m_iterator->Init(m_window->GetHandle(), &OnPageChanged, &m_changes, nullptr));
    TString media;
    BuildCodecParameters(media, true, 4096, 0);
    ASSERT_TRUE(m_iterator->SetMediaContext(media));
    ASSERT_TRUE(m_iterator->SetDocument(document.get(), TSize(400, 300)));
    EXPECT_EQ(m_iterator->GetPageCount(), 3);

    ASSERT_TRUE(RenderAndWait(1));
    ASSERT_EQ(asked.size(), 1u) << "the render asked the host for the item's preview";
    const IproPixels before = Snapshot(nullptr);
    ExpectPoints(before,
                 {{200, 20, kFaceArgb, "the bar above the centred page"},
                  {200, 49, kFaceArgb, "its last row"},
                  {200, 50, kWhite, "the page's first row"},
                  {200, 249, kWhite, "its last row"},
                  {200, 280, kFaceArgb, "the bar below"},
                  {20, 100, kFrame, "the shape's frame"},
                  {80, 110, kWhite, "inside the shape"},
                  {300, 120, kPlaceholder, "the picture's box, while the host has no preview"}},
                 "before the picture");

    m_host->Items().Hold(21, false);
    m_host->Post(m_module, CScriptedHost::CompletionOf(asked[0], KvwHostMessage::kImageLoaded));
    ASSERT_TRUE(PumpUntil([&] { return m_changes == 2; })) << "the item's area rendered again";
    const IproPixels after = Snapshot("page-preview-1.png");
    ExpectPoints(after,
                 {{300, 150, kPicture, "the picture in its box"},
                  {222, 92, kPicture, "near the box's corner"},
                  {220, 150, kFrame, "the box's frame"},
                  {200, 20, kFaceArgb, "the bar above"},
                  {80, 110, kWhite, "inside the shape"}},
                 "page-preview-1.png");
    ASSERT_EQ(after.width, before.width);
    ASSERT_EQ(after.height, before.height);
    int changedOutside = 0, changedInside = 0;
    for (LONG y = 0; y < after.height; ++y) {
        for (LONG x = 0; x < after.width; ++x) {
            const bool inside = x >= kPictureBox.left && x < kPictureBox.right && y >= kPictureBox.top &&
                                y < kPictureBox.bottom;
            if (after.At(x, y) != before.At(x, y))
                ++(inside ? changedInside : changedOutside);
        }
    }
    EXPECT_EQ(changedOutside, 0) << "only the item's rectangle changed";
    EXPECT_GT(changedInside, 156 * 116) << "the picture fills the box inside its frame";

    ASSERT_TRUE(m_iterator->NextPage(true));
    EXPECT_EQ(m_changes, 3);
    ASSERT_TRUE(RenderAndWait(4));
    ExpectPoints(Snapshot("page-preview-2.png"),
                 {{60, 150, kFaceArgb, "the bar left of page 2"},
                  {124, 150, kFaceArgb, "its last column"},
                  {125, 150, kWhite, "the page's first column"},
                  {274, 150, kWhite, "its last column"},
                  {300, 150, kFaceArgb, "the bar right of it"},
                  {140, 50, kFrame, "the shape's frame"},
                  {200, 75, kWhite, "inside the shape"},
                  {200, 290, kWhite, "the page's lower part"}},
                 "page-preview-2.png");

    EXPECT_TRUE(m_iterator->Shutdown());
    EXPECT_EQ(m_iterator->GetRefCount(), 1);
    m_iterator = TRefPtr<TDBufPageIterator>();
    m_window->Destroy();
    m_window = TRefPtr<TWindow>();
    document.reset();
    WinSeams::ResetAll();
    docShutdown();
    iproShutdown();
}

// A host whose preview is a quarter of the size asked for: the page asks once, the box renders again once
// the host answered and shows the small preview as it came (at its own size, in the box's corner), and
// nothing is asked for again.
TEST_F(PageIteratorEndToEnd, APreviewSmallerThanItsBoxIsShownAfterTheHostsOneAnswer) {
    kvtest::Watchdog watchdog("a preview smaller than its box");
    kvtest::TempFolder folder;
    WinSeams::SetTempBase(folder.Path());
    ASSERT_EQ(iproStartup(), 1);
    ASSERT_EQ(docStartup(), 1);
    CHostItemRecord item;
    item.id = 21;
    item.source.width = 800;
    item.source.height = 600;
    item.previewPicture = Solid(40, 30, {0x30, 0x90, 0xE0});
    m_host->AddItem(item);
    // The image-load manager asks for a completion alone (flags 4), the codec for progress too.
    constexpr KvwWord kManagerFlags = 4;
    std::vector<KvwWord> asked;
    m_host->SetScript(KvwPluginRequest::kPreview, [&](const CHostRequest& request) {
        asked.push_back(request.words[5]);
        m_host->Items().Hold(21, false);
        const DWORD completion =
            request.words[5] == kManagerFlags ? KvwHostMessage::kImageLoaded : KvwHostMessage::kPreviewReady;
        return CHostReply{kKvwOk, {CScriptedHost::CompletionOf(request, completion)}};
    });

    const std::string layoutPath = folder.Write("small.ldf", kLayout);
    std::unique_ptr<TdocDocument> document(TdocDocument::CreateFromLDF(Utf::Utf8ToWide(layoutPath).c_str()));
    ASSERT_NE(document, nullptr);
    m_window = TRefPtr<TWindow>::Adopt(new TWindow);
    ASSERT_TRUE(m_window->Create(L"PreviewWindow", 0, TWindow::TRect(0, 0, 400, 300), nullptr));
    m_iterator = TRefPtr<TDBufPageIterator>::Adopt(new TDBufPageIterator);
    m_iterator->SetRendererFolder(rendertest::Folder());
    ASSERT_TRUE(m_iterator->Init(m_window->GetHandle(), &OnPageChanged, &m_changes, nullptr));
    TString media;
    BuildCodecParameters(media, true, 4096, 0);
    ASSERT_TRUE(m_iterator->SetMediaContext(media));
    ASSERT_TRUE(m_iterator->SetDocument(document.get(), TSize(400, 300)));

    // The host answers at once, so the render after its answer may end before the pump has seen the
    // first one's change.
    Snapshot(nullptr);
    ASSERT_TRUE(PumpUntil([&] { return m_changes >= 1; })) << "the page rendered";
    ASSERT_TRUE(PumpUntil([&] { return m_changes == 2; })) << "the box rendered again after the answer";
    ASSERT_TRUE(PumpUntil([&] { return m_host->PendingMessages() == 0 && m_iterator->GetRefCount() == 1; }));
    WinUserTest::PumpPending();
    ExpectPoints(Snapshot("small-preview.png"),
                 {{240, 105, kPicture, "the small preview in its box's corner"},
                  {222, 92, kPicture, "near the box's corner"},
                  {300, 150, kWhite, "the rest of the box"},
                  {80, 110, kWhite, "inside the shape"}},
                 "small-preview.png");
    EXPECT_EQ(std::count(asked.begin(), asked.end(), kManagerFlags), 1) << "asked once, not again and again";
    EXPECT_EQ(asked.size(), 2u) << "and read once, by the render that drew it";
    EXPECT_EQ(m_changes, 2);

    EXPECT_TRUE(m_iterator->Shutdown());
    m_iterator = TRefPtr<TDBufPageIterator>();
    m_window->Destroy();
    m_window = TRefPtr<TWindow>();
    document.reset();
    WinSeams::ResetAll();
    docShutdown();
    iproShutdown();
}

// Replicas: page 1 (200 x 100, shown at 400 x 200, 50 pixels down) shows picture 31 in three boxes of 80 x
// 80 pixels at 20, 160 and 300 across, 110 down; page 2, of the same size, shows picture 32 in one box at
// 160, 110. Each box is looked at 50 pixels right of its left edge and 20 below its top, off the
// placeholder's crossed diagonals.
const char* const kReplicaLayout = R"(<?xml version="1.0" encoding="UTF-8"?>
<ldf version="1">
  <page id="1" cx="200" cy="100">
    <item id="1" kind="image"><bounding-box x="10" y="30" cx="40" cy="40"/>
      <content><image refType="NUID">31</image></content></item>
    <item id="2" kind="image"><bounding-box x="80" y="30" cx="40" cy="40"/>
      <content><image refType="NUID">31</image></content></item>
    <item id="3" kind="image"><bounding-box x="150" y="30" cx="40" cy="40"/>
      <content><image refType="NUID">31</image></content></item>
  </page>
  <page id="2" cx="200" cy="100">
    <item id="1" kind="image"><bounding-box x="80" y="30" cx="40" cy="40"/>
      <content><image refType="NUID">32</image></content></item>
  </page>
</ldf>
)";
constexpr std::uint32_t kSecondPicture = 0xFFE06020;

TEST_F(PageIteratorEndToEnd, ALatePictureFillsEveryBoxOfItsPageAndReachesAPageNotShownWhenItArrived) {
    kvtest::Watchdog watchdog("replicas previewed from end to end", kvtest::kThreadDeadline * 4);
    kvtest::TempFolder folder;
    WinSeams::SetTempBase(folder.Path());
    ASSERT_EQ(iproStartup(), 1);
    ASSERT_EQ(docStartup(), 1);
    const struct {
        KvwItemId id;
        std::vector<BYTE> colour;
    } pictures[] = {{31, {0x30, 0x90, 0xE0}}, {32, {0xE0, 0x60, 0x20}}};
    for (const auto& picture : pictures) {
        CHostItemRecord item;
        item.id = picture.id;
        item.source.width = item.source.height = 160;
        item.previewPicture = Solid(160, 160, picture.colour);
        m_host->AddItem(item);
    }
    // The host takes the preview requests and delivers only when the test says.
    std::vector<KvwItemId> asked;
    m_host->SetScript(KvwPluginRequest::kPreview, [&](const CHostRequest& request) {
        asked.push_back(
            KvwMakeItemId(static_cast<DWORD>(request.words[0]), static_cast<DWORD>(request.words[1])));
        return CHostReply{kKvwOk, {}};
    });
    const auto deliver = [&](KvwItemId id) {
        m_host->Items().Hold(id, false);
        CHostMessage loaded;
        loaded.id = KvwHostMessage::kImageLoaded;
        loaded.words = {KvwItemIdLow(id), KvwItemIdHigh(id), 0, 0, 0, 0, KvwPluginRequest::kPreview, 0};
        m_host->Post(m_module, loaded);
    };

    const std::string layoutPath = folder.Write("replicas.ldf", kReplicaLayout);
    std::unique_ptr<TdocDocument> document(TdocDocument::CreateFromLDF(Utf::Utf8ToWide(layoutPath).c_str()));
    ASSERT_NE(document, nullptr);
    m_window = TRefPtr<TWindow>::Adopt(new TWindow);
    ASSERT_TRUE(m_window->Create(L"PreviewWindow", 0, TWindow::TRect(0, 0, 400, 300), nullptr));
    m_iterator = TRefPtr<TDBufPageIterator>::Adopt(new TDBufPageIterator);
    m_iterator->SetRendererFolder(rendertest::Folder());
    ASSERT_TRUE(m_iterator->Init(m_window->GetHandle(), &OnPageChanged, &m_changes, nullptr));
    TString media;
    BuildCodecParameters(media, true, 4096, 0);
    ASSERT_TRUE(m_iterator->SetMediaContext(media));
    ASSERT_TRUE(m_iterator->SetDocument(document.get(), TSize(400, 300)));
    const auto settled = [&] { return PumpUntil([&] { return m_iterator->GetRefCount() == 1; }); };

    ASSERT_TRUE(RenderAndWait(1));
    EXPECT_EQ(std::count(asked.begin(), asked.end(), 31), 3) << "each box asked for the picture";
    ExpectPoints(Snapshot(nullptr),
                 {{70, 130, kPlaceholder, "box 1"},
                  {210, 130, kPlaceholder, "box 2"},
                  {350, 130, kPlaceholder, "box 3"}},
                 "page 1 before its picture");

    deliver(31);
    ASSERT_TRUE(PumpUntil([&] { return m_changes == 4; })) << "each box rendered again";
    ASSERT_TRUE(settled());
    ExpectPoints(Snapshot("replicas-1.png"),
                 {{70, 130, kPicture, "box 1"},
                  {210, 130, kPicture, "box 2"},
                  {350, 130, kPicture, "box 3"},
                  {20, 150, kFrame, "box 1's frame"},
                  {130, 150, kWhite, "the page between the boxes"}},
                 "replicas-1.png");

    ASSERT_TRUE(m_iterator->NextPage(true));
    ASSERT_TRUE(RenderAndWait(m_changes + 1));
    ExpectPoints(Snapshot(nullptr), {{210, 130, kPlaceholder, "page 2's box"}}, "page 2 before its picture");
    ASSERT_TRUE(settled());

    // Page 2's picture arrives while page 1 is shown.
    ASSERT_TRUE(m_iterator->PrevPage(true));
    ExpectPoints(Snapshot(nullptr), {{210, 130, kPicture, "box 2"}}, "page 1 again, from its preview");
    const int changes = m_changes;
    deliver(32);
    ASSERT_TRUE(PumpUntil([&] { return m_host->PendingMessages() == 0; }));
    ASSERT_TRUE(settled());
    EXPECT_EQ(m_changes, changes) << "nothing of page 1 renders again";
    ExpectPoints(Snapshot(nullptr), {{210, 130, kPicture, "box 2"}}, "page 1, unchanged");

    ASSERT_TRUE(m_iterator->NextPage(true));
    ASSERT_TRUE(RenderAndWait(m_changes + 1)) << "page 2 renders again when it is shown";
    ASSERT_TRUE(settled());
    ExpectPoints(Snapshot("replicas-2.png"),
                 {{210, 130, kSecondPicture, "page 2's box"}, {60, 150, kWhite, "the page left of it"}},
                 "replicas-2.png");

    EXPECT_TRUE(m_iterator->Shutdown());
    EXPECT_EQ(m_iterator->GetRefCount(), 1);
    m_iterator = TRefPtr<TDBufPageIterator>();
    m_window->Destroy();
    m_window = TRefPtr<TWindow>();
    document.reset();
    WinSeams::ResetAll();
    docShutdown();
    iproShutdown();
}

} // namespace

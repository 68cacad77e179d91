// Pictures of a layout page from end to end: a page with two image items rendered by RGBRenderer on the
// asynchronous renderer's worker, first with placeholders while the host has no previews, then, after the
// host's completions reached the image-load manager's subscriber, with both pictures in their boxes. The
// picture is left in the build folder as a PNG for a person to open, and checked at points worked out by
// hand from the layout.
#include "ImageTestSupport.h"
#include "RendererTestSupport.h"

#include "plugin_framework/ContextStrings.h"
#include "plugin_framework/TiProObjects.h"

#include "platform/zizoraz/IproImageFile.h"

#include <filesystem>

namespace {

// Page 1 is 200 x 100, rendered at 400 x 200: item 1 (picture 11) covers 20..140 x 20..100 (120 x 80),
// item 2 (picture 12) 220..380 x 40..160 (160 x 120).
const char* const kLayout = R"(<?xml version="1.0" encoding="UTF-8"?>
<ldf version="1">
  <page id="1" cx="200" cy="100">
    <item id="1" kind="image">
      <bounding-box x="10" y="10" cx="60" cy="40"/>
      <content><image refType="NUID">11</image></content>
    </item>
    <item id="2" kind="image">
      <bounding-box x="110" y="20" cx="80" cy="60"/>
      <content><image refType="NUID">12</image></content>
    </item>
  </page>
</ldf>
)";

using rendertest::kFrame;
using rendertest::kPlaceholder;
using rendertest::kWhite;
using rendertest::Point;

// The previews' colours, as the canvas library's pixels.
constexpr std::uint32_t kOrange = 0xFFF08010;
constexpr std::uint32_t kTeal = 0xFF10A0A0;

void ExpectPoints(const IproPixels& pixels, std::initializer_list<Point> points, const char* picture) {
    rendertest::ExpectPoints(pixels, points.begin(), points.size(), 0, picture);
}

std::atomic<int> g_notices{0};

class ImageEndToEnd : public imagetest::ImageHostTest {};

TEST_F(ImageEndToEnd, APageShowsBothPicturesInTheirBoxesOnceTheHostHasCompletedThem) {
    kvtest::Watchdog watchdog("pictures of a page from end to end");
    ASSERT_EQ(iproStartup(), 1);
    ASSERT_EQ(docStartup(), 1);
    // Full pictures of another colour: a screen preview reads the previews.
    for (KvwItemId item : {11, 12}) {
        CHostItemRecord record;
        record.id = item;
        record.source.width = 800;
        record.source.height = 600;
        record.fullPicture = Solid(800, 600, {0, 0, 0});
        record.previewPicture =
            item == 11 ? Solid(160, 120, {0xF0, 0x80, 0x10}) : Solid(160, 120, {0x10, 0xA0, 0xA0});
        m_host->AddItem(record);
    }
    g_notices = 0;
    std::shared_ptr<TImgLoadMng> manager = TImgLoadMng::Existing();
    const LONG subscriber = manager->Subscribe([](void*, LONG, LONG) { ++g_notices; }, nullptr);

    kvtest::TempFolder folder;
    const std::string layoutPath = folder.Write("pictures.ldf", kLayout);
    std::unique_ptr<TdocDocument> document(TdocDocument::CreateFromLDF(Utf::Utf8ToWide(layoutPath).c_str()));
    ASSERT_NE(document, nullptr);
    rendertest::NoticeWindow window;
    auto* renderer = new TAsyncRenderer;
    renderer->SetRendererFolder(rendertest::Folder());
    renderer->SetNotifyTarget(window.Target());
    ASSERT_TRUE(renderer->Start(nullptr));
    TString context;
    BuildDocContext(graphtypes::TSize_T<double>(200, 100), Utf::Utf8ToWide(layoutPath).c_str(), context);
    ASSERT_TRUE(renderer->SetDocument(document.get(), context));
    BuildCodecParameters(context, true, 4096, 0);
    ASSERT_TRUE(renderer->SetMediaContext(context));
    renderer->SetReady();

    std::unique_ptr<TiProImage> image(TiProImage::Create(graphtypes::TSize_T<LONG>(400, 200)));
    ASSERT_NE(image, nullptr);
    // The page context's size is the target's, in pixels.
    const graphtypes::TSize_T<double> pageSize(400, 200);
    const auto render = [&] {
        auto* request = new TRndrData;
        request->m_pageNumber = 1;
        BuildPageContext(image->GetHandle(), request->m_context, &pageSize, nullptr,
                         &TImgLoadMng::CheckImageState, subscriber);
        EXPECT_TRUE(renderer->QueueRequest(request));
        request->Release();
    };

    render();
    ASSERT_TRUE(PumpUntil([&] { return window.finished.size() == 1 && g_notices.load() == 2; }));
    EXPECT_EQ(window.finished[0].result, 1);
    ExpectPoints(rendertest::PixelsOf(image->GetHandle()),
                 {{60, 50, kPlaceholder, "the first box, while the host has no preview"},
                  {240, 100, kPlaceholder, "the second box"}},
                 "first render");
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kPreview), 2u) << "one preview asked for each item";

    render();
    ASSERT_TRUE(PumpUntil([&] { return window.finished.size() == 2; }));
    EXPECT_EQ(window.finished[1].result, 1);
    const std::filesystem::path output = std::filesystem::path(KV_TEST_OUTPUT_DIR) / "page-with-pictures.png";
    std::filesystem::create_directories(output.parent_path());
    ASSERT_EQ(iproSaveImage(image->GetHandle(), Utf::Utf8ToWide(output.string()).c_str(), IPRO_SAVE_REPLACE,
                            nullptr),
              1);
    IproPixels saved;
    ASSERT_TRUE(IproImageFile::Load(Utf::Utf8ToWide(output.string()).c_str(), saved));
    // The 4:3 previews fill the 4:3 second box and stand 107 pixels wide, centred, in the 3:2 first one.
    ExpectPoints(saved,
                 {{80, 60, kOrange, "the first picture, centred in its box"},
                  {23, 60, kWhite, "left of it, inside the wider box"},
                  {20, 60, kFrame, "the first box's frame"},
                  {300, 100, kTeal, "the second picture"},
                  {222, 42, kTeal, "near the second box's corner"},
                  {379, 100, kFrame, "the second box's frame"},
                  {200, 10, kWhite, "the page between the boxes"}},
                 output.string().c_str());

    renderer->Stop();
    renderer->Release();
    manager->Unsubscribe(subscriber);
    image->Release();
    document.reset();
    docShutdown();
    iproShutdown();
}

} // namespace

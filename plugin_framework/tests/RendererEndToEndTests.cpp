// Pages of a layout document rendered from end to end: through the asynchronous renderer and the
// RGBRenderer library into a canvas image, a PNG file and a JPEG file, which are left in the build folder for
// a person to open and checked at points worked out by hand from the layout.
#include "RendererTestSupport.h"

#include "plugin_framework/ContextStrings.h"
#include "plugin_framework/TAsyncRenderer.h"
#include "plugin_framework/TiProObjects.h"

#include "platform/zizoraz/IproHandles.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using graphtypes::TSize_T;

// Page 1 is 200 x 100 with an image item (placeholder) at 20, 10 sized 60 x 40 and a text item at 100, 20
// sized 80 x 50; page 2 is 100 x 100 with a shape at 10, 10 sized 30 x 30.
const char* const kLayout = R"(<?xml version="1.0" encoding="UTF-8"?>
<ldf version="1">
  <page id="1" cx="200" cy="100">
    <item id="1" kind="image">
      <bounding-box x="20" y="10" cx="60" cy="40"/>
      <content><image refType="NUID">4294967301</image></content>
    </item>
    <item id="2" kind="text">
      <bounding-box x="100" y="20" cx="80" cy="50"/>
      <content><text>Harbour at dawn</text></content>
    </item>
  </page>
  <page id="2" cx="100" cy="100">
    <item id="1" kind="shape"><bounding-box x="10" y="10" cx="30" cy="30"/></item>
  </page>
</ldf>
)";

using rendertest::ExpectPoints;
using rendertest::kFrame;
using rendertest::kPlaceholder;
using rendertest::kWhite;
using rendertest::PixelsOf;
using rendertest::Point;
using rendertest::ReadFile;

// Page 1 at twice its size (400 x 200): the image item covers 40..160 x 20..100, the text item
// 200..360 x 40..140, each with a one-pixel frame inside its box.
const Point kPage1[] = {
    {5, 5, kWhite, "page"},
    {100, 30, kPlaceholder, "image placeholder, away from its cross"},
    {120, 90, kPlaceholder, "image placeholder, lower part"},
    {40, 60, kFrame, "image frame, left"},
    {159, 60, kFrame, "image frame, right"},
    {100, 20, kFrame, "image frame, top"},
    {100, 99, kFrame, "image frame, bottom"},
    {161, 60, kWhite, "right of the image item"},
    {200, 90, kFrame, "text frame, left"},
    {280, 40, kFrame, "text frame, top"},
    {280, 90, kWhite, "inside the text item"},
    {390, 190, kWhite, "page, lower right"},
};
// Page 2 at 200 x 100 (twice as wide as high): the shape covers 20..80 x 10..40.
const Point kPage2[] = {
    {5, 5, kWhite, "page"},
    {20, 25, kFrame, "shape frame, left"},
    {79, 25, kFrame, "shape frame, right"},
    {50, 10, kFrame, "top"},
    {50, 39, kFrame, "bottom"},
    {50, 25, kWhite, "inside the shape"},
    {85, 25, kWhite, "outside"},
    {150, 80, kWhite, "page, lower right"},
};

TEST(RendererEndToEnd, ATwoPageLayoutIsRenderedIntoAnImageAPngAndAJpeg) {
    kvtest::Watchdog watchdog("rendering from end to end");
    ASSERT_EQ(iproStartup(), 1);
    ASSERT_EQ(docStartup(), 1);
    kvtest::TempFolder folder;
    const std::string layoutPath = folder.Write("two-pages.ldf", kLayout);
    std::unique_ptr<TdocDocument> document(TdocDocument::CreateFromLDF(Utf::Utf8ToWide(layoutPath).c_str()));
    ASSERT_NE(document, nullptr);
    const std::filesystem::path output(KV_TEST_OUTPUT_DIR);
    std::filesystem::create_directories(output);
    const std::filesystem::path png = output / "rendered-page-2.png";
    const std::filesystem::path jpeg = output / "rendered-page-1.jpg";
    std::filesystem::remove(png);
    std::filesystem::remove(jpeg);

    rendertest::NoticeWindow window;
    auto* renderer = new TAsyncRenderer;
    renderer->SetRendererFolder(rendertest::Folder());
    renderer->SetNotifyTarget(window.Target());
    ASSERT_TRUE(renderer->Start(nullptr));
    TString docContext;
    BuildDocContext(TSize_T<double>(400, 200), Utf::Utf8ToWide(layoutPath).c_str(), docContext);
    ASSERT_TRUE(renderer->SetDocument(document.get(), docContext));
    ASSERT_TRUE(
        renderer->SetMediaContext(L"pravon_codec_addr=0;preview=0;profile=8192;out_compress_quality=90"));
    renderer->SetReady();

    std::unique_ptr<TiProImage> image(TiProImage::Create(graphtypes::TSize_T<LONG>(400, 200)));
    ASSERT_NE(image, nullptr);
    const TSize_T<double> imageSize(400, 200), pngSize(200, 100);
    TFilePath pngLocation, jpegLocation;
    pngLocation.Set(Utf::Utf8ToWide(png.string()).c_str());
    jpegLocation.Set(Utf::Utf8ToWide(jpeg.string()).c_str());
    auto* intoImage = new TRndrData;
    intoImage->m_pageNumber = 1;
    BuildPageContext(image->GetHandle(), intoImage->m_context, &imageSize, nullptr, nullptr, 0, true);
    auto* intoPng = new TRndrData;
    intoPng->m_pageNumber = 2;
    BuildFilePageContext(pngLocation, intoPng->m_context, &pngSize);
    auto* intoJpeg = new TRndrData;
    intoJpeg->m_pageNumber = 1;
    BuildFilePageContext(jpegLocation, intoJpeg->m_context, &imageSize);
    for (TRndrData* request : {intoImage, intoPng, intoJpeg}) {
        EXPECT_TRUE(renderer->QueueRequest(request));
        request->Release();
    }
    ASSERT_TRUE(WinUserTest::PumpUntil([&] { return window.finished.size() == 3; }, 10000));
    WinUserTest::PumpPending();
    for (const rendertest::Finished& finished : window.finished)
        EXPECT_EQ(finished.result, 1) << "page " << finished.page;
    EXPECT_EQ(window.progress, (std::vector<DWORD>{50, 100, 100, 50, 100})) << "one notice per item";
    renderer->Stop();
    renderer->Release();

    const IproPixels rendered = PixelsOf(image->GetHandle());
    ASSERT_EQ(rendered.width, 400);
    ASSERT_EQ(rendered.height, 200);
    ExpectPoints(rendered, kPage1, std::size(kPage1), 0, "canvas image");
    const std::filesystem::path shown = output / "rendered-page-1.png";
    ASSERT_EQ(iproSaveImage(image->GetHandle(), Utf::Utf8ToWide(shown.string()).c_str(), IPRO_SAVE_REPLACE,
                            nullptr),
              1);

    const IproPixels page2 = ReadFile(png);
    ASSERT_EQ(page2.width, 200);
    ASSERT_EQ(page2.height, 100);
    ExpectPoints(page2, kPage2, std::size(kPage2), 0, "PNG");

    // JPEG loses a little: flat areas come back within a few levels (one-pixel frames blur, so only areas).
    const IproPixels page1 = ReadFile(jpeg);
    ASSERT_EQ(page1.width, 400);
    ASSERT_EQ(page1.height, 200);
    const Point areas[] = {kPage1[0], kPage1[1], kPage1[2], kPage1[10], kPage1[11]};
    ExpectPoints(page1, areas, std::size(areas), 6, "JPEG");
    std::printf("the rendered pages are %s, %s and %s\n", shown.c_str(), png.c_str(), jpeg.c_str());

    image->Release();
    document.reset();
    docShutdown();
    iproShutdown();
}

} // namespace

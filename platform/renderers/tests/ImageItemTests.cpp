// Image items of the page renderers: the image-load callback asked with the box's size, pictures read
// through the media context's codec table, fitted into their boxes and centred, and placeholders wherever
// a picture is not loaded or cannot be read.
#include "platform/renderers/CPageRenderer.h"

#include "platform/win/utf16.h"
#include "platform/zizoraz/IproHandles.h"
#include "testing/ScriptedCodec.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using kvtest::ScriptedCodec;

// Page 3 is 100 x 50, drawn at twice its size: item 1 (picture 11) covers 10..90 x 10..90, item 2
// (picture 12) 110..190 x 10..50.
const char* const kLayout = "<ldf version='1'><page id='3' cx='100' cy='50'>"
                            "<item id='1' kind='image'><bounding-box x='5' y='5' cx='40' cy='40'/>"
                            "<content><image refType='NUID'>11</image></content></item>"
                            "<item id='2' kind='image'><bounding-box x='55' y='5' cx='40' cy='20'/>"
                            "<content><image refType='NUID'>12</image></content></item>"
                            "</page></ldf>";

constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kFrame = 0xFF404040;
constexpr std::uint32_t kPlaceholder = 0xFFD8D8D8;
constexpr std::uint32_t kRed = 0xFFC80000;
constexpr std::uint32_t kBlue = 0xFF0000C8;

struct Check {
    std::wstring item;
    LONG width, height, subscriber, page, itemInPage;
    const void* cancel;
};
std::vector<Check> g_checks;
LONG g_answer = 1;

LONG RecordCheck(const wchar_t* item, LONG width, LONG height, LONG subscriber, LONG page, LONG itemInPage,
                 const void* cancel) {
    g_checks.push_back(Check{item, width, height, subscriber, page, itemInPage, cancel});
    return g_answer;
}

// Stands for a synchronisation object of the framework: the handle after the table of virtual functions.
struct CancelObject {
    const void* table = nullptr;
    HANDLE handle = 0;
};

class ImageItems : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(iproStartup(), 1);
        ASSERT_EQ(docStartup(), 1);
        codec().Reset();
        codec().SetPicture(L"11", ScriptedCodec::Solid(40, 40, 200, 0, 0));
        codec().SetPicture(L"12", ScriptedCodec::Solid(40, 40, 0, 0, 200));
        const std::string path = m_folder.Write("layout.ldf", kLayout);
        ASSERT_EQ(docCreateDocumentFromLDF(Utf::Utf8ToWide(path).c_str(), &m_document), 1);
        m_renderer.SetDocument(m_document);
        ASSERT_EQ(iproCreateImage(200, 100, &m_image), 1);
        m_cancel.handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_checks.clear();
        g_answer = 1;
        m_word = nullptr;
    }
    void TearDown() override {
        CloseHandle(m_cancel.handle);
        iproReleaseHandle(m_image);
        docReleaseHandle(m_document);
        EXPECT_EQ(codec().Live(), 0);
        codec().Reset();
        docShutdown();
        iproShutdown();
    }
    static ScriptedCodec& codec() { return ScriptedCodec::Instance(); }
    static std::wstring Address(const void* address) {
        return std::to_wstring(reinterpret_cast<std::uintptr_t>(address));
    }
    void Media(bool withCodec, bool preview) {
        m_renderer.SetMediaContext((L"pravon_codec_addr=" +
                                    Address(withCodec ? ScriptedCodec::Table() : nullptr) + L";preview=" +
                                    (preview ? L"1" : L"0") + L";profile=4096;out_compress_quality=0")
                                       .c_str());
    }
    // A render into the image, with the image-load callback when asked.
    LONG Render(bool withCallback) {
        std::wstring context = L"iProImg=" + std::to_wstring(m_image) + L";";
        if (withCallback) {
            m_word = &RecordCheck;
            context +=
                L"page_img_load_manager_cb=" + Address(&m_word) + L";page_img_load_manager_subscr_id=9;";
        }
        context += L"cancel_event=" + Address(&m_cancel);
        return m_renderer.RenderPage(0, context.c_str(), m_subscriptions);
    }
    std::uint32_t At(LONG x, LONG y) {
        std::shared_ptr<CIproImage> found = IproHandles::FindImage(m_image);
        std::lock_guard<std::mutex> guard(found->lock);
        return found->pixels.At(x, y);
    }
    bool Called(const std::string& prefix) {
        const auto calls = codec().Calls();
        return std::any_of(calls.begin(), calls.end(),
                           [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
    }

    kvtest::TempFolder m_folder;
    CPageRenderer m_renderer;
    RendrSubscriptions m_subscriptions;
    DocHandle m_document = kDocNoHandle;
    IproHandle m_image = kIproNoHandle;
    CancelObject m_cancel;
    RendrImageStateProc m_word = nullptr;
};

TEST_F(ImageItems, PicturesAreFittedIntoTheirBoxesAndCentredWithTheirFramesKept) {
    Media(true, false);
    ASSERT_EQ(Render(false), 1);
    struct Point {
        LONG x, y;
        std::uint32_t expected;
        const char* what;
    };
    const Point points[] = {
        {50, 50, kRed, "the square picture fills its square box (enlarged to it)"},
        {12, 12, kRed, "near the corner of the first box"},
        {10, 50, kFrame, "the first box's frame"},
        {150, 30, kBlue, "the square picture in the wide box, at its centre"},
        {115, 30, kWhite, "left of it: the page, not a placeholder"},
        {185, 30, kWhite, "right of it"},
        {150, 49, kFrame, "the wide box's frame"},
        {100, 70, kWhite, "the page between and below the boxes"},
    };
    for (const Point& p : points)
        EXPECT_EQ(At(p.x, p.y), p.expected) << p.what << " at " << p.x << "," << p.y;
    EXPECT_TRUE(Called("SetParameters preview=0"));
    EXPECT_TRUE(Called("SetOption 40x40")) << "a picture inside its box is read at its own size";
}

TEST_F(ImageItems, TheCallbackIsAskedWithTheBoxAndOnlyALoadedPictureIsRead) {
    Media(true, true);
    g_answer = 0;
    ASSERT_EQ(Render(true), 1);
    ASSERT_EQ(g_checks.size(), 2u);
    const Check& first = g_checks[0];
    EXPECT_EQ(first.item, L"11");
    EXPECT_EQ(first.width, 80);
    EXPECT_EQ(first.height, 80);
    EXPECT_EQ(first.subscriber, 9);
    EXPECT_EQ(first.page, 3);
    EXPECT_EQ(first.itemInPage, 1);
    EXPECT_EQ(first.cancel, &m_cancel);
    EXPECT_EQ(g_checks[1].item, L"12");
    EXPECT_EQ(g_checks[1].width, 80);
    EXPECT_EQ(g_checks[1].height, 40);
    EXPECT_EQ(g_checks[1].itemInPage, 2);
    EXPECT_TRUE(codec().Calls().empty()) << "nothing is read while the pictures are not loaded";
    EXPECT_EQ(At(50, 30), kPlaceholder);

    g_answer = 1;
    ASSERT_EQ(Render(true), 1);
    EXPECT_EQ(At(50, 30), kRed);
    EXPECT_TRUE(Called("SetParameters preview=1")) << "a screen preview reads the item's preview";
}

TEST_F(ImageItems, APictureThatCannotBeReadOrNoCodecLeavesThePlaceholder) {
    Media(false, false);
    ASSERT_EQ(Render(true), 1);
    EXPECT_EQ(At(50, 30), kPlaceholder);
    EXPECT_TRUE(g_checks.empty()) << "without a codec nobody asks whether a picture is loaded";

    Media(true, false);
    codec().FailAt("Read");
    ASSERT_EQ(Render(false), 1);
    EXPECT_EQ(At(50, 30), kPlaceholder);
    EXPECT_EQ(At(120, 30), kPlaceholder);
}

TEST_F(ImageItems, ACancelWhileAnItemWaitsEndsTheRenderAndLeavesTheImage) {
    Media(true, false);
    ASSERT_EQ(Render(false), 1);
    const std::uint32_t before = At(50, 30);
    // The first item's check takes as long as the render is cancelled meanwhile.
    g_answer = 0;
    static HANDLE cancelHandle;
    cancelHandle = m_cancel.handle;
    m_word = nullptr;
    std::wstring context = L"iProImg=" + std::to_wstring(m_image) + L";page_img_load_manager_cb=" +
                           Address(&m_word) + L";page_img_load_manager_subscr_id=1;cancel_event=" +
                           Address(&m_cancel);
    m_word = [](const wchar_t*, LONG, LONG, LONG, LONG, LONG, const void*) -> LONG {
        SetEvent(cancelHandle);
        return 0;
    };
    EXPECT_EQ(m_renderer.RenderPage(0, context.c_str(), m_subscriptions), 0);
    EXPECT_EQ(At(50, 30), before) << "a cancelled render changes nothing";
}

} // namespace

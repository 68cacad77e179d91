// What the sheets ask of the page renderers beyond plain pictures: pictures that cover their cell or turn
// to its orientation, placed by the page's content alignment, and text items in their face, size and
// colour, kept inside their boxes.
#include "platform/renderers/CPageRenderer.h"

#include "platform/win/utf16.h"
#include "platform/zizoraz/IproHandles.h"
#include "testing/ScriptedCodec.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using kvtest::ScriptedCodec;

constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kRed = 0xFFC80000;
constexpr std::uint32_t kBlue = 0xFF0000C8;

std::string Box(int x, int y, int cx, int cy) {
    return "<bounding-box x='" + std::to_string(x) + "' y='" + std::to_string(y) + "' cx='" +
           std::to_string(cx) + "' cy='" + std::to_string(cy) + "'/>";
}

std::string Image(const std::string& box, const char* nuid, const char* fit, const char* rotation) {
    return "<item kind='image'>" + box + "<content><image refType='NUID'>" + nuid +
           "</image></content><property name='fit'><attr name='mode'>" + fit +
           "</attr></property><property name='rotation'><attr name='mode'>" + rotation +
           "</attr></property></item>";
}

std::string Text(const std::string& box, const char* text, const char* colour) {
    return "<item kind='text'>" + box + "<content><text>" + text +
           "</text></content><property name='text'><attr name='font-family'>DejaVu Sans</attr><attr "
           "name='font-size'>24</attr><attr name='bold'>1</attr><attr name='color'>" +
           colour + "</attr></property></item>";
}

// A mark of the panes: no kind, a rectangle as its content.
std::string Rectangle(const std::string& box, const char* colour, bool fill) {
    return "<item id='4194305'>" + box + "<content><rectangle color='" + colour + "' fill='" +
           (fill ? "true" : "false") + "' width='2'/></content></item>";
}

// Page 0: a 20 x 40 (portrait) red picture in an 80 x 40 cell turned or not, a 40 x 20 blue picture in a
// 40 x 40 cell covering it or not; a black and a red text, the red one far too long for its box. Page 1:
// the portrait picture unturned, with the content at the right and bottom. Page 2: a focus frame and a
// selection overlay.
std::string Layout() {
    return "<ldf version='1'><page id='1' cx='200' cy='100'>" +
           Image(Box(0, 0, 80, 40), "21", "inside", "best-fit") +
           Image(Box(100, 0, 40, 40), "22", "cover", "") + Image(Box(0, 50, 80, 40), "21", "inside", "") +
           Image(Box(150, 50, 40, 40), "22", "inside", "") +
           Text(Box(90, 45, 50, 30), "Hg 2003/08/08", "#000000ff") +
           Text(Box(90, 75, 40, 25), "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", "#ff0000ff") +
           "</page><page id='2' cx='200' cy='100'>"
           "<property name='content-alignment'><attr name='vertical'>b</attr><attr name='horizontal'>r</attr>"
           "</property>" +
           Image(Box(0, 0, 80, 40), "21", "inside", "") + "</page><page id='3' cx='200' cy='100'>" +
           Rectangle(Box(10, 10, 80, 40), "#1860a2", false) + Rectangle(Box(110, 10, 80, 40), "#00008040", true) +
           "</page></ldf>";
}

class ItemStyles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(iproStartup(), 1);
        ASSERT_EQ(docStartup(), 1);
        codec().Reset();
        codec().SetPicture(L"21", ScriptedCodec::Solid(20, 40, 200, 0, 0));
        codec().SetPicture(L"22", ScriptedCodec::Solid(40, 20, 0, 0, 200));
        const std::string path = m_folder.Write("layout.ldf", Layout());
        ASSERT_EQ(docCreateDocumentFromLDF(Utf::Utf8ToWide(path).c_str(), &m_document), 1);
        m_renderer.SetDocument(m_document);
        m_renderer.SetMediaContext(
            (L"pravon_codec_addr=" +
             std::to_wstring(reinterpret_cast<std::uintptr_t>(ScriptedCodec::Table())) + L";preview=0")
                .c_str());
        ASSERT_EQ(iproCreateImage(200, 100, &m_image), 1);
    }
    void TearDown() override {
        iproReleaseHandle(m_image);
        docReleaseHandle(m_document);
        codec().Reset();
        docShutdown();
        iproShutdown();
    }
    static ScriptedCodec& codec() { return ScriptedCodec::Instance(); }
    LONG Render(LONG page) {
        const std::wstring context = L"iProImg=" + std::to_wstring(m_image);
        return m_renderer.RenderPage(page, context.c_str(), m_subscriptions);
    }
    std::uint32_t At(LONG x, LONG y) {
        std::shared_ptr<CIproImage> found = IproHandles::FindImage(m_image);
        std::lock_guard<std::mutex> guard(found->lock);
        return found->pixels.At(x, y);
    }
    // Pixels within x0..x1 x y0..y1 (exclusive ends) that the test holds.
    int Count(LONG x0, LONG y0, LONG x1, LONG y1, const std::function<bool(std::uint32_t)>& test) {
        int count = 0;
        for (LONG y = y0; y < y1; ++y)
            for (LONG x = x0; x < x1; ++x)
                count += test(At(x, y)) ? 1 : 0;
        return count;
    }

    kvtest::TempFolder m_folder;
    CPageRenderer m_renderer;
    RendrSubscriptions m_subscriptions;
    DocHandle m_document = kDocNoHandle;
    IproHandle m_image = kIproNoHandle;
};

bool Dark(std::uint32_t pixel) {
    return (pixel & 0xFF) < 0x30 && ((pixel >> 8) & 0xFF) < 0x30 && ((pixel >> 16) & 0xFF) < 0x30;
}
bool Reddish(std::uint32_t pixel) {
    return ((pixel >> 16) & 0xFF) > 0xC0 && ((pixel >> 8) & 0xFF) < 0x60 && (pixel & 0xFF) < 0x60;
}

TEST_F(ItemStyles, PicturesCoverTurnAndFollowTheContentAlignment) {
    ASSERT_EQ(Render(0), 1);
    const struct {
        LONG x, y;
        std::uint32_t expected;
        const char* what;
    } points[] = {
        {3, 20, kRed, "the portrait picture turned fills the landscape cell"},
        {76, 36, kRed, "to its far corner"},
        {103, 3, kBlue, "the landscape picture covers the square cell to its top"},
        {120, 37, kBlue, "and its bottom"},
        {3, 70, kWhite, "unturned, the portrait picture stands centred"},
        {40, 70, kRed, "at the cell's middle"},
        {170, 53, kWhite, "inside, the landscape picture leaves the square cell's top"},
    };
    for (const auto& p : points)
        EXPECT_EQ(At(p.x, p.y), p.expected) << p.what << " at " << p.x << "," << p.y;

    ASSERT_EQ(Render(1), 1);
    EXPECT_EQ(At(70, 20), kRed) << "content at the right";
    EXPECT_EQ(At(40, 20), kWhite);
}

TEST_F(ItemStyles, TextStandsInItsColourInsideItsBox) {
    ASSERT_EQ(Render(0), 1);
    EXPECT_GT(Count(90, 45, 140, 75, Dark), 40) << "the black text";
    EXPECT_GT(Count(90, 75, 130, 100, Reddish), 20) << "the red text";
    EXPECT_EQ(Count(130, 75, 150, 100, Reddish), 0) << "the long text is cut at its box";
    EXPECT_EQ(Count(140, 45, 150, 75, Dark), 0);
}

} // namespace

TEST_F(ItemStyles, RectanglesFrameOrTintTheirBoxesWithoutAnItemFrame) {
    ASSERT_EQ(Render(2), 1);
    constexpr std::uint32_t kFocus = 0xFF1860A2;
    for (auto [x, y] : {std::pair{10, 10}, {11, 30}, {88, 49}, {50, 48}})
        EXPECT_EQ(At(x, y), kFocus) << x << "," << y;
    for (auto [x, y] : {std::pair{12, 30}, {50, 30}, {9, 9}, {90, 50}})
        EXPECT_EQ(At(x, y), kWhite) << x << "," << y;
    // Blue 0x80 at alpha 0x40 over white: 255 - 255 * 64 / 255 = 191 and 128 * 64 / 255 + 191 = 223.
    for (auto [x, y] : {std::pair{110, 10}, {150, 30}, {189, 49}}) {
        const std::uint32_t tint = At(x, y);
        EXPECT_NEAR(static_cast<int>(tint >> 16 & 0xFF), 191, 1) << x << "," << y;
        EXPECT_NEAR(static_cast<int>(tint >> 8 & 0xFF), 191, 1) << x << "," << y;
        EXPECT_NEAR(static_cast<int>(tint & 0xFF), 223, 1) << x << "," << y;
    }
}

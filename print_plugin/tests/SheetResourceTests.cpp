#include "plugin_framework/HostLink.h"
#include "plugin_framework/TiProObjects.h"
#include "plugin_framework/tests/RendererTestSupport.h"
#include "print_plugin/CPrintDlg.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

std::wstring Resource(const char* name) {
    std::ifstream in(std::string(KV_PRINT_RESOURCE_DIR) + "/" + name, std::ios::binary);
    return Utf::Utf8ToWide(std::string(std::istreambuf_iterator<char>(in), {}));
}

std::wstring Wide(const std::string& text) {
    return Utf::Utf8ToWide(text);
}

std::optional<std::wstring> Property(DocHandle object, const std::wstring& path) {
    std::vector<wchar_t> buffer(4096, L'#');
    LONG count = static_cast<LONG>(buffer.size() - 1);
    if (docGetPropertyValue(object, path.c_str(), buffer.data(), &count, 0) != 1)
        return std::nullopt;
    return std::wstring(buffer.data(), static_cast<std::size_t>(count));
}

double Number(DocHandle object, const std::wstring& path) {
    const std::optional<std::wstring> text = Property(object, path);
    return text ? std::wcstod(text->c_str(), nullptr) : std::nan("");
}

// The A4 sheet of five columns and nine rows, with the caption keys given.
std::wstring SheetParameters(const std::wstring& captions = L"useBasicInfo=0<;/>useAdditionalInfo=0<;/>"
                                                            L"useDetailedInfo=0") {
    return L"pageW=2480.000000<;/>pageH=3508.000000<;/>itemW=448.076923<;/>itemH=336.899942<;/>nbCols=5<;/>"
           L"nbRows=9<;/>borderL=75.000000<;/>borderT=75.000000<;/>borderR=75.000000<;/>borderB=75.000000<;/>"
           L"spaceW=22.403846<;/>spaceH=16.844997<;/>bestFit=0<;/>borderlessPrint=0<;/"
           L">textHeight=50.000000<;/>"
           L"fontName='Arial'<;/>italic=0<;/>bold=1<;/>" +
           captions + L"<;/>bkColor='#dcdcdcff'<;/>textColor='#000000ff'";
}

struct Picture {
    unsigned long long id;
    std::string basic;
    std::string detailed;
};

class SheetResourceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(docStartup(), 1); }
    void TearDown() override {
        for (DocHandle handle : m_handles)
            docReleaseHandle(handle);
        EXPECT_EQ(docShutdown(), 1);
    }

    // The items file of the pictures through the caption stylesheet, as the host requests make it.
    std::wstring Bundle(const std::vector<Picture>& pictures) {
        std::wstring text = L"intraItemDelimiter='@&@'<;/>interItemDelimiter='$&$'<;/>imageStr=\"";
        for (const Picture& p : pictures) {
            text += L"NUID:" + std::to_wstring(p.id) + L"@&@";
            if (!p.basic.empty())
                text += L"Basic:" +
                        std::wstring(HostRequests::DefuseSeparators(TString(Wide(p.basic).c_str()))) + L"@&@";
            if (!p.detailed.empty())
                text += L"Detailed:" +
                        std::wstring(HostRequests::DefuseSeparators(TString(Wide(p.detailed).c_str()))) +
                        L"@&@";
            text += L"$&$";
        }
        text += L"\"";
        const std::wstring path = Wide(m_folder.File("bndl.xml"));
        EXPECT_EQ(docXSLTTransform2(L"<?xml version=\"1.0\" encoding=\"utf-16\" ?><template>aaa</template>",
                                    path.c_str(), Resource("CaptionBundle.xslt").c_str(), text.c_str(),
                                    nullptr),
                  1);
        return path;
    }
    static std::vector<Picture> Pictures(int count) {
        std::vector<Picture> pictures;
        for (int k = 0; k < count; ++k)
            pictures.push_back({5000ull + k, "IMG_" + std::to_string(k) + ".jpg,Harbour", ""});
        return pictures;
    }

    // The sheet document of the parameters over the bundle; kDocNoHandle when a step fails.
    DocHandle Sheet(const std::wstring& parameters, const std::wstring& bundle) {
        const std::wstring sheet = Wide(m_folder.File("sheet_ltf.xml"));
        if (docXSLTTransform2(Resource("SheetTemplate.xml").c_str(), sheet.c_str(),
                              Resource("Sheet.xslt").c_str(), parameters.c_str(), nullptr) != 1)
            return kDocNoHandle;
        DocHandle document = kDocNoHandle;
        if (docCreateDocumentFromLTF(sheet.c_str(), bundle.c_str(), &document) != 1)
            return kDocNoHandle;
        m_handles.push_back(document);
        return document;
    }

    kvtest::TempFolder m_folder;
    std::vector<DocHandle> m_handles;
};

TEST_F(SheetResourceTest, PagesAreTheSelectionOverTheCellsRoundedUp) {
    for (int count : {1, 45, 46, 2500}) {
        const DocHandle document = Sheet(SheetParameters(), Bundle(Pictures(count)));
        ASSERT_NE(document, kDocNoHandle) << count;
        LONG pages = 0;
        ASSERT_EQ(docGetDocNbPages(document, &pages), 1);
        EXPECT_EQ(pages, (count + 44) / 45) << count;
        EXPECT_EQ(Property(document, L"count(page/item)"), std::to_wstring(count));
        EXPECT_EQ(Property(document, L"page[last()]/item[last()]/content/image[@refType='NUID']"),
                  std::to_wstring(5000 + count - 1));
    }
}

TEST_F(SheetResourceTest, ItemBoxesFollowTheParameters) {
    const DocHandle document = Sheet(SheetParameters(), Bundle(Pictures(7)));
    ASSERT_NE(document, kDocNoHandle);
    EXPECT_EQ(Property(document, L"page/@cx"), L"2480");
    EXPECT_EQ(Property(document, L"page/property[@name='background']/attr"), L"#dcdcdcff");
    EXPECT_EQ(Property(document, L"count(page/item[@kind='text'])"), L"0") << "no caption flag set";
    for (int k = 0; k < 7; ++k) {
        const std::wstring item = L"page/item[" + std::to_wstring(k + 1) + L"]/";
        const int row = k / 5, column = k % 5;
        EXPECT_NEAR(Number(document, item + L"bounding-box/@x"), 75 + column * (448.076923 + 22.403846),
                    1e-5);
        EXPECT_NEAR(Number(document, item + L"bounding-box/@y"), 75 + row * (336.899942 + 16.844997), 1e-5);
        EXPECT_NEAR(Number(document, item + L"bounding-box/@cx"), 448.076923, 1e-6);
        EXPECT_NEAR(Number(document, item + L"bounding-box/@cy"), 336.899942, 1e-6);
        EXPECT_EQ(Property(document, item + L"property[@name='fit']/attr"), L"inside");
    }
}

TEST_F(SheetResourceTest, CaptionItemsComeOnlyForTheFlagsSetAndCarryTheTextsLiterally) {
    std::vector<Picture> pictures = {
        {7, "Tom & Jerry's \"best\" $5.jpg,<b>", "f/2.8,1/60 s,ISO 100,50 mm,$&$x"}, {8, "plain.jpg,", ""}};
    const DocHandle document = Sheet(
        SheetParameters(L"useBasicInfo=1<;/>useAdditionalInfo=0<;/>useDetailedInfo=1"), Bundle(pictures));
    ASSERT_NE(document, kDocNoHandle);
    // Picture 7: its picture, its basic line and its detailed block; picture 8 has no detailed text.
    EXPECT_EQ(Property(document, L"count(page/item)"), L"5");
    EXPECT_EQ(Property(document, L"page/item[2]/content/text"), L"Tom & Jerry's \"best\" $5.jpg,<b>");
    EXPECT_EQ(Property(document, L"page/item[3]/content/text"), L"f/2.8,1/60 s,ISO 100,50 mm,$& $x");
    // The basic line is one text line under the picture, the detailed block two under that.
    EXPECT_NEAR(Number(document, L"page/item[2]/bounding-box/@y"), 75 + 336.899942, 1e-5);
    EXPECT_NEAR(Number(document, L"page/item[2]/bounding-box/@cy"), 50, 1e-9);
    EXPECT_NEAR(Number(document, L"page/item[3]/bounding-box/@y"), 75 + 336.899942 + 50, 1e-5);
    EXPECT_NEAR(Number(document, L"page/item[3]/bounding-box/@cy"), 100, 1e-9);
    EXPECT_EQ(Property(document, L"page/item[3]/property[@name='text']/attr[@name='bold']"), L"1");
    // The second cell starts one column on, in the same row.
    EXPECT_NEAR(Number(document, L"page/item[4]/bounding-box/@x"), 75 + 470.480769, 1e-5);
}

TEST_F(SheetResourceTest, QuotesAmpersandsAndDollarsInTheFaceStayText) {
    std::wstring parameters = SheetParameters(L"useBasicInfo=1<;/>useAdditionalInfo=0<;/>useDetailedInfo=0");
    const std::wstring face = L"fontName='Arial'";
    parameters.replace(parameters.find(face), face.size(), L"fontName='O'Neil \"Sans\" & $5 concat(1,2)'");
    const DocHandle document = Sheet(parameters, Bundle(Pictures(1)));
    ASSERT_NE(document, kDocNoHandle);
    EXPECT_EQ(Property(document, L"page/item[2]/property[@name='text']/attr[@name='font-family']"),
              L"O'Neil \"Sans\" & $5 concat(1,2)");
}

TEST_F(SheetResourceTest, TheMailAndDesignFormsUseTheDefaults) {
    const std::wstring mail =
        L"pageW=640.000000<;/>pageH=480.000000<;/>itemW=70.000000<;/>itemH=50.000000<;/>"
        L"nbCols=8<;/>nbRows=6<;/>borderL=5.000000<;/>borderT=5.000000<;/>borderR=5.000000"
        L"<;/>borderB=5.000000<;/>spaceW=3.500000<;/>spaceH=2.500000<;/>textHeight=20.000000"
        L"<;/>bkColor='#ffffffff'<;/>textColor='#000000ff'";
    DocHandle document = Sheet(mail, Bundle(Pictures(50)));
    ASSERT_NE(document, kDocNoHandle);
    EXPECT_EQ(Property(document, L"count(page)"), L"2");
    EXPECT_EQ(Property(document, L"count(page[1]/item[@kind='text'])"), L"48") << "a basic line per picture";
    EXPECT_EQ(Property(document, L"page[1]/item[2]/property[@name='text']/attr[@name='font-family']"),
              L"Arial");
    const std::wstring design = L"pageW=100<;/>pageH=100<;/>itemW=40<;/>itemH=40<;/>nbCols=2<;/>nbRows=2<;/>"
                                L"bkColor='#000000ff'<;/>";
    document = Sheet(design, Bundle(Pictures(3)));
    ASSERT_NE(document, kDocNoHandle);
    EXPECT_EQ(Property(document, L"count(page/item)"), L"3");
    // A grid of no cells makes a page without pictures, never a division by zero.
    document =
        Sheet(L"pageW=100<;/>pageH=100<;/>itemW=40<;/>itemH=40<;/>nbCols=0<;/>nbRows=2", Bundle(Pictures(3)));
    ASSERT_NE(document, kDocNoHandle);
    EXPECT_EQ(Property(document, L"count(page/item)"), L"0");
}

TEST_F(SheetResourceTest, ImprintsFollowPicturesInDocumentOrderAndSkipUnknownSizes) {
    const DocHandle document = Sheet(SheetParameters(), Bundle(Pictures(47)));
    ASSERT_NE(document, kDocNoHandle);
    // 46 entries: picture 2 is 0 wide, picture 47 has none. Picture 1 is 400 x 300 in a 448.08 x 336.9 box.
    std::wstring entries = L"400,300,2026-12-09 10:00;0,300,never;";
    for (int k = 3; k <= 46; ++k)
        entries += L"300,400,it's #" + std::to_wstring(k) + L" & $;";
    const std::wstring parameters = L"arrImprintsInfo='" + entries +
                                    L"'<;/>fontName='Arial'<;/>fontHeight=20<;/>italic=0<;/>bold=0<;/>"
                                    L"textColor='#ff0000ff'";
    ASSERT_EQ(docApplyTransform(document, Resource("Imprints.xslt").c_str(), parameters.c_str()), 1);
    EXPECT_EQ(Property(document, L"count(//item[metadata/property = 'imprint'])"), L"45");
    EXPECT_EQ(Property(document, L"page[1]/item[2]/content/text"), L"2026-12-09 10:00");
    EXPECT_EQ(Property(document, L"page[1]/item[3]/content/image"), L"5001") << "no imprint for picture 2";
    EXPECT_EQ(Property(document, L"page[2]/item[2]/content/text"), L"it's #46 & $");
    EXPECT_EQ(Property(document, L"count(page[2]/item)"), L"3") << "picture 47 has no entry";
    // Picture 1 fits by width scale 448.076923 / 400: 336.057692 high, centred; the imprint is the bottom
    // line of it, 20 high.
    const double fittedHeight = 300 * 448.076923 / 400;
    EXPECT_NEAR(Number(document, L"page[1]/item[2]/bounding-box/@y"),
                75 + (336.899942 + fittedHeight) / 2 - 20, 1e-5);
    EXPECT_NEAR(Number(document, L"page[1]/item[2]/bounding-box/@cx"), 448.076923, 1e-5);
    // Picture 3 (portrait, no turning) fits by height: 336.9 x 3 / 4 wide.
    EXPECT_NEAR(Number(document, L"page[1]/item[5]/bounding-box/@cx"), 336.899942 * 0.75, 1e-5);
    EXPECT_EQ(Property(document, L"page[1]/item[5]/property[@name='text']/attr[@name='color']"),
              L"#ff0000ff");
}

// The page buttons' faces, as the dialog's ids order them: an arrow pointing to its page (darker than the
// face round it, inside the frame), a look of its own for every state, and grey only when disabled.
TEST(PageButtonFaces, ArrowsPointToTheirPageAndEveryStateLooksItsOwn) {
    ASSERT_EQ(iproStartup(), 1);
    std::vector<IproPixels> faces;
    for (UINT id : CPrintDlg::kButtonImages) {
        std::unique_ptr<TiProImage> image(TiProImage::CreateFromFile(
            Wide(std::string(KV_PRINT_RESOURCE_DIR) + "/print" + std::to_string(id) + ".png").c_str()));
        ASSERT_NE(image, nullptr) << id;
        faces.push_back(rendertest::PixelsOf(image->GetHandle()));
        image->Release();
    }
    iproShutdown();
    const auto luma = [](std::uint32_t p) { return (p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF); };
    for (std::size_t k = 0; k < faces.size(); ++k) {
        const IproPixels& face = faces[k];
        ASSERT_EQ(face.width, 16) << k;
        // The arrow: inner pixels darker than halfway between the inner darkest and lightest.
        std::uint32_t darkest = 3 * 255, lightest = 0;
        for (LONG y = 1; y < 15; ++y)
            for (LONG x = 1; x < 15; ++x) {
                darkest = std::min(darkest, luma(face.At(x, y)));
                lightest = std::max(lightest, luma(face.At(x, y)));
            }
        std::vector<int> column(16, 0); // arrow pixels per column
        int coloured = 0;
        for (LONG y = 0; y < 16; ++y)
            for (LONG x = 0; x < 16; ++x) {
                const std::uint32_t p = face.At(x, y);
                coloured += (p >> 16 & 0xFF) != (p & 0xFF);
                column[x] += x > 0 && x < 15 && y > 0 && y < 15 && luma(p) < (darkest + lightest) / 2;
            }
        const auto first = std::find_if(column.begin(), column.end(), [](int n) { return n > 0; });
        const auto last = std::find_if(column.rbegin(), column.rend(), [](int n) { return n > 0; });
        ASSERT_NE(first, column.end()) << k;
        const bool previous = k < 4, disabled = k == 3 || k == 7;
        EXPECT_GE(last.base() - first, 6) << k << ": an arrow, not a dot";
        EXPECT_EQ(*first < *last, previous) << k << ": the arrow's point is on its page's side";
        EXPECT_EQ(coloured == 0, disabled) << k;
        for (std::size_t j = (k / 4) * 4; j < k; ++j)
            EXPECT_NE(faces[j].argb, face.argb) << j << " and " << k;
    }
}

} // namespace

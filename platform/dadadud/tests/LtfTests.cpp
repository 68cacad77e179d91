#include "DocProperty.h"
#include "platform/dadadud/DadaDud.h"
#include "platform/dadadud/DadaDudTest.h"

#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& text) {
    return Utf::Utf8ToWide(text);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A template of one cluster with the slots, on one page: per slot a picture item and a caption item of
// the kind, and a fixed title item without references.
std::string Template(int slots, const std::string& kind = "basic") {
    std::string text = "<?xml version='1.0' encoding='utf-8' ?><template><property name='font'>"
                       "<attr name='font-size'>20</attr></property><cluster id='1'><dynObjects>";
    for (int i = 0; i < slots; ++i)
        text += "<mm-object id='" + std::to_string(i) + "' type='image'/>";
    text +=
        "</dynObjects><page id='9' cx='2480' cy='3508'><property name='background'><attr name='color'>"
        "#dcdcdcff</attr></property><item id='100' kind='text'><bounding-box x='0' y='0' cx='10' cy='10'/>"
        "<content><text>Title</text></content></item>";
    for (int i = 0; i < slots; ++i) {
        const std::string n = std::to_string(i);
        text += "<item id='" + std::to_string(2 * i + 1) + "'><bounding-box x='" + n +
                "' y='0' cx='1' cy='1'/><content><image mime-type='image/jpeg'>#" + n +
                "/content</image></content></item><item id='" + std::to_string(2 * i + 2) +
                "'><bounding-box x='" + n + "' y='1' cx='1' cy='1'/><content><text>#" + n + "/caption/" +
                kind + "</text></content></item>";
    }
    return text + "</page></cluster></template>";
}

// Objects with ids 1000 + k and a basic caption "name k".
std::string Bundle(int count) {
    std::string text = "<?xml version='1.0' encoding='utf-8'?><bundle>";
    for (int k = 0; k < count; ++k)
        text += "<object id='" + std::to_string(k) + "'><content>" + std::to_string(1000 + k) +
                "</content><caption kind='basic'>name " + std::to_string(k) + "</caption></object>";
    return text + "</bundle>";
}

class LayoutTemplates : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(docStartup(), 1); }
    void TearDown() override {
        EXPECT_EQ(docShutdown(), 1);
        EXPECT_EQ(DadaDudTest::LiveHandles(), 0u);
    }

    // The filled document, or kDocNoHandle.
    DocHandle Fill(const std::string& ltf, const std::string& bundle) {
        const std::wstring ltfPath = Wide(m_folder.Write("sheet_ltf.xml", ltf));
        const std::wstring bundlePath = Wide(m_folder.Write("bndl.xml", bundle));
        DocHandle document = 7;
        if (docCreateDocumentFromLTF(ltfPath.c_str(), bundlePath.c_str(), &document) != 1) {
            EXPECT_EQ(document, kDocNoHandle);
            return kDocNoHandle;
        }
        return document;
    }
    LONG Pages(DocHandle document) {
        LONG pages = -1;
        EXPECT_EQ(docGetDocNbPages(document, &pages), 1);
        return pages;
    }

    kvtest::TempFolder m_folder;
};

TEST_F(LayoutTemplates, ClustersRepeatOncePerGroupOfObjectsAndPagesAreNumberedFromOne) {
    for (int objects : {1, 45, 46, 2500}) {
        const DocHandle document = Fill(Template(45), Bundle(objects));
        ASSERT_NE(document, kDocNoHandle) << objects;
        const LONG pages = Pages(document);
        EXPECT_EQ(pages, (objects + 44) / 45) << objects;
        EXPECT_EQ(Property(document, L"count(page[@id = position()])"), std::to_wstring(pages));
        // The last page holds the title and two items for each object left over.
        const int last = objects - (pages - 1) * 45;
        EXPECT_EQ(Property(document, L"count(page[last()]/item)"), std::to_wstring(1 + 2 * last)) << objects;
        EXPECT_EQ(Property(document, L"page[last()]/item[last()]/content/text"),
                  L"name " + std::to_wstring(objects - 1));
        EXPECT_EQ(Property(document, L"property[@name='font']/attr"), L"20");
        EXPECT_EQ(docReleaseHandle(document), 1);
    }
}

TEST_F(LayoutTemplates, InstanceKBindsObjectsFromKTimesTheSlots) {
    const DocHandle document = Fill(Template(3), Bundle(7));
    ASSERT_NE(document, kDocNoHandle);
    ASSERT_EQ(Pages(document), 3);
    for (LONG k = 0; k < 3; ++k) {
        DocHandle page = kDocNoHandle;
        ASSERT_EQ(docGetPageByIndex(document, k, &page), 1);
        EXPECT_EQ(Property(page, L"@id"), std::to_wstring(k + 1));
        for (LONG slot = 0; slot < 3 && 3 * k + slot < 7; ++slot) {
            DocHandle picture = kDocNoHandle, caption = kDocNoHandle;
            ASSERT_EQ(docGetItem(page, 1 + 2 * slot, &picture), 1);
            ASSERT_EQ(docGetItem(page, 2 + 2 * slot, &caption), 1);
            EXPECT_EQ(Property(picture, L"content/image[@refType='NUID']"),
                      std::to_wstring(1000 + 3 * k + slot));
            EXPECT_EQ(Property(picture, L"@kind"), L"image");
            EXPECT_EQ(Property(picture, L"count(content/image/@mime-type)"), L"0");
            EXPECT_EQ(Property(caption, L"content/text"), L"name " + std::to_wstring(3 * k + slot));
            EXPECT_EQ(Property(caption, L"@kind"), L"text");
        }
    }
    EXPECT_EQ(Property(document, L"page[3]/property[@name='background']/attr"), L"#dcdcdcff");
    EXPECT_EQ(Property(document, L"count(page[3]/item)"), L"3") << "title and object 6 only";
}

TEST_F(LayoutTemplates, ReferencesToMissingCaptionsDropTheirItems) {
    const DocHandle document = Fill(Template(2, "detailed"), Bundle(2));
    ASSERT_NE(document, kDocNoHandle);
    EXPECT_EQ(Property(document, L"count(page/item)"), L"3");
    EXPECT_EQ(Property(document, L"count(page/item/content/text)"), L"1") << "only the title";
}

TEST_F(LayoutTemplates, ClustersWithoutSlotsAreMadeOnceAndEmptyBundlesGiveNoRepeatedPages) {
    const std::string cover =
        "<template><cluster id='1'><page id='5' cx='10' cy='10'/></cluster>"
        "<cluster id='2'><dynObjects><mm-object id='0'/></dynObjects>"
        "<page id='5' cx='10' cy='10'><item id='1'><bounding-box x='0' y='0' cx='1' cy='1'/>"
        "<content><image>#0/content</image></content></item></page></cluster></template>";
    DocHandle document = Fill(cover, Bundle(2));
    ASSERT_NE(document, kDocNoHandle);
    EXPECT_EQ(Pages(document), 3);
    EXPECT_EQ(Property(document, L"page[3]/@id"), L"3");
    document = Fill(cover, "<bundle/>");
    ASSERT_NE(document, kDocNoHandle);
    EXPECT_EQ(Pages(document), 1);
}

TEST_F(LayoutTemplates, MalformedOrForeignFilesGiveNoDocument) {
    const std::string good = Template(1);
    const struct {
        const char* what;
        std::string ltf;
        std::string bundle;
    } cases[] = {
        {"template not well-formed", "<template><cluster>", Bundle(1)},
        {"bundle not well-formed", good, "<bundle><object>"},
        {"template of another root", "<ldf version='1'/>", Bundle(1)},
        {"bundle of another root", good, "<objects/>"},
        {"template with a document type",
         "<!DOCTYPE template [<!ENTITY x SYSTEM 'file:///etc/passwd'>]><template>&x;</template>", Bundle(1)},
        {"bundle with a document type", good, "<!DOCTYPE bundle SYSTEM 'http://127.0.0.1:9/b.dtd'><bundle/>"},
        {"empty template", "", Bundle(1)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Fill(c.ltf, c.bundle), kDocNoHandle) << c.what;
    DocHandle document = 3;
    EXPECT_EQ(docCreateDocumentFromLTF(Wide(m_folder.File("none.xml")).c_str(),
                                       Wide(m_folder.File("none.xml")).c_str(), &document),
              0);
    EXPECT_EQ(document, kDocNoHandle);
    EXPECT_EQ(docCreateDocumentFromLTF(nullptr, nullptr, &document), 0);
}

TEST_F(LayoutTemplates, FillingsTooLargeToHoldAreRefused) {
    // A page of one megabyte of text made once per object: 300 copies are more than the library holds.
    const std::string heavy =
        "<template><cluster><dynObjects><mm-object id='0'/></dynObjects><page cx='1' cy='1'>"
        "<metadata><property name='note'>" +
        std::string(1 << 20, 'x') + "</property></metadata></page></cluster></template>";
    EXPECT_EQ(Fill(heavy, Bundle(300)), kDocNoHandle);
    const DocHandle document = Fill(heavy, Bundle(3));
    ASSERT_NE(document, kDocNoHandle);
    EXPECT_EQ(Pages(document), 3);
}

TEST_F(LayoutTemplates, AFilledDocumentSavesAndReloadsByteForByte) {
    const DocHandle document = Fill(Template(2), Bundle(3));
    ASSERT_NE(document, kDocNoHandle);
    const std::string first = m_folder.File("first.ldf"), second = m_folder.File("second.ldf");
    ASSERT_EQ(docSaveLDF(document, Wide(first).c_str()), 1);
    DocHandle reloaded = kDocNoHandle;
    ASSERT_EQ(docCreateDocumentFromLDF(Wide(first).c_str(), &reloaded), 1);
    ASSERT_EQ(docSaveLDF(reloaded, Wide(second).c_str()), 1);
    EXPECT_EQ(ReadAll(first), ReadAll(second));
    EXPECT_EQ(Property(reloaded, L"page[2]/item[3]/content/text"), L"name 2");
}

// A data source of the text's wide characters; kDocNoHandle when it is refused.
DocHandle TextSource(const std::wstring& text) {
    DocHandle source = kDocNoHandle;
    return docCreateDataSource2(text.c_str(), static_cast<LONG>(text.size()), &source) == 1 ? source
                                                                                            : kDocNoHandle;
}

TEST_F(LayoutTemplates, DataSourcesFillLikeTheirFilesAndMayGoRightAfter) {
    const DocHandle fromFiles = Fill(Template(3), Bundle(7));
    ASSERT_NE(fromFiles, kDocNoHandle);
    // The template in memory declares UTF-16, as the modules' texts do; the bundle is read as stored, in
    // UTF-16 with its byte-order mark.
    std::wstring ltfText = Wide(Template(3));
    ltfText.replace(ltfText.find(L"utf-8"), 5, L"utf-16");
    std::vector<std::uint8_t> stored{0xFF, 0xFE};
    std::string bundleText = Bundle(7);
    bundleText.replace(bundleText.find("utf-8"), 5, "UTF-16");
    const std::wstring wideBundle = Wide(bundleText);
    Utf::AppendUtf16LE(stored, std::u16string(wideBundle.begin(), wideBundle.end()));
    DocHandle bundleSource = kDocNoHandle;
    ASSERT_EQ(docCreateDataSource(Wide(m_folder.Write("bndl.xml", stored)).c_str(), &bundleSource), 1);
    const DocHandle ltfSource = TextSource(ltfText);
    ASSERT_NE(ltfSource, kDocNoHandle);

    DocHandle document = kDocNoHandle;
    ASSERT_EQ(docCreateDocumentFromLTF2(ltfSource, bundleSource, &document), 1);
    EXPECT_EQ(docReleaseHandle(ltfSource), 1);
    EXPECT_EQ(docReleaseHandle(bundleSource), 1);
    const std::string fromSources = m_folder.File("sources.ldf"), fromFile = m_folder.File("files.ldf");
    ASSERT_EQ(docSaveLDF(document, Wide(fromSources).c_str()), 1);
    ASSERT_EQ(docSaveLDF(fromFiles, Wide(fromFile).c_str()), 1);
    EXPECT_EQ(ReadAll(fromSources), ReadAll(fromFile));
    EXPECT_EQ(Pages(document), 3);
    EXPECT_EQ(Property(document, L"page[3]/item[2]/content/image[@refType='NUID']"), L"1006");
}

TEST_F(LayoutTemplates, TwoSourcesGiveNoDocumentUnlessBothAreSourcesOfTheirKind) {
    const DocHandle ltf = TextSource(Wide(Template(1)));
    const DocHandle bundle = TextSource(Wide(Bundle(2)));
    const DocHandle broken = TextSource(L"<bundle><object>");
    const DocHandle document = Fill(Template(1), Bundle(2));
    ASSERT_TRUE(ltf != kDocNoHandle && bundle != kDocNoHandle && broken != kDocNoHandle &&
                document != kDocNoHandle);
    DocHandle released = TextSource(Wide(Bundle(1)));
    ASSERT_EQ(docReleaseHandle(released), 1);
    const struct {
        const char* what;
        DocHandle first;
        DocHandle second;
    } cases[] = {
        {"in the other order", bundle, ltf},
        {"a bundle not well-formed", ltf, broken},
        {"a document for the template", document, bundle},
        {"a document for the bundle", ltf, document},
        {"a released source", ltf, released},
        {"no handle", kDocNoHandle, bundle},
    };
    for (const auto& c : cases) {
        DocHandle out = 77;
        EXPECT_EQ(docCreateDocumentFromLTF2(c.first, c.second, &out), 0) << c.what;
        EXPECT_EQ(out, kDocNoHandle) << c.what;
    }
    EXPECT_EQ(docCreateDocumentFromLTF2(ltf, bundle, nullptr), 0);
    const std::size_t live = DadaDudTest::LiveHandles();
    for (DocHandle handle : {ltf, bundle, broken, document})
        EXPECT_EQ(docReleaseHandle(handle), 1);
    EXPECT_EQ(live, 4u) << "a refused filling holds no handle";
}

// Adds an attribute to every page, or, with the name "fail", calls an unknown function.
std::wstring MarkPages(const std::string& extra = "") {
    return Wide(
        "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
        "<xsl:param name='mark' select=\"'none'\"/>"
        "<xsl:template match='@*|node()'><xsl:copy><xsl:apply-templates select='@*|node()'/></xsl:copy>"
        "</xsl:template><xsl:template match='page'><xsl:copy><xsl:attribute name='mark'>"
        "<xsl:value-of select='$mark'/></xsl:attribute><xsl:apply-templates select='@*|node()'/>" +
        extra + "</xsl:copy></xsl:template></xsl:stylesheet>");
}

TEST_F(LayoutTemplates, TransformsReplaceTheDocumentUnderItsHandleOrLeaveItAsItWas) {
    const DocHandle document = Fill(Template(1), Bundle(2));
    ASSERT_NE(document, kDocNoHandle);
    DocHandle oldPage = kDocNoHandle;
    ASSERT_EQ(docGetPageByIndex(document, 0, &oldPage), 1);

    ASSERT_EQ(docApplyTransform(document, MarkPages().c_str(), L"mark='it''s & $5'<;/>"), 1);
    EXPECT_EQ(Property(document, L"page[2]/@mark"), L"it''s & $5");
    EXPECT_EQ(Pages(document), 2);
    EXPECT_EQ(Property(oldPage, L"@id"), L"1") << "a page taken before still reads";

    const std::wstring failing[] = {
        MarkPages("<xsl:value-of select='unknown-function()'/>"),
        Wide("<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
             "<xsl:template match='/'><other/></xsl:template></xsl:stylesheet>"),
        Wide("<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
             "<xsl:template match='/'><xsl:copy-of select=\"document('/etc/hostname')\"/></xsl:template>"
             "</xsl:stylesheet>"),
        L"not a stylesheet",
    };
    for (const std::wstring& stylesheet : failing) {
        EXPECT_EQ(docApplyTransform(document, stylesheet.c_str(), L""), 0);
        EXPECT_EQ(Property(document, L"page[1]/@mark"), L"it''s & $5");
        EXPECT_EQ(Pages(document), 2);
    }
    EXPECT_EQ(docApplyTransform(oldPage, MarkPages().c_str(), L""), 0) << "a page is no document";
    EXPECT_EQ(docApplyTransform(document, nullptr, L""), 0);
    ASSERT_EQ(docReleaseHandle(document), 1);
    EXPECT_EQ(docApplyTransform(document, MarkPages().c_str(), L""), 0) << "a released handle";
    EXPECT_EQ(docReleaseHandle(oldPage), 1);
}

} // namespace

namespace {

// The file's UTF-16 text after its byte-order mark.
std::wstring SavedText(const std::string& path) {
    const std::string bytes = ReadAll(path);
    if (bytes.size() < 2)
        return {};
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return Utf::Utf16ToWide(Utf::Utf16FromLEBytes(data + 2, bytes.size() - 2));
}

} // namespace

TEST_F(LayoutTemplates, PictureBundlesGiveTheirContentAndCaptionPropertiesInOrder) {
    const std::string bundle =
        "<bundle><mm-object mime-type='image/NUID'><property name='content' refType='NUID'>77</property>"
        "<property name='Basic'>first</property></mm-object><object><content>78</content>"
        "<caption kind='basic'>second</caption></object><mm-object mime-type='image/NUID'>"
        "<property name='content' refType='NUID'>79</property><property name='Detailed'>x</property>"
        "</mm-object></bundle>";
    const DocHandle document = Fill(Template(3), bundle);
    ASSERT_NE(document, kDocNoHandle);
    EXPECT_EQ(Property(document, L"page[1]/item[2]/content/image[@refType='NUID']"), L"77");
    EXPECT_EQ(Property(document, L"page[1]/item[3]/content/text"), L"first");
    EXPECT_EQ(Property(document, L"page[1]/item[4]/content/image[@refType='NUID']"), L"78");
    EXPECT_EQ(Property(document, L"page[1]/item[6]/content/image[@refType='NUID']"), L"79");
    EXPECT_EQ(Property(document, L"count(page[1]/item)"), L"6") << "the third has no basic caption";
}

TEST_F(LayoutTemplates, AStoredLayoutTextReopensAsTheSameDocument) {
    std::string ltf = Template(2);
    ltf.replace(ltf.find("Title"), 5, "T\xc3\xaftre \xe2\x82\xac");
    const DocHandle filled = Fill(ltf, Bundle(3));
    ASSERT_NE(filled, kDocNoHandle);
    const std::string first = m_folder.File("first.ldf"), second = m_folder.File("second.ldf");
    ASSERT_EQ(docSaveLDF(filled, Wide(first).c_str()), 1);
    const std::wstring text = SavedText(first);
    ASSERT_NE(text.find(L"T\u00eftre \u20ac"), std::wstring::npos);
    const DocHandle source = TextSource(text);
    DocHandle reopened = 7;
    ASSERT_EQ(docCreateDocumentFromLDF2(source, &reopened), 1);
    EXPECT_EQ(docReleaseHandle(source), 1) << "the source may go right after";
    ASSERT_EQ(docSaveLDF(reopened, Wide(second).c_str()), 1);
    EXPECT_EQ(ReadAll(first), ReadAll(second));
    EXPECT_EQ(Pages(reopened), 2);
}

#include "design_module/TTemplateList.h"

#include "platform/davuzozi/davuzOzi.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

namespace {

class TemplateList : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(utlStartup(), 1); }
    void TearDown() override { utlShutdown(); }

    TFilePath Folder(const std::string& path) const {
        TFilePath folder;
        folder.Set(TString(path.c_str()));
        return folder;
    }
    static std::string Template(const std::string& description) {
        return "<layout><metadata><property name=\"other\">x</property><property "
               "name=\"template_description\">" +
               description + "</property></metadata></layout>";
    }

    kvtest::TempFolder m_temp;
};

TEST_F(TemplateList, ListsXmlFilesInAnyCaseSortedWithoutRegardToCase) {
    m_temp.Write("b.XML", Template("Bee"));
    m_temp.Write("A.xml", Template("Ay"));
    m_temp.Write("c.xml", "<layout/>");
    m_temp.Write("broken.Xml", "<layout");
    m_temp.Write("notes.txt", Template("never"));
    m_temp.Write("xml", Template("no extension"));
    TTemplateList list;
    ASSERT_TRUE(list.Load(Folder(m_temp.Path())));
    ASSERT_EQ(list.GetCount(), 4);
    const char* names[] = {"A.xml", "b.XML", "broken.Xml", "c.xml"};
    const wchar_t* descriptions[] = {L"Ay", L"Bee", L"", L""};
    for (int i = 0; i < 4; ++i) {
        const std::wstring path(list.GetPath(i));
        const std::string expected = m_temp.Path() + "/" + names[i];
        EXPECT_EQ(path, std::wstring(expected.begin(), expected.end()));
        EXPECT_EQ(std::wstring(list.GetDescription(i)), descriptions[i]) << i;
    }
    EXPECT_EQ(list.Find(list.GetPath(2)), 2);
    EXPECT_EQ(list.Find(L"/elsewhere/A.xml"), -1);
    EXPECT_TRUE(list.GetPath(4).IsEmpty());
    EXPECT_TRUE(list.GetDescription(-1).IsEmpty());
}

TEST_F(TemplateList, AMissingFolderFailsAndEmptiesTheList) {
    m_temp.Write("a.xml", Template("Ay"));
    TTemplateList list;
    ASSERT_TRUE(list.Load(Folder(m_temp.Path() + "/")));
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_FALSE(list.Load(Folder(m_temp.Path() + "/missing")));
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_FALSE(list.Load(Folder(m_temp.File("a.xml")))) << "a file is no folder";
}

} // namespace

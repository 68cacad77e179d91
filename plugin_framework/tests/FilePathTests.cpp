#include "plugin_framework/FileData.h"
#include "plugin_framework/TFilePath.h"

#include "platform/win/WinSeams.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Narrow(const TString& text) {
    return std::string(TStringA(static_cast<const wchar_t*>(text)));
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

class ModuleTempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        WinSeams::SetTempBase(m_base.Path());
        m_folder = m_base.Path() + "/Korvel-" + std::to_string(geteuid()) + "/Korvel/Test plugin/";
    }
    void TearDown() override { WinSeams::ResetAll(); }

    std::string Unique(const wchar_t* base, const wchar_t* extension) {
        TFilePath location;
        if (!MakeUniqueFileName(base, extension, location))
            return "(failed)";
        return Narrow(location.GetPath());
    }
    void Touch(const std::string& name) {
        TFilePath folder;
        ASSERT_TRUE(GetPluginTempFolder(folder));
        std::ofstream(m_folder + name) << "x";
    }
    static std::string Numbered(int n) {
        char name[32];
        std::snprintf(name, sizeof(name), "tmp_%03d.png", n);
        return name;
    }

    kvtest::TempFolder m_base;
    std::string m_folder;
};

TEST_F(ModuleTempFolder, LiesInKorvelUnderThePerUserRoot) {
    TFilePath folder;
    ASSERT_TRUE(GetPluginTempFolder(folder));
    EXPECT_EQ(Narrow(folder.GetPath()), m_folder);
    EXPECT_TRUE(folder.IsFolder());
    WinSeams::SetTempBase(m_base.Path() + "/");
    ASSERT_TRUE(GetPluginTempFolder(folder));
    EXPECT_EQ(Narrow(folder.GetPath()), m_folder)
        << "a root that ends with a separator gives the same folder";
}

TEST_F(ModuleTempFolder, RefusedRootMakesEveryTemporaryOperationFail) {
    ASSERT_EQ(symlink("/tmp", (m_base.Path() + "/Korvel-" + std::to_string(geteuid())).c_str()), 0);
    TFilePath folder;
    EXPECT_FALSE(GetPluginTempFolder(folder));
    EXPECT_FALSE(MakePluginTempFileLocation(L"a.txt", folder));
    EXPECT_EQ(Unique(L"tmp", L"png"), "(failed)");
}

TEST_F(ModuleTempFolder, UniqueNamesRunThroughTheNumberedSequence) {
    EXPECT_EQ(Unique(L"tmp", L"png"), m_folder + "tmp.png");
    EXPECT_EQ(Unique(L"tmp", L"png"), m_folder + "tmp_001.png")
        << "the first name is taken by the first call";
    EXPECT_EQ(Unique(L"tmp", L"png"), m_folder + "tmp_002.png");
    struct stat info {};
    ASSERT_EQ(stat((m_folder + "tmp_002.png").c_str(), &info), 0) << "a name is handed out as a claimed file";
    EXPECT_EQ(info.st_size, 0);
    for (int n = 3; n <= 999; ++n)
        Touch(Numbered(n));
    EXPECT_EQ(Unique(L"tmp", L"png"), m_folder + "tmp_1000.png");
}

TEST_F(ModuleTempFolder, WhenEveryNumberIsTakenNumberZeroIsClaimedAndItsOwnFileReused) {
    Touch("tmp.png");
    for (int n = 1; n <= 1000; ++n)
        Touch(Numbered(n));
    EXPECT_EQ(Unique(L"tmp", L"png"), m_folder + "tmp_000.png");
    std::ofstream(m_folder + "tmp_000.png") << "written into the claimed file";
    EXPECT_EQ(Unique(L"tmp", L"png"), m_folder + "tmp_000.png");
    struct stat info {};
    ASSERT_EQ(stat((m_folder + "tmp_000.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0) << "the old content of the module's own file is gone";
}

std::string Content(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(ModuleTempFolder, NumberZeroThatTheModuleDidNotMakeIsNeverRemoved) {
    struct Case {
        const char* what;
        bool claimedFirst;    // the module claimed tmp_000.png before the file below took its place
        const char* existing; // the file that is there when every other name is taken
    };
    for (const Case& c : {Case{"made by someone else", false, "tmp_000.png"},
                          Case{"found only by the case-insensitive match", false, "TMP_000.PNG"},
                          Case{"put in place of the module's own", true, "tmp_000.png"}}) {
        SCOPED_TRACE(c.what);
        kvtest::TempFolder base;
        WinSeams::SetTempBase(base.Path());
        m_folder = base.Path() + "/Korvel-" + std::to_string(geteuid()) + "/Korvel/Test plugin/";
        Touch("tmp.png");
        for (int n = 1; n <= 1000; ++n)
            Touch(Numbered(n));
        if (c.claimedFirst) {
            ASSERT_EQ(Unique(L"tmp", L"png"), m_folder + "tmp_000.png");
        }
        // Made aside and moved in, so that it is a file of its own even where the module's was.
        std::ofstream(m_folder + "aside") << "not the module's";
        ASSERT_EQ(rename((m_folder + "aside").c_str(), (m_folder + c.existing).c_str()), 0);
        EXPECT_EQ(Unique(L"tmp", L"png"), "(failed)");
        EXPECT_EQ(Content(m_folder + c.existing), "not the module's");
    }
}

TEST_F(ModuleTempFolder, NamesThatWouldLeaveTheFolderAreRefused) {
    struct Case {
        const wchar_t* base;
        const wchar_t* extension;
    };
    for (const Case& c :
         {Case{L"../tmp", L"png"}, Case{L"..", L"png"}, Case{L"a/b", L"png"}, Case{L"a\\b", L"png"},
          Case{L"tmp", L"png/x"}, Case{L"tmp", L"x\\png"}, Case{L"tmp", L"..png"}, Case{L"tmp..", L"png"}}) {
        SCOPED_TRACE(Narrow(TString(c.base) + L" . " + c.extension));
        EXPECT_EQ(Unique(c.base, c.extension), "(failed)");
    }
    EXPECT_FALSE(FileExists(m_base.Path() + "/Korvel-" + std::to_string(geteuid()) + "/Korvel/tmp.png"));
    EXPECT_EQ(Unique(L"tmp.v2", L"png"), m_folder + "tmp.v2.png") << "a single dot is part of a name";
}

TEST_F(ModuleTempFolder, ThreadsAskingForOneNameAllGetDifferentFiles) {
    kvtest::Watchdog watchdog("unique names from threads");
    constexpr int kThreads = 8;
    constexpr int kEach = 40;
    std::vector<std::vector<std::string>> names(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                names[t].push_back(Unique(L"tmpNoSelect", L"xml"));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::set<std::string> all;
    for (const auto& list : names) {
        for (const std::string& name : list) {
            EXPECT_NE(name, "(failed)");
            EXPECT_TRUE(FileExists(name)) << name;
            all.insert(name);
        }
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
}

TEST_F(ModuleTempFolder, JpgNamesContinueTheModulesCounter) {
    TFilePath folder;
    ASSERT_TRUE(GetPluginTempFolder(folder));
    Touch("a.jpg");
    Touch("a_0001.jpg");
    TFilePath source, location;
    source.Set(L"/photos/a.png");
    ASSERT_TRUE(MakeUniqueJpgLocation(source, location));
    EXPECT_EQ(Narrow(location.GetPath()), m_folder + "a_0002.jpg");
    Touch("b.jpg");
    source.Set(L"C:\\photos\\b.png");
    ASSERT_TRUE(MakeUniqueJpgLocation(source, location));
    EXPECT_EQ(Narrow(location.GetPath()), m_folder + "b_0003.jpg");
}

class FolderTree : public ::testing::Test {
protected:
    std::string Make(const std::string& relative) {
        const std::string path = m_root.Path() + "/" + relative;
        mkdir(path.c_str(), 0700);
        return path;
    }
    std::string Write(const std::string& relative) { return m_root.Write(relative, std::string("data")); }
    static TFilePath Location(const std::string& path) {
        TFilePath location;
        location.Set(TString(path.c_str()));
        return location;
    }

    kvtest::TempFolder m_root;
};

TEST_F(FolderTree, DeletionRemovesLinksWithoutFollowingThem) {
    kvtest::TempFolder outside;
    const std::string kept = outside.Write("keep.txt", std::string("precious"));
    const std::string tree = Make("tree");
    Make("tree/sub");
    Write("tree/a.txt");
    Write("tree/sub/b.txt");
    ASSERT_EQ(symlink(outside.Path().c_str(), (tree + "/sub/to-folder").c_str()), 0);
    ASSERT_EQ(symlink(kept.c_str(), (tree + "/to-file").c_str()), 0);
    ASSERT_EQ(symlink("/nowhere/at/all", (tree + "/dangling").c_str()), 0);

    EXPECT_TRUE(DeleteFolderTree(Location(tree + "/"), true));
    EXPECT_FALSE(FileExists(tree));
    EXPECT_TRUE(FileExists(kept));
    EXPECT_TRUE(FileExists(outside.Path()));
}

TEST_F(FolderTree, LocationThatIsALinkIsRemovedAsALink) {
    kvtest::TempFolder outside;
    const std::string kept = outside.Write("keep.txt", std::string("precious"));
    const std::string link = m_root.Path() + "/link";
    ASSERT_EQ(symlink(outside.Path().c_str(), link.c_str()), 0);
    const TFilePath location = Location(link);
    EXPECT_TRUE(location.IsFolder()) << "a link to a folder counts as a folder";
    EXPECT_TRUE(location.Delete());
    EXPECT_FALSE(FileExists(link));
    EXPECT_TRUE(FileExists(kept));
}

TEST_F(FolderTree, DeletionWithoutRecursionKeepsSubFoldersAndFails) {
    const std::string tree = Make("tree");
    Make("tree/sub");
    Write("tree/sub/b.txt");
    Write("tree/a.txt");
    EXPECT_FALSE(DeleteFolderTree(Location(tree), false));
    EXPECT_FALSE(FileExists(tree + "/a.txt"));
    EXPECT_TRUE(FileExists(tree + "/sub/b.txt"));
}

TEST_F(FolderTree, ListingByExtensionIgnoresCaseAndGivesBareNames) {
    Write("one.XSL");
    Write("two.xsl");
    Write("three.xml");
    Write("noextension");
    Make("folder.xsl");
    std::vector<TString> names;
    EXPECT_TRUE(ListFilesByExtension(Location(m_root.Path() + "/"), L"xsl", names));
    std::vector<std::string> narrow;
    for (const TString& name : names)
        narrow.push_back(Narrow(name));
    std::sort(narrow.begin(), narrow.end());
    EXPECT_EQ(narrow, (std::vector<std::string>{"folder.xsl", "one.XSL", "two.xsl"}));
}

TEST(Paths, SplitAtEitherSeparator) {
    EXPECT_EQ(Narrow(GetFolderPart(L"C:\\photos/2004\\a.jpg")), "C:\\photos/2004\\");
    EXPECT_EQ(Narrow(GetFileName(L"Module\\KvtDesignLang.dll")), "KvtDesignLang.dll");
    EXPECT_EQ(Narrow(GetFileName(L"a.jpg")), "a.jpg");
    EXPECT_EQ(Narrow(GetFolderPart(L"a.jpg")), "");
    TFilePath location;
    TString name;
    location.Set(L"plain");
    EXPECT_FALSE(location.GetFileName(name));
    location.Set(L"/x/y.png");
    EXPECT_TRUE(location.GetFileName(name));
    EXPECT_EQ(Narrow(name), "y.png");
    EXPECT_EQ(TFilePath().GetKind(), -1);
    EXPECT_EQ(Narrow(TFilePath().GetPath()), "");
}

TEST(Paths, CombineResolvesDotsAgainstTheBase) {
    EXPECT_EQ(Narrow(CombinePath(L"../../a.jpg", L"/x/y/z/")), "/x/a.jpg");
    EXPECT_EQ(Narrow(CombinePath(L"./a.jpg", L"/x/y/z/")), "/x/y/z/a.jpg");
    EXPECT_EQ(Narrow(CombinePath(L"a.jpg", L"/x/y/z/")), "/x/y/z/a.jpg");
    EXPECT_EQ(Narrow(CombinePath(L"../../../../a.jpg", L"x/y/")), "");
}

TEST(Paths, RelativeExtensionsAndFileUrls) {
    EXPECT_TRUE(IsRelativePath(L"photos/a.jpg"));
    EXPECT_FALSE(IsRelativePath(L"C:\\a.jpg"));
    EXPECT_FALSE(IsRelativePath(L"/a.jpg"));
    EXPECT_FALSE(IsRelativePath(L""));
    EXPECT_EQ(Narrow(GetExtension(L"a.b.tiff")), "tiff");
    EXPECT_EQ(Narrow(GetExtension(static_cast<const wchar_t*>(L"none"))), "");
    EXPECT_EQ(Narrow(FileUrlToPath(L"file://C:/photos/a.jpg")), "C:/photos/a.jpg");
    EXPECT_EQ(Narrow(PathToFileUrl(L"C:/photos/a.jpg")), "file:///C:/photos/a.jpg");
    EXPECT_EQ(Narrow(PathToFileUrl(L"/photos/a.jpg")), "file:///photos/a.jpg");
    EXPECT_EQ(Narrow(FileUrlToPath(PathToFileUrl(L"/photos/a.jpg"))), "/photos/a.jpg");
    EXPECT_EQ(Narrow(PathToFileUrl(L"http://host/a.jpg")), "http://host/a.jpg");
}

} // namespace

#include "platform/win/WinKernel.h"
#include "platform/win/WinModule.h"
#include "platform/win/WinResources.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kCompiled = std::string(KV_TEST_LIBRARY_DIR) + "/WinTestLib.so";
const std::string kManifest = std::string(KV_TEST_RESOURCE_DIR) + "/WinTestLib.kvrc";

std::string Text(HMODULE module, UINT id) {
    char text[256];
    const int length = LoadStringA(module, id, text, sizeof text);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : "<none>";
}

std::string Data(HMODULE module, WORD id, const wchar_t* type) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found)
        return "<none>";
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return std::string(bytes, SizeofResource(module, found));
}

TEST(WinResourceFile, TheManifestAsTextHasTheResourcesItsCompiledLibraryHas) {
    HMODULE compiled = LoadLibraryExA(kCompiled.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
    HMODULE text = LoadLibraryExA(kManifest.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(compiled, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_NE(compiled, text);
    for (UINT id : {1u, 2u, 3u, 1084u, 99u})
        EXPECT_EQ(Text(text, id), Text(compiled, id)) << "string " << id;
    EXPECT_EQ(Text(text, 3), "tab\there\nnext line \\ done");
    struct Resource {
        WORD id;
        const wchar_t* type;
    };
    for (const Resource& r : {Resource{10, L"XML"}, Resource{11, L"XSLT"}, Resource{12, RT_BITMAP},
                              Resource{13, RT_RCDATA}, Resource{10, RT_RCDATA}})
        EXPECT_EQ(Data(text, r.id, r.type), Data(compiled, r.id, r.type)) << "resource " << r.id;
    EXPECT_EQ(Data(text, 10, L"xml"), "<a>1234</a");

    char path[1024];
    ASSERT_GT(GetModuleFileNameA(text, path, sizeof path), 0u);
    EXPECT_EQ(std::string(path), kManifest);
    EXPECT_EQ(GetProcAddress(text, "KvwResources"), nullptr) << "a resource file has no code";
    EXPECT_TRUE(FreeLibrary(text));
    EXPECT_TRUE(FreeLibrary(compiled));
}

TEST(WinResourceFile, LoadsAreCountedAndAFreedFileIsGone) {
    kvtest::TempFolder folder;
    const std::string file =
        folder.Write("KvtLang.so", std::string("# texts\nstring 31205 http://127.0.0.1:1/v1\n"));
    HMODULE first = LoadLibraryExA((folder.Path() + "\\kvtlang.DLL").c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
    HMODULE second = LoadLibraryExA(file.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(first, nullptr) << "'\\', \".dll\" and letter case map as for libraries";
    EXPECT_EQ(first, second);
    EXPECT_EQ(Text(first, 31205), "http://127.0.0.1:1/v1");
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(Text(first, 31205), "http://127.0.0.1:1/v1") << "still loaded once";
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(Text(first, 31205), "<none>");
    EXPECT_FALSE(FreeLibrary(first));
}

TEST(WinResourceFile, OnlyADataFileLoadMayBeText) {
    kvtest::TempFolder folder;
    const std::string good = folder.Write("good.so", std::string("string 1 one\n"));
    EXPECT_EQ(LoadLibraryA(good.c_str()), nullptr) << "code cannot come from a text";
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    struct Case {
        const char* text;
        DWORD error;
    };
    const Case cases[] = {
        {"string x one\n", ERROR_RESOURCE_DATA_NOT_FOUND},
        {"string 1 one\nstring 1 two\n", ERROR_RESOURCE_DATA_NOT_FOUND},
        {"string 1 bad \\q escape\n", ERROR_RESOURCE_DATA_NOT_FOUND},
        {"data XML 1 missing.xml\n", ERROR_RESOURCE_DATA_NOT_FOUND},
        {"menu 1 File\n", ERROR_RESOURCE_DATA_NOT_FOUND},
    };
    for (const Case& c : cases) {
        const std::string bad = folder.Write("bad.so", std::string(c.text));
        EXPECT_EQ(LoadLibraryExA(bad.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE), nullptr) << c.text;
        EXPECT_EQ(GetLastError(), c.error) << c.text;
    }
    EXPECT_EQ(LoadLibraryExA(folder.File("absent.so").c_str(), 0, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

} // namespace

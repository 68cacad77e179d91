#include "plugin_framework/TResource.h"

#include "platform/win/WinModule.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

namespace {

std::string Narrow(const TString& text) {
    return std::string(TStringA(static_cast<const wchar_t*>(text)));
}

class LanguageLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        m_library = LoadLibraryA(KV_TEST_LANGUAGE_LIBRARY);
        ASSERT_NE(m_library, nullptr);
        m_resource.SetModule(m_library);
    }
    void TearDown() override { FreeLibrary(m_library); }

    HMODULE m_library = nullptr;
    TResource m_resource;
};

TEST(Resources, EveryLoadFailsWithoutAModule) {
    TResource resource;
    resource.SetType(L"XML");
    TString text = L"old";
    EXPECT_FALSE(resource.LoadString(1084, text));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_FALSE(resource.Load(10, text, false));
    BYTE* data = reinterpret_cast<BYTE*>(1);
    DWORD size = 3;
    EXPECT_FALSE(resource.LoadRaw(10, data, size));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
    INT_PTR result = 5;
    EXPECT_FALSE(resource.DoModal(1004, &result)) << "no dialog opens";
    EXPECT_EQ(result, 5);
}

TEST_F(LanguageLibrary, TextResourcesAreNarrowOrUtf16ByRequest) {
    m_resource.SetType(L"XML");
    TString text;
    ASSERT_TRUE(m_resource.Load(10, text, false));
    EXPECT_EQ(text.GetLength(), 10);
    ASSERT_TRUE(m_resource.Load(11, text, true));
    EXPECT_EQ(text.GetLength(), 5);
    EXPECT_EQ(Narrow(text), "Wide!");
    EXPECT_FALSE(m_resource.Load(12, text, false)) << "of another type";
    EXPECT_TRUE(text.IsEmpty());
}

TEST_F(LanguageLibrary, StringsAndRawBytesComeFromTheModule) {
    TString text;
    ASSERT_TRUE(m_resource.LoadString(1084, text));
    EXPECT_EQ(Narrow(text), "More than %d pictures are selected.");
    EXPECT_FALSE(m_resource.LoadString(0, text));
    m_resource.SetType(L"PNG");
    BYTE* data = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(m_resource.LoadRaw(12, data, size));
    std::unique_ptr<BYTE[]> owner(data);
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 4), "\x89PNG");
}

TEST_F(LanguageLibrary, NullModuleKeepsTheOneThatWasSet) {
    m_resource.SetModule(nullptr);
    EXPECT_EQ(m_resource.GetModule(), m_library);
}

TEST_F(LanguageLibrary, ProcessWideAccessorServesEveryCallerUntilItsModuleIsForgotten) {
    TResource::Instance()->SetModule(m_library);
    TString here, elsewhere;
    EXPECT_TRUE(TResource::Instance()->LoadString(1084, here)) << "a later call sees the module set before";
    std::thread other([&] { TResource::Instance()->LoadString(1084, elsewhere); });
    other.join();
    EXPECT_EQ(Narrow(elsewhere), Narrow(here)) << "another thread sees it too";
    EXPECT_EQ(TResource().GetModule(), nullptr) << "a new accessor is not the process-wide one";

    TResource::Instance()->ForgetModule(GetModuleHandleW(nullptr));
    EXPECT_EQ(TResource::Instance()->GetModule(), m_library) << "another module was forgotten in its place";
    TResource::Instance()->ForgetModule(m_library);
    EXPECT_EQ(TResource::Instance()->GetModule(), nullptr);
    EXPECT_FALSE(TResource::Instance()->LoadString(1084, here));
}

TEST_F(LanguageLibrary, FolderIsTheModulesOrWithoutOneTheHostPrograms) {
    TFilePath folder;
    ASSERT_TRUE(m_resource.GetModuleFolder(folder));
    EXPECT_EQ(Narrow(folder.GetPath()) + "FrameworkTestLang.so", KV_TEST_LANGUAGE_LIBRARY);
    ASSERT_TRUE(TResource().GetModuleFolder(folder));
    char program[4096];
    const DWORD length = GetModuleFileNameA(nullptr, program, sizeof(program));
    ASSERT_GT(length, 0u);
    EXPECT_EQ(Narrow(folder.GetPath()),
              std::string(program, length).substr(0, std::string(program).rfind('/') + 1));
}

TEST_F(LanguageLibrary, DialogWithoutATemplateRunsAndAnswersMinusOne) {
    m_resource.SetDialogProc([](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return 0; });
    INT_PTR result = 0;
    EXPECT_TRUE(m_resource.DoModal(1004, &result));
    EXPECT_EQ(result, -1);
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_FALSE(m_resource.CreateModeless(1004, &window));
    EXPECT_EQ(window, nullptr);
}

TEST(Resources, ProgramStringsLoadThroughTheStringsOwnResourceConstructor) {
    const TString text(reinterpret_cast<const wchar_t*>(static_cast<std::uintptr_t>(1)));
    EXPECT_EQ(Narrow(text), "Host text");
}

} // namespace

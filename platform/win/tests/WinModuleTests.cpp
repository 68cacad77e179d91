#include "platform/win/WinKernel.h"
#include "platform/win/WinModule.h"
#include "platform/win/WinResources.h"
#include "platform/win/WinUser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const std::string kFolder = KV_TEST_LIBRARY_DIR;

// The library's name as code written for the original platform gives it: backslashes, ".dll", other case.
std::wstring WindowsStyleName() {
    std::wstring name;
    for (char c : kFolder)
        name += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return name + L"\\WINTESTLIB.DLL";
}

class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryW(WindowsStyleName().c_str());
        ASSERT_NE(m_module, nullptr);
    }
    void TearDown() override {
        if (m_module)
            FreeLibrary(m_module);
    }
    HMODULE m_module = nullptr;
};

TEST_F(LoadedLibrary, WindowsStyleNameLoadsTheSharedObject) {
    wchar_t path[4096];
    const DWORD length = GetModuleFileNameW(m_module, path, 4096);
    ASSERT_GT(length, 0u);
    const std::wstring text(path, length);
    EXPECT_NE(text.find(L"/WinTestLib.so"), std::wstring::npos) << std::string(text.begin(), text.end());
    EXPECT_EQ(GetModuleHandleW(L"wintestlib.dll"), m_module);
    EXPECT_NE(GetProcAddress(m_module, "KvwResources"), nullptr);
    EXPECT_EQ(GetProcAddress(m_module, "NoSuchEntry"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST_F(LoadedLibrary, StringsComeFromTheLibraryAsWrittenInItsManifest) {
    wchar_t text[64];
    EXPECT_EQ(LoadStringW(m_module, 1, text, 64), 5);
    EXPECT_STREQ(text, L"First");
    EXPECT_EQ(LoadStringW(m_module, 2, text, 64), 9);
    EXPECT_STREQ(text, L"Grüße € 𝄞");
    EXPECT_EQ(LoadStringW(m_module, 3, text, 64), 25);
    EXPECT_STREQ(text, L"tab\there\nnext line \\ done");
    EXPECT_EQ(LoadStringW(m_module, 99, text, 64), 0);
    EXPECT_STREQ(text, L"");
    EXPECT_EQ(LoadStringW(m_module, 1, text, 3), 2) << "cut to the buffer with its terminator";
    EXPECT_STREQ(text, L"Fi");
}

TEST_F(LoadedLibrary, NarrowStringIsNeverCutInsideACharacter) {
    char text[8];
    // "Grüße": G r ü(2 bytes) ß(2 bytes) e; seven bytes of room end before the ß.
    EXPECT_EQ(LoadStringA(m_module, 2, text, 6), 4);
    EXPECT_STREQ(text, "Gr\xc3\xbc");
}

TEST_F(LoadedLibrary, BinaryResourcesAreFoundByIdAndTypeWithTheirExactBytes) {
    HRSRC xml = FindResourceW(m_module, MAKEINTRESOURCEW(10), L"xml");
    ASSERT_NE(xml, nullptr) << "type names ignore case";
    EXPECT_EQ(SizeofResource(m_module, xml), 10u);
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(m_module, xml)));
    EXPECT_EQ(std::string(bytes, 10), "<a>1234</a");

    HRSRC bitmap = FindResourceW(m_module, MAKEINTRESOURCEW(12), RT_BITMAP);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(SizeofResource(m_module, bitmap), 4u);
    const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(m_module, bitmap)));
    EXPECT_EQ(data[3], 0xFF);

    HRSRC empty = FindResourceW(m_module, MAKEINTRESOURCEW(13), L"RCDATA");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SizeofResource(m_module, empty), 0u);
    EXPECT_EQ(FindResourceW(m_module, MAKEINTRESOURCEW(13), RT_RCDATA), nullptr)
        << "a named type is not the numbered type of the same name";
    EXPECT_EQ(FindResourceW(m_module, MAKEINTRESOURCEW(11), L"XML"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceW(m_module, MAKEINTRESOURCEW(10), L"PNG"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

TEST(ProgramResources, NullModuleAndTheHostProgramsNameGiveTheProgramsOwnResources) {
    wchar_t text[64];
    EXPECT_EQ(LoadStringW(nullptr, 1, text, 64), 12);
    EXPECT_STREQ(text, L"Program text");
    const HMODULE program = GetModuleHandleW(L"KvtImgy.exe");
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program, GetModuleHandleW(nullptr));
    EXPECT_EQ(LoadStringW(program, 1, text, 64), 12);
    HRSRC data = FindResourceW(program, MAKEINTRESOURCEW(10), L"XML");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(SizeofResource(program, data), 4u);
}

TEST(ProgramResources, LibraryWithoutATableHasNoResourcesEvenWithTheProgramsTableAround) {
    const HMODULE platform = GetModuleHandleW(L"libKvWin.so");
    ASSERT_NE(platform, nullptr);
    wchar_t text[64];
    EXPECT_EQ(LoadStringW(platform, 1, text, 64), 0);
    EXPECT_EQ(FindResourceW(platform, MAKEINTRESOURCEW(10), L"XML"), nullptr);
}

void LocalFunction() {}

TEST(ModuleHandles, AnAddressNamesTheModuleItLiesIn) {
    HMODULE module = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                       GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<const wchar_t*>(&LocalFunction), &module));
    EXPECT_EQ(module, GetModuleHandleW(nullptr));
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<const wchar_t*>(&CreateEventA), &module));
    EXPECT_EQ(module, GetModuleHandleW(L"libKvWin.so"));
}

TEST(ModuleHandles, ShortBufferGetsACutNameThatIsReportedAsCut) {
    wchar_t path[8];
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, 8), 8u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(path[7], 0);
}

TEST(ModuleHandles, MissingLibraryFailsWithoutAModule) {
    EXPECT_EQ(LoadLibraryW(L"NoSuchLibrary.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(0x1000)));
}

LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(ModuleHandles, ClassesOfALibraryGoWithItsLastFree) {
    const std::wstring name = WindowsStyleName();
    HMODULE first = LoadLibraryW(name.c_str());
    HMODULE second = LoadLibraryW(name.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first, second);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = first;
    windowClass.lpszClassName = L"LibraryWnd";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    WNDCLASSW info{};
    EXPECT_EQ(WinModule::LoadCount(first), 2u);
    ASSERT_TRUE(FreeLibrary(first));
    EXPECT_TRUE(GetClassInfoW(first, L"LibraryWnd", &info)) << "one load is left";
    EXPECT_EQ(WinModule::LoadCount(first), 1u);
    ASSERT_TRUE(FreeLibrary(second));
    EXPECT_FALSE(GetClassInfoW(first, L"LibraryWnd", &info));
    EXPECT_EQ(WinModule::LoadCount(first), 0u);
    EXPECT_FALSE(FreeLibrary(first));
}

} // namespace

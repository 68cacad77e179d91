#include "HostFixture.h"

#include "platform/win/WinModule.h"
#include "testing/TraceCapture.h"

#include <array>

namespace {

struct Identity {
    KvwWord objectManager;
    KvwWord resources;
    KvwWord module;
};

class HostModules : public HostTest {
protected:
    Identity IdentityOf(std::size_t module) {
        std::array<KvwWord, 3> words{};
        EXPECT_EQ(m_host->Send(module, TestModule::kIdentity, 0, 0, reinterpret_cast<KvwWord>(words.data())),
                  kKvwOk);
        return Identity{words[0], words[1], words[2]};
    }
    HWND CodecWindowOf(std::size_t module) {
        HWND window = nullptr;
        m_host->Send(module, TestModule::kCodecWindow, 0, 0, reinterpret_cast<KvwWord>(&window));
        return window;
    }
};

TEST_F(HostModules, ModuleExportsItsEntryPointsAndResourcesOnly) {
    const std::size_t module = m_host->Load(ModulePath("TestModA.qw7"));
    ASSERT_NE(module, CScriptedHost::kNoModule) << m_host->LastError();
    HMODULE handle = m_host->Module(module)->Handle();
    EXPECT_NE(GetProcAddress(handle, "KvwResources"), nullptr);
    EXPECT_EQ(GetProcAddress(handle, "_ZN14TObjectManager8InstanceEv"), nullptr)
        << "the framework stays hidden";
    EXPECT_EQ(GetProcAddress(handle, "_ZN7TWindow10WindowProcEP6HWND__jml"), nullptr);
}

TEST_F(HostModules, FileWithoutTheEntryPointsIsNoModule) {
    EXPECT_EQ(m_host->Load(ModulePath("TestModALang.so")), CScriptedHost::kNoModule);
    EXPECT_NE(m_host->LastError().find("entry point"), std::string::npos);
    EXPECT_EQ(m_host->Load(ModulePath("Missing.qw7")), CScriptedHost::kNoModule);
}

TEST_F(HostModules, ResourcesComeFromTheModuleItsLanguageLibraryAndTheHostProgram) {
    const std::size_t module = Start("TestModA.qw7");
    EXPECT_EQ(Text(module, 1084, TestModule::kLanguageLibrary), L"Language library of module A");
    EXPECT_EQ(Text(module, 100, TestModule::kOwnFile), L"Own text of module A");
    EXPECT_EQ(Text(module, 1, TestModule::kHostProgram), L"Text of the host program");
    EXPECT_EQ(Text(module, 100, TestModule::kLanguageLibrary), L"")
        << "the language library is not the module";
    EXPECT_EQ(Text(module, 1084, TestModule::kOwnFile), L"");
}

TEST_F(HostModules, MissingLanguageLibraryGoesUnnoticedAndLeavesNoStrings) {
    const std::size_t module = Start("TestModNoLang.qw7");
    EXPECT_EQ(Text(module, 1084, TestModule::kLanguageLibrary), L"");
    EXPECT_EQ(Text(module, 1, TestModule::kHostProgram), L"Text of the host program");
}

TEST_F(HostModules, TwoModulesKeepTheirOwnFrameworkAndTheirOwnClasses) {
    const std::size_t a = Start("TestModA.qw7");
    const std::size_t b = Start("TestModB.md7");
    const Identity ia = IdentityOf(a);
    const Identity ib = IdentityOf(b);
    EXPECT_NE(ia.objectManager, ib.objectManager);
    EXPECT_NE(ia.resources, ib.resources);
    EXPECT_EQ(reinterpret_cast<HMODULE>(ia.module), m_host->Module(a)->Handle());
    EXPECT_EQ(reinterpret_cast<HMODULE>(ib.module), m_host->Module(b)->Handle());
    // Each resource accessor kept the language library its own module gave it.
    EXPECT_EQ(Text(a, 1084, TestModule::kLanguageLibrary), L"Language library of module A");
    EXPECT_EQ(Text(b, 1084, TestModule::kLanguageLibrary), L"Language library of module B");

    HWND windowA = CodecWindowOf(a);
    HWND windowB = CodecWindowOf(b);
    ASSERT_TRUE(IsWindow(windowA));
    ASSERT_TRUE(IsWindow(windowB));
    wchar_t name[32];
    GetClassNameW(windowB, name, 32);
    EXPECT_STREQ(name, L"CodecHidWnd");
    WNDCLASSW classA{}, classB{};
    ASSERT_TRUE(GetClassInfoW(m_host->Module(a)->Handle(), L"CodecHidWnd", &classA));
    ASSERT_TRUE(GetClassInfoW(m_host->Module(b)->Handle(), L"CodecHidWnd", &classB));
    EXPECT_NE(classA.lpfnWndProc, classB.lpfnWndProc) << "each module's windows run its own procedure";
}

TEST_F(HostModules, UnloadingOneModuleLeavesTheOtherWorking) {
    const std::size_t a = Start("TestModA.qw7");
    const std::size_t b = Start("TestModB.md7");
    const HMODULE handleA = m_host->Module(a)->Handle();
    HWND windowA = CodecWindowOf(a);
    m_host->Close(a);
    m_host->Unload(a);
    EXPECT_FALSE(IsWindow(windowA)) << "the closed module's window went with its module object";
    WNDCLASSW info{};
    EXPECT_FALSE(GetClassInfoW(handleA, L"CodecHidWnd", &info)) << "its classes went with its library";

    EXPECT_EQ(Text(b, 1084, TestModule::kLanguageLibrary), L"Language library of module B");
    EXPECT_EQ(Text(b, 100, TestModule::kOwnFile), L"Own text of module B");
    HWND windowB = CodecWindowOf(b);
    ASSERT_TRUE(IsWindow(windowB));
    EXPECT_TRUE(PostMessageW(windowB, WM_APP, 0, 0));
    WinUserTest::PumpPending();
    m_host->AddItem(Item(7));
    EXPECT_EQ(m_host->Send(b, TestModule::kRequestImage, 7, 0, KvwPluginRequest::kPreview), kKvwOk);
    WinUserTest::PumpPending();
    EXPECT_EQ(m_host->Send(b, TestModule::kCompletions, 7, 0), 1u);
}

TEST_F(HostModules, ModuleLoadedAgainAfterItsCloseStartsAFreshModuleObject) {
    std::size_t module = Start("TestModA.qw7");
    m_host->AddItem(Item(7));
    m_host->Send(module, TestModule::kRequestImage, 7, 0, KvwPluginRequest::kPreview);
    WinUserTest::PumpPending();
    ASSERT_EQ(m_host->Send(module, TestModule::kCompletions, 7, 0), 1u);
    m_host->Close(module);
    m_host->Unload(module);
    module = Start("TestModA.qw7");
    EXPECT_EQ(m_host->Send(module, TestModule::kCompletions, 7, 0), 0u);
    EXPECT_EQ(Text(module, 1084, TestModule::kLanguageLibrary), L"Language library of module A");
}

TEST_F(HostModules, EachModuleClaimsNamesInItsOwnTemporaryFolder) {
    const std::size_t a = Start("TestModA.qw7");
    const std::size_t b = Start("TestModB.md7");
    wchar_t pathA[512] = {}, pathB[512] = {};
    ASSERT_EQ(m_host->Send(a, TestModule::kTempFile, 0, 0, reinterpret_cast<KvwWord>(pathA), 512), kKvwOk);
    ASSERT_EQ(m_host->Send(b, TestModule::kTempFile, 0, 0, reinterpret_cast<KvwWord>(pathB), 512), kKvwOk);
    EXPECT_NE(std::wstring(pathA).find(L"/Korvel/Test module A/probe.txt"), std::wstring::npos);
    EXPECT_NE(std::wstring(pathB).find(L"/Korvel/Test module B/probe.txt"), std::wstring::npos);
    wchar_t again[512] = {};
    ASSERT_EQ(m_host->Send(a, TestModule::kTempFile, 0, 0, reinterpret_cast<KvwWord>(again), 512), kKvwOk);
    EXPECT_NE(std::wstring(again).find(L"probe_001.txt"), std::wstring::npos);
}

TEST_F(HostModules, CloseFreesTheLanguageLibraryThatInitializeLoaded) {
    const std::size_t module = Start("TestModA.qw7");
    EXPECT_NE(GetModuleHandleA("TestModALang.so"), nullptr);
    m_host->Close(module);
    EXPECT_EQ(GetModuleHandleA("TestModALang.so"), nullptr);
    EXPECT_NE(GetModuleHandleA("TestModA.qw7"), nullptr) << "the module itself stays until it is freed";
}

TEST_F(HostModules, CloseDeletesTheModuleObjectBeforeTheObjectManager) {
    kvtest::TraceCapture trace;
    const std::size_t module = Start("TestModA.qw7");
    m_host->Close(module);
    EXPECT_EQ(trace.Count("probe registered at deletion"), 1);
    EXPECT_EQ(trace.Count("probe lost"), 0);
}

} // namespace

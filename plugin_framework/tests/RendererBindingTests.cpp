// Renderer libraries bound by location and by renderer id, against the scripted library and its variants
// that lack an entry point.
#include "RendererTestSupport.h"

#include "plugin_framework/CRenderer.h"
#include "plugin_framework/TDynamicLib.h"

#include "platform/renderers/CScriptRenderer.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using rendertest::Library;
using rendertest::LoadsOf;

CScriptRenderer& Script() {
    return CScriptRenderer::Instance();
}

class RendererBinding : public ::testing::Test {
protected:
    void SetUp() override { Script().Reset(); }
    void TearDown() override { Script().Reset(); }
};

TEST(RendererPath, RendererIdsNameTheirLibrariesInTheFolder) {
    const struct {
        const wchar_t* id;
        const wchar_t* folder;
        bool resolved;
        const wchar_t* path;
    } cases[] = {
        {L"renderer.rgb", L"/opt/renderers", true, L"/opt/renderers/RGBRenderer.dll"},
        {L"renderer.rgb", L"/opt/renderers/", true, L"/opt/renderers/RGBRenderer.dll"},
        {L"stateRenderer.rgb", L"C:\\Renderers\\", true, L"C:\\Renderers\\StateRenderer.dll"},
        {L"renderer.file.html", L"r", true, L"r/HTMLRenderer.dll"},
        {L"Renderer.rgb", L"/opt/renderers", false, L""},
        {L"renderer.png", L"/opt/renderers", false, L""},
        {L"renderer.rgb", L"", false, L""},
    };
    for (const auto& c : cases) {
        TFilePath folder, location;
        folder.Set(c.folder);
        EXPECT_EQ(ResolveRendererPath(c.id, location, folder), c.resolved) << c.id << " in " << c.folder;
        EXPECT_EQ(std::wstring(location.GetPath()), c.path);
    }
}

TEST(RendererAbi, TheHandleOfASynchronisationObjectIsItsFirstField) {
    TSyncEvent cancel(false, true);
    TSyncSemaphore semaphore;
    EXPECT_EQ(RendrSyncObjectHandle(&cancel), cancel.GetHandle());
    EXPECT_EQ(RendrSyncObjectHandle(&semaphore), semaphore.GetHandle());
    EXPECT_NE(cancel.GetHandle(), semaphore.GetHandle());
    EXPECT_EQ(RendrSyncObjectHandle(nullptr), 0u);
    EXPECT_FALSE(RendrIsCancelled(&cancel));
    EXPECT_FALSE(RendrIsCancelled(nullptr));
    cancel.Signal();
    EXPECT_TRUE(RendrIsCancelled(&cancel));
    EXPECT_TRUE(RendrIsCancelled(&cancel)) << "looking does not take the signal of a manual-reset event";
}

TEST(DynamicLib, LoadsFindsAndFrees) {
    TDynamicLib library;
    FARPROC found = nullptr;
    EXPECT_FALSE(library.Load(TFilePath()));
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_FALSE(library.GetProc("rendrStartup", found));
    ASSERT_TRUE(library.Load(Library("script", "RGBRenderer.so")));
    EXPECT_TRUE(library.GetProc("rendrStartup", found));
    EXPECT_NE(found, nullptr);
    EXPECT_FALSE(library.GetProc("rendrNoSuchEntry", found));
    EXPECT_EQ(LoadsOf(Library("script", "RGBRenderer.so")), 1u);
    EXPECT_FALSE(library.Load(Library("script", "NoSuchRenderer.so"))) << "a failed load frees the one held";
    EXPECT_EQ(LoadsOf(Library("script", "RGBRenderer.so")), 0u);
    EXPECT_TRUE(library.Free());
}

TEST_F(RendererBinding, ABindingStartsTheLibraryMakesAnInstanceAndForwardsToIt) {
    kvtest::TempFolder folder;
    ASSERT_EQ(docStartup(), 1);
    std::unique_ptr<TdocDocument> document = rendertest::OnePageDocument(folder);
    ASSERT_NE(document, nullptr);

    CRenderer* renderer = CRenderer::Create(Library("script", "RGBRenderer.so"));
    ASSERT_NE(renderer, nullptr);
    EXPECT_EQ(renderer->GetRefCount(), 1);
    const RendrHandle handle = renderer->GetHandle();
    EXPECT_NE(handle, kRendrNoHandle);
    EXPECT_EQ(renderer->SetDocument(document.get(), L"ldf_file_name=one.ldf;"), 1);
    EXPECT_EQ(renderer->SetDocument(nullptr, L""), 0) << "no document, no call";
    EXPECT_EQ(renderer->RefreshDoc(document.get()), 1);
    Script().SetResult("rendrRenderPage", 7);
    EXPECT_EQ(renderer->RenderPage(2, L"iProImg=5;"), 7) << "the library's answer as it is";
    EXPECT_EQ(renderer->SetMediaContext(L"preview=1"), 1);
    EXPECT_EQ(renderer->SetReady(), 1);
    renderer->Release();

    const std::vector<ScriptCall> calls = Script().Calls();
    std::vector<std::string> entries;
    for (const ScriptCall& call : calls)
        entries.push_back(call.entry);
    EXPECT_EQ(entries, (std::vector<std::string>{"rendrStartup", "rendrCreateRenderer", "rendrSetDocument",
                                                 "rendrRefreshDoc", "rendrRenderPage", "render returned",
                                                 "rendrSetMediaContext", "rendrSetReady",
                                                 "rendrReleaseHandle", "rendrShutdown"}));
    ASSERT_EQ(calls.size(), entries.size());
    EXPECT_EQ(calls[2].renderer, handle);
    EXPECT_EQ(static_cast<DocHandle>(calls[2].number), document->GetHandle());
    EXPECT_EQ(calls[2].text, L"ldf_file_name=one.ldf;");
    EXPECT_EQ(calls[4].number, 2);
    EXPECT_EQ(calls[4].text, L"iProImg=5;");
    EXPECT_EQ(calls[6].text, L"preview=1");
    EXPECT_EQ(calls[8].renderer, handle);
    EXPECT_EQ(Script().LiveRenderers(), 0);
    EXPECT_EQ(LoadsOf(Library("script", "RGBRenderer.so")), 0u) << "the last reference frees the library";
    document.reset();
    docShutdown();
}

TEST_F(RendererBinding, LibrariesThatCannotServeLeaveNothingLoaded) {
    const struct {
        const char* what;
        TFilePath location;
        LONG createResult;
        std::vector<std::string> calls;
    } cases[] = {
        {"a missing library", Library("script", "NoSuchRenderer.so"), 1, {}},
        {"a library without subscrUnsubscribeAll",
         Library("script-without-unsubscribe-all", "RGBRenderer.so"),
         1,
         {}},
        // No instance: the library is shut down again, and no handle is given back, since none was made.
        {"an instance that is not made",
         Library("script", "RGBRenderer.so"),
         0,
         {"rendrStartup", "rendrCreateRenderer", "rendrShutdown"}},
    };
    for (const auto& c : cases) {
        Script().Reset();
        Script().SetResult("rendrCreateRenderer", c.createResult);
        EXPECT_EQ(CRenderer::Create(c.location), nullptr) << c.what;
        EXPECT_EQ(Script().Entries(), c.calls) << c.what;
        EXPECT_EQ(LoadsOf(c.location), 0u) << c.what;
    }
}

TEST_F(RendererBinding, ALibraryWithoutRefreshBindsAndRefreshesNothing) {
    kvtest::TempFolder folder;
    ASSERT_EQ(docStartup(), 1);
    std::unique_ptr<TdocDocument> document = rendertest::OnePageDocument(folder);
    ASSERT_NE(document, nullptr);
    CRenderer* renderer = CRenderer::Create(Library("script-without-refresh", "RGBRenderer.so"));
    ASSERT_NE(renderer, nullptr);
    EXPECT_EQ(renderer->RefreshDoc(document.get()), 0);
    EXPECT_EQ(renderer->SetDocument(document.get(), L""), 1);
    EXPECT_EQ(Script().Count("rendrRefreshDoc"), 0);
    renderer->Release();
    document.reset();
    docShutdown();
}

TEST_F(RendererBinding, EachStartOfABindingIsShutDownOnceAndAnUnboundOneForwardsNothing) {
    auto* renderer = new CRenderer;
    LONG subscription = 0;
    EXPECT_EQ(renderer->RenderPage(0, L""), 0);
    EXPECT_EQ(renderer->SetMediaContext(L""), 0);
    EXPECT_EQ(renderer->SetReady(), 0);
    EXPECT_EQ(renderer->ReleaseHandle(), 0);
    EXPECT_EQ(renderer->Subscribe(nullptr, nullptr, 2, &subscription), 0);
    EXPECT_EQ(renderer->UnsubscribeAll(subscription), 0);
    EXPECT_TRUE(Script().Entries().empty());

    ASSERT_TRUE(renderer->Bind(Library("script", "RGBRenderer.so")));
    ASSERT_TRUE(renderer->Bind(Library("script", "StateRenderer.so"))) << "a second bind unbinds first";
    EXPECT_FALSE(renderer->Bind(Library("script", "NoSuchRenderer.so")));
    EXPECT_FALSE(renderer->IsBound());
    EXPECT_EQ(Script().Entries(),
              (std::vector<std::string>{"rendrStartup", "rendrShutdown", "rendrStartup", "rendrShutdown"}));
    renderer->Unbind();
    ASSERT_TRUE(renderer->Bind(Library("script", "RGBRenderer.so")));
    renderer->Release();
    EXPECT_EQ(Script().Count("rendrStartup"), 3);
    EXPECT_EQ(Script().Count("rendrShutdown"), 3);
    EXPECT_EQ(Script().Count("rendrReleaseHandle"), 0) << "Bind alone makes no instance to give back";
}

} // namespace

// What the page iterator suites share: layouts written as text, a view window on the test's thread (the
// user-interface thread, which pumps while the worker renders) with the iterator that previews into it,
// and the checks every test ends with: no render left, every image and document handle given back, no
// lock taken out of order.
#pragma once

#include "RendererTestSupport.h"

#include "plugin_framework/TDBufPageIterator.h"
#include "plugin_framework/TImgLoadMng.h"
#include "plugin_framework/TLockOrder.h"

#include "platform/dadadud/DadaDudTest.h"
#include "platform/renderers/CScriptRenderer.h"
#include "platform/win/WinGdi.h"
#include "platform/win/WinSeams.h"
#include "platform/zizoraz/ZizorazTest.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pagetest {

using Block = CScriptRenderer::RenderBlock;
using TRect = TDBufPageIterator::TRect;
using TSize = TDBufPageIterator::TSize;

constexpr DWORD kDeadline = 10000;

inline CScriptRenderer& Script() {
    return CScriptRenderer::Instance();
}

// A window pixel (0xAARRGGBB) of a packed colour (0xAABBGGRR).
constexpr std::uint32_t ArgbOf(DWORD packed) {
    return (packed & 0xFF000000u) | (packed & 0xFFu) << 16 | (packed & 0xFF00u) | (packed >> 16 & 0xFFu);
}
// The classic 3-D face colour, 212, 208, 200, as the bars around a page show it.
constexpr std::uint32_t kFaceArgb = 0xFFD4D0C8;
// A window pixel nothing was drawn on.
constexpr std::uint32_t kUntouched = 0;

inline std::uint32_t PageArgb(LONG page) {
    return ArgbOf(CScriptRenderer::PageColour(page - 1));
}

// One page of a layout: its id, "@cx" and "@cy" as written (empty: left out), and its items.
struct Page {
    int id;
    std::string cx;
    std::string cy;
    std::string items;
};

inline std::string Layout(const std::vector<Page>& pages) {
    std::string text = "<?xml version='1.0' encoding='UTF-8'?><ldf version='1'>";
    for (const Page& page : pages) {
        text += "<page id='" + std::to_string(page.id) + "'";
        if (!page.cx.empty())
            text += " cx='" + page.cx + "'";
        if (!page.cy.empty())
            text += " cy='" + page.cy + "'";
        text += ">" + page.items + "</page>";
    }
    return text + "</ldf>";
}

// Pages 1 .. count of one size.
inline std::string Pages(int count, const std::string& cx, const std::string& cy) {
    std::vector<Page> pages;
    for (int id = 1; id <= count; ++id)
        pages.push_back(Page{id, cx, cy, ""});
    return Layout(pages);
}

inline std::string Box(int id, const std::string& x, const std::string& y, const std::string& cx,
                       const std::string& cy, const std::string& kind = "shape",
                       const std::string& content = "") {
    return "<item id='" + std::to_string(id) + "' kind='" + kind + "'><bounding-box x='" + x + "' y='" + y +
           "' cx='" + cx + "' cy='" + cy + "'/>" + content + "</item>";
}

class PageIteratorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(docStartup(), 1);
        ASSERT_EQ(iproStartup(), 1);
        WinSeams::SetTempBase(m_base.Path());
        Script().Reset();
        Script().SetPaintPages(true);
        g_violations = 0;
        LockOrder::SetViolationHandler([](TLockRank, TLockRank) { ++g_violations; });
        m_threadsBefore = WinKernelTest::RunningThreads();
        m_imagesBefore = ZizorazTest::LiveHandles();
        m_documentsBefore = DadaDudTest::LiveHandles();
    }
    void TearDown() override {
        Script().OpenLatch();
        StopIterator();
        TImgLoadMng::Destroy();
        WinUserTest::PumpPending();
        EXPECT_TRUE(kvtest::WaitUntil([&] { return WinKernelTest::RunningThreads() == m_threadsBefore; }))
            << "a render worker is still running";
        EXPECT_EQ(ZizorazTest::LiveHandles(), m_imagesBefore) << "every image was given back";
        m_documents.clear();
        EXPECT_EQ(DadaDudTest::LiveHandles(), m_documentsBefore) << "every document copy was given back";
        EXPECT_EQ(g_violations.load(), 0) << "the document and preview locks were taken together";
        LockOrder::SetViolationHandler(nullptr);
        Script().Reset();
        WinSeams::ResetAll();
        iproShutdown();
        docShutdown();
    }

    // A view window of the size and an iterator over the scripted renderer folder (or another) previewing
    // into it; false when Init fails.
    bool Start(LONG width, LONG height, const std::string& rendererFolder = "script") {
        StopIterator();
        m_view = TRefPtr<TWindow>::Adopt(new TWindow);
        EXPECT_TRUE(m_view->Create(L"PageIteratorView", 0, TWindow::TRect(0, 0, width, height), nullptr));
        m_client = TRect(0, 0, width, height);
        m_iterator = TRefPtr<TDBufPageIterator>::Adopt(new TDBufPageIterator);
        m_iterator->SetRendererFolder(rendertest::Folder(rendererFolder));
        return m_iterator->Init(m_view->GetHandle(), &PageIteratorTest::OnPageChanged, this, nullptr);
    }
    // Shuts the iterator down and checks that nothing else holds it then.
    void StopIterator() {
        if (m_iterator) {
            EXPECT_TRUE(m_iterator->Shutdown());
            EXPECT_EQ(m_iterator->GetRefCount(), 1) << "a request still holds the iterator";
            m_iterator = TRefPtr<TDBufPageIterator>();
        }
        if (m_view) {
            m_view->Destroy();
            m_view = TRefPtr<TWindow>();
        }
    }

    // A document of the layout, which the test keeps.
    TdocDocument* Document(const std::string& layout) {
        const std::string path = m_base.Write("layout" + std::to_string(m_documents.size()) + ".ldf", layout);
        m_documents.emplace_back(TdocDocument::CreateFromLDF(Utf::Utf8ToWide(path).c_str()));
        EXPECT_NE(m_documents.back(), nullptr) << layout;
        return m_documents.back().get();
    }
    // Hands the test's last document over (ReleaseDocument deletes it).
    void GiveUpLastDocument() { m_documents.back().release(); }

    void Paint(const TRect& clip, const TRect& view, bool centreHorizontally = true,
               bool centreVertically = true) {
        HDC dc = m_view->GetDC();
        m_iterator->Redraw(dc, 0, clip, view, centreHorizontally, centreVertically);
        m_view->ReleaseDC(dc);
    }
    void Paint() { Paint(m_client, m_client); }
    // Redraws, waits for the page-changed callback and redraws again.
    bool RenderAndPaint() {
        const int before = m_changes;
        Paint();
        if (!PumpUntil([&] { return m_changes > before; }))
            return false;
        Paint();
        return true;
    }
    bool PumpUntil(const std::function<bool()>& condition) {
        return WinUserTest::PumpUntil(condition, kDeadline);
    }
    // Every request has gone: nothing holds the iterator but the test.
    bool PumpUntilNoRequests() {
        return PumpUntil([&] { return m_iterator->GetRefCount() == 1; });
    }
    std::uint32_t Pixel(LONG x, LONG y) const {
        LONG width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
        if (!WinGdiTest::ReadWindowPixels(m_view->GetHandle(), &width, &height, &pixels) || x < 0 || y < 0 ||
            x >= width || y >= height)
            return 0xDEADBEEF;
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    int Renders() const { return Script().Count("rendrRenderPage"); }
    // The context of the last render.
    std::wstring LastRenderContext() const {
        std::wstring text;
        for (const ScriptCall& call : Script().Calls()) {
            if (call.entry == "rendrRenderPage")
                text = call.text;
        }
        return text;
    }

    static void OnPageChanged(void* user) { ++static_cast<PageIteratorTest*>(user)->m_changes; }

    static inline std::atomic<int> g_violations{0};

    kvtest::Watchdog m_watchdog{"page iterator", std::chrono::milliseconds(60000)};
    kvtest::TempFolder m_base;
    TRefPtr<TWindow> m_view;
    TRect m_client;
    TRefPtr<TDBufPageIterator> m_iterator;
    int m_changes = 0;
    std::vector<std::unique_ptr<TdocDocument>> m_documents;
    DWORD m_threadsBefore = 0;
    std::size_t m_imagesBefore = 0;
    std::size_t m_documentsBefore = 0;
};

} // namespace pagetest

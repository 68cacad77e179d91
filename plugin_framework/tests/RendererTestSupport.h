// What the renderer suites share: where the renderer libraries lie, render requests that count their
// destruction, the colours and points of rendered pictures, and a notification window that records the
// finished requests and progress values posted to it, releasing and freeing them as a receiver must.
#pragma once

#include "plugin_framework/TAsyncRenderer.h"
#include "plugin_framework/TAutoHandle.h"
#include "plugin_framework/TWindow.h"

#include "platform/win/WinModule.h"
#include "platform/win/utf16.h"
#include "platform/zizoraz/IproHandles.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace rendertest {

// The folder of the renderer libraries, or one of the scripted ones below it ("script",
// "script-without-refresh", "script-without-unsubscribe-all").
inline TFilePath Folder(const std::string& sub = std::string()) {
    TFilePath folder;
    folder.Set(Utf::Utf8ToWide(std::string(KV_RENDERER_DIR) + (sub.empty() ? "" : "/" + sub)).c_str());
    return folder;
}

inline TFilePath Library(const std::string& sub, const std::string& file) {
    TFilePath location;
    location.Set(Utf::Utf8ToWide(std::string(KV_RENDERER_DIR) + "/" + sub + "/" + file).c_str());
    return location;
}

// The references LoadLibrary calls hold on the library now, besides the one this look takes.
inline DWORD LoadsOf(const TFilePath& location) {
    const HMODULE module = LoadLibraryW(location.GetPath());
    if (!module)
        return 0;
    const DWORD count = WinModule::LoadCount(module) - 1;
    FreeLibrary(module);
    return count;
}

// A document of one empty page, read from a file in the folder (the document library must be started).
inline std::unique_ptr<TdocDocument> OnePageDocument(const kvtest::TempFolder& folder) {
    const std::string path = folder.Write("one.ldf", "<ldf version='1'><page id='1' cx='10' cy='10'/></ldf>");
    return std::unique_ptr<TdocDocument>(TdocDocument::CreateFromLDF(Utf::Utf8ToWide(path).c_str()));
}

// A request that counts its destruction.
template <class Base>
class CountedRequest : public Base {
public:
    CountedRequest(std::atomic<int>& destroyed, LONG page) : m_destroyed(destroyed) {
        this->m_pageNumber = page;
    }
    ~CountedRequest() override { ++m_destroyed; }

private:
    std::atomic<int>& m_destroyed;
};
using ProbeRequest = CountedRequest<TRndrData>;

struct Finished {
    DWORD id;
    LONG page;
    LONG result;
    // The references the request had when it arrived: the worker's, passed to the receiver.
    LONG references;
    std::wstring context;
};

// Made on the calling thread, which must pump its messages for notices to arrive.
class NoticeWindow : public TWindow {
public:
    NoticeWindow() {
        Create(L"RendererNoticeWnd", 0, TRect(0, 0, 2, 2), nullptr);
        AddMessageHandler(kRenderFinishedMessage, TMessageHandler{this, &NoticeWindow::OnFinished});
        AddMessageHandler(kRenderProgressMessage, TMessageHandler{this, &NoticeWindow::OnProgress});
        m_handle.Attach(this);
    }

    TAutoHandle* Target() { return &m_handle; }
    std::vector<Finished> finished;
    std::vector<DWORD> progress;

private:
    static LONG OnFinished(TMessageInfo* info, void* context) {
        auto* window = static_cast<NoticeWindow*>(context);
        auto* request = reinterpret_cast<TRndrData*>(info->lParam);
        window->finished.push_back(Finished{request->GetId(), request->m_pageNumber, request->m_result,
                                            request->GetRefCount(),
                                            static_cast<const wchar_t*>(request->m_context)});
        request->Release();
        return 1;
    }
    static LONG OnProgress(TMessageInfo* info, void* context) {
        if (const std::optional<DWORD> value = TakeRenderProgress(info->lParam))
            static_cast<NoticeWindow*>(context)->progress.push_back(*value);
        return 1;
    }

    TAutoHandle m_handle;
};

// The colours of a rendered page: the page, an item's frame, an image item's placeholder.
constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kFrame = 0xFF404040;
constexpr std::uint32_t kPlaceholder = 0xFFD8D8D8;

// A point of a rendered picture and the colour expected there.
struct Point {
    LONG x, y;
    std::uint32_t expected;
    const char* what;
};

// The pixels of a canvas-library image, and of an image file.
inline IproPixels PixelsOf(IproHandle image) {
    std::shared_ptr<CIproImage> found = IproHandles::FindImage(image);
    if (!found)
        return IproPixels{};
    std::lock_guard<std::mutex> guard(found->lock);
    return found->pixels;
}

inline IproPixels ReadFile(const std::filesystem::path& path) {
    IproHandle image = kIproNoHandle;
    if (iproCreateImageFromFile(Utf::Utf8ToWide(path.string()).c_str(), &image) != 1)
        return IproPixels{};
    IproPixels pixels = PixelsOf(image);
    iproReleaseHandle(image);
    return pixels;
}

inline int Channel(std::uint32_t pixel, int shift) {
    return static_cast<int>(pixel >> shift & 0xFF);
}

// Each point has its colour in the picture, red, green and blue each within the tolerance.
inline void ExpectPoints(const IproPixels& pixels, const Point* points, std::size_t count, int tolerance,
                         const char* picture) {
    for (std::size_t i = 0; i < count; ++i) {
        const Point& p = points[i];
        const std::uint32_t got = pixels.At(p.x, p.y);
        for (int shift : {0, 8, 16})
            EXPECT_NEAR(Channel(got, shift), Channel(p.expected, shift), tolerance)
                << picture << ": " << p.what << " at " << p.x << "," << p.y;
    }
}

} // namespace rendertest

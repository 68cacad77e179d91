// The renderer library that tests script: every entry point is logged with its thread and answers the
// result set for it (1 unless set); a render may send notices of any kind, block until the test opens
// a latch, or until the latch or the cancel event of its context, take a given time (ended early by its
// cancel event), and paint its target image in the colour of its page. One script serves every library built
// from ScriptRendererExports.cpp (the full one and those that lack an entry point), since it lives in this
// shared library beside them. Tests call Reset first.
#pragma once

#include "RendrSubscriptions.h"

#include "platform/win/wintypes.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct ScriptCall {
    std::string entry;
    DWORD thread = 0;
    LONG renderer = 0;
    // The page index of a render, the document handle of rendrSetDocument and rendrRefreshDoc, or, for
    // "render returned", 1 when the render saw its cancel event, and for "render painted" 1 when the
    // target was filled.
    LONG number = 0;
    std::wstring text;
};

class CScriptRenderer {
public:
    // What a render waits for before it answers.
    enum class RenderBlock { kNone, kLatchOrCancel, kLatchOnly };
    struct Notice {
        DWORD kind;
        BYTE progress;
        RendrSubscriptions::Delivery delivery;
    };
    // A scripted render waits at most this long for its latch.
    static constexpr DWORD kBlockLimit = 30000;

    static CScriptRenderer& Instance();

    void Reset();
    void SetResult(const std::string& entry, LONG result);
    void SetRenderBlock(RenderBlock block);
    void SetRenderNotices(std::vector<Notice> notices);
    // Renders take these times in milliseconds, one after another and from the first again; each waits
    // that long for its cancel event (or the latch) before it answers. Empty: no time.
    void SetRenderTimes(std::vector<DWORD> milliseconds);
    // Renders into an image ("iProImg") fill its invalid rectangle, or the whole image, with PageColour of
    // their page, unless cancelled meanwhile, and log "render painted".
    void SetPaintPages(bool paint);
    // A packed colour (red in the lowest byte), opaque, told apart for pages 0 to 7 and repeating after.
    static DWORD PageColour(LONG pageIndex);
    void OpenLatch();
    // Waits until so many renders have begun to block; false when the time ran out first.
    bool WaitForBlockedRenders(int count, DWORD milliseconds);

    std::vector<ScriptCall> Calls() const;
    int Count(const std::string& entry) const;
    // The calls' entry names in order.
    std::vector<std::string> Entries() const;
    // Renderer instances alive, subscriptions alive.
    int LiveRenderers() const;
    std::size_t LiveSubscriptions() const;

    // The entry points' bodies.
    LONG Startup();
    LONG Shutdown();
    LONG CreateRenderer(RendrHandle* renderer);
    LONG SetDocument(RendrHandle renderer, DocHandle document, const wchar_t* context);
    LONG RefreshDoc(RendrHandle renderer, DocHandle document);
    LONG RenderPage(RendrHandle renderer, LONG pageIndex, const wchar_t* context);
    // The entry points that only answer (the text, when given, is logged).
    LONG Answer(const char* entry, RendrHandle renderer, const wchar_t* text = nullptr);
    LONG ReleaseHandle(RendrHandle renderer);
    LONG Subscribe(RendrNotifyProc notify, void* user, LONG kind, LONG* subscription);
    LONG SubscriptionCall(const char* entry, LONG subscription, LONG kind);
    LONG UnsubscribeAll(LONG subscription);

private:
    CScriptRenderer();
    LONG Record(const std::string& entry, RendrHandle renderer, LONG number, const wchar_t* text);
    // The next render's time, under the lock.
    DWORD NextRenderTime();

    mutable std::mutex m_lock;
    std::condition_variable m_blocked;
    std::vector<ScriptCall> m_calls;
    std::map<std::string, LONG> m_results;
    std::map<RendrHandle, bool> m_renderers;
    RendrHandle m_lastRenderer = 100;
    RenderBlock m_block = RenderBlock::kNone;
    std::vector<Notice> m_notices;
    std::vector<DWORD> m_times;
    std::size_t m_nextTime = 0;
    bool m_paint = false;
    int m_blockedRenders = 0;
    HANDLE m_latch = 0;
    RendrSubscriptions m_subscriptions;
};

// The renderer library that tests script: every entry point is logged with its thread and answers the
// result set for it (1 unless set); a render may send notices of any kind and block until the test opens
// a latch, or until the latch or the cancel event of its context. One script serves every library built
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
    // The page index of a render, the document handle of rendrSetDocument, or, for "render returned",
    // 1 when the render saw its cancel event.
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

    mutable std::mutex m_lock;
    std::condition_variable m_blocked;
    std::vector<ScriptCall> m_calls;
    std::map<std::string, LONG> m_results;
    std::map<RendrHandle, bool> m_renderers;
    RendrHandle m_lastRenderer = 100;
    RenderBlock m_block = RenderBlock::kNone;
    std::vector<Notice> m_notices;
    int m_blockedRenders = 0;
    HANDLE m_latch = 0;
    RendrSubscriptions m_subscriptions;
};

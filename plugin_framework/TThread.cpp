#include "TThread.h"

#include "platform/win/WinDebug.h"
#include "platform/win/WinKernel.h"
#include "platform/win/WinSeams.h"

#include <cstdio>
#include <exception>

// What a worker thread owns: it keeps this alive for as long as it runs, whatever happens to its TThread.
struct TThread::TWorker {
    TQueue queue;
    Handler handler = nullptr;
    std::atomic<bool> detached{false};
};

thread_local TThread::TWorker* TThread::t_currentWorker = nullptr;

namespace {

// A trace line that never throws, since it reports a failure that may be the lack of memory itself.
template <class... Args>
void TraceFailure(const char* format, Args... args) noexcept {
    char text[256];
    std::snprintf(text, sizeof(text), format, args...);
    try {
        OutputDebugStringA(text);
    } catch (...) {
    }
}

} // namespace

TThread::TThread() : m_worker(std::make_shared<TWorker>()) {}

TThread::~TThread() {
    Stop(true);
}

std::shared_ptr<TThread::TWorker> TThread::CurrentWorker() {
    std::lock_guard<std::mutex> guard(m_workerLock);
    return m_worker;
}

bool TThread::Start(Handler handler) {
    if (!handler || m_threadId != 0)
        return false;
    std::shared_ptr<TWorker> worker = CurrentWorker();
    worker->handler = handler;
    m_handler = handler;
    auto* parameter = new std::shared_ptr<TWorker>(worker);
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, &TThread::ThreadProc, parameter, 0, &id);
    if (!thread) {
        delete parameter;
        return false;
    }
    m_hThread = thread;
    m_threadId = id;
    return true;
}

DWORD TThread::ThreadProc(void* parameter) {
    std::shared_ptr<TWorker> worker;
    {
        std::unique_ptr<std::shared_ptr<TWorker>> given(static_cast<std::shared_ptr<TWorker>*>(parameter));
        if (given)
            worker = *given;
    }
    if (!worker)
        return 0;
    t_currentWorker = worker.get();
    for (;;) {
        // A wait that fails (for want of memory: the queue's own objects do not go away under it) takes
        // nothing. The worker tries again a little later, so that a lasting shortage does not keep the
        // processor busy.
        TThreadQueueData* item = nullptr;
        try {
            item = worker->queue.Get(1);
            if (!item)
                TraceFailure("TThread: the worker could not take its next item (its wait failed)\n");
        } catch (const std::exception& error) {
            TraceFailure("TThread: the worker could not take its next item (%s)\n", error.what());
        }
        if (!item) {
            Sleep(1);
            continue;
        }
        if (item->m_messageCode == kThreadQuitMessage) {
            item->Release();
            OutputDebugStringA("The rendering thread exited gracefully\n");
            break;
        }
        HandleItem(*worker, item);
    }
    t_currentWorker = nullptr;
    return 0;
}

void TThread::HandleItem(const TWorker& worker, TThreadQueueData* item) {
    // Read first: the handler owns the item and may release it.
    const DWORD id = item->GetId();
    TRefPtr<TBaseObject> owner;
    if (TBaseObject* itemOwner = item->GetOwner()) {
        // An owner whose last reference is gone is stopping its worker, which drops what it queued.
        if (!itemOwner->TryAddRef()) {
            item->Release();
            return;
        }
        owner = TRefPtr<TBaseObject>::Adopt(itemOwner);
    }
    // An exception must not end the worker, nor leave its thread: the handler's failure is traced and
    // the worker goes on with the next item. What the handler owned is its own to release on the way out.
    try {
        worker.handler(item);
    } catch (const std::exception& error) {
        TraceFailure("TThread: the handler of item %u failed (%s)\n", id, error.what());
    } catch (...) {
        TraceFailure("TThread: the handler of item %u failed\n", id);
    }
}

bool TThread::Post(TThreadQueueData* item, bool atFront) {
    if (!m_accepting.load())
        return false;
    return CurrentWorker()->queue.Put(item, atFront);
}

bool TThread::ClearQueue() {
    return CurrentWorker()->queue.Clear(true);
}

void TThread::SetAccepting(bool accepting) {
    m_accepting.store(accepting);
}

bool TThread::Stop(bool) {
    if (m_threadId == 0)
        return false;
    m_accepting.store(false);
    std::shared_ptr<TWorker> worker = CurrentWorker();
    worker->queue.Clear(true);
    auto* quit = new TThreadQueueData;
    quit->m_messageCode = kThreadQuitMessage;
    worker->queue.Put(quit, true);
    quit->Release();

    bool ended = false;
    if (GetCurrentThreadId() == m_threadId) {
        OutputDebugStringA("TThread: stopped from its own worker, which ends after the current item\n");
    } else {
        const DWORD wait = WinSeams::ThreadStopWait();
        ended = WaitForSingleObject(m_hThread, wait) == WAIT_OBJECT_0;
        if (!ended) {
            char text[128];
            std::snprintf(text, sizeof(text),
                          "TThread: the worker did not stop within %u ms and is left to end by itself\n",
                          wait);
            OutputDebugStringA(text);
        }
    }
    if (ended) {
        // Items that slipped in behind the quit item while the stop began.
        worker->queue.Clear(true);
    } else {
        worker->detached.store(true);
        std::lock_guard<std::mutex> guard(m_workerLock);
        m_worker = std::make_shared<TWorker>();
    }
    CloseHandle(m_hThread);
    m_hThread = 0;
    m_threadId = 0;
    m_accepting.store(true);
    return true;
}

bool TThread::IsCurrentWorkerDetached() {
    return t_currentWorker && t_currentWorker->detached.load();
}

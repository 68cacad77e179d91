// A worker thread with its own queue: it takes items one after another and calls its handler with each,
// until it takes the quit item. Stop never kills the thread: one that does not end within the stop wait
// is left to finish on its own, keeping the queue and handler it was started with, and the TThread goes
// on with a fresh queue, so the quit item ends only the thread it was posted for.
#pragma once

#include "TBaseObject.h"
#include "TQueue.h"
#include "TThreadQueueData.h"

#include <atomic>
#include <memory>
#include <mutex>

class TThread : public TBaseObject {
public:
    // Called on the worker with each item; the handler owns the queue's reference to the item. While it
    // runs, the worker holds a reference on the item's owner; an item whose owner is already going is
    // released unhandled. An exception thrown by the handler is traced and the worker goes on.
    using Handler = void (*)(TThreadQueueData* item);

    TThread();
    // Stops the worker, then releases the items still waiting.
    ~TThread() override;

    // Starts a worker over the queue (items posted before the start wait there). False for a null handler,
    // while a worker runs, or when the thread could not be made.
    bool Start(Handler handler);
    // False (the item untouched) while not accepting or when the queue is full.
    bool Post(TThreadQueueData* item, bool atFront);
    bool ClearQueue();
    void SetAccepting(bool accepting);
    // Refuses new items, releases the waiting ones, puts the quit item in front and waits for the worker
    // for WinSeams::ThreadStopWait(). A worker that has not ended by then (or a stop called from the worker
    // itself) is left running on its own queue; the thread is never terminated, whatever terminate says.
    // False when no worker runs; afterwards the TThread is idle, empty and accepting.
    bool Stop(bool terminate);

    DWORD GetThreadId() const { return m_threadId; }

    // On a worker thread: whether its TThread has let it go (see Stop). Such a worker must not announce
    // results to windows of its former owner. False on any other thread.
    static bool IsCurrentWorkerDetached();

private:
    struct TWorker;

    static DWORD ThreadProc(void* parameter);
    static void HandleItem(const TWorker& worker, TThreadQueueData* item);
    static thread_local TWorker* t_currentWorker;
    std::shared_ptr<TWorker> CurrentWorker();

    DWORD m_threadId = 0;
    HANDLE m_hThread = 0;
    Handler m_handler = nullptr;
    std::mutex m_workerLock;
    std::shared_ptr<TWorker> m_worker;
    std::atomic<bool> m_accepting{true};
};

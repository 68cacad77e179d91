// The mail plug-in's background saver: a worker that takes one request per picture, loads the picture by
// its item id, fits it to the attachment size, writes it as a JPEG file and posts the request back to the
// notify target's window as kFileSaveFinishedMessage (the receiver releases it). An abort refuses new
// requests, finishes the queued ones unprocessed with kFileSaveAborted and ends a load still waiting on
// the host.
#pragma once

#include "TFileSaveData.h"

#include "plugin_framework/TAutoHandle.h"
#include "plugin_framework/TBaseObject.h"
#include "plugin_framework/TSyncObject.h"
#include "plugin_framework/TThread.h"

#include <atomic>
#include <mutex>

// The message code of a request on the worker's queue (never posted), and the notice of a finished one.
constexpr LONG kFileSaveRequestMessage = 46114;
constexpr UINT kFileSaveFinishedMessage = 46115;
// How long an abort with waiting waits for the running request to finish.
constexpr DWORD kFileSaverAbortWait = 5000;

class TAsyncFileSaver : public TBaseObject {
public:
    TAsyncFileSaver();
    // Terminates the worker first.
    ~TAsyncFileSaver() override;

    // False when the worker cannot be started.
    bool Start();
    void SetNotifyTarget(TAutoHandle* target);
    // False, the request untouched, after an abort until ClearAbort, or when the worker does not take it;
    // otherwise the request is marked as this saver's and waits at the back of the queue. The caller keeps
    // its own reference.
    bool Post(TFileSaveData* request);
    // No request is being processed.
    bool IsIdle() const;
    // Accepts requests again, then makes the canvas library ready for new loads.
    void ClearAbort();
    // Refuses requests until ClearAbort; with wait, while a request runs, ends its load and waits for it for
    // at most kFileSaverAbortWait, giving up silently. Always true.
    bool Abort(bool wait);
    // Releases the queued requests unprocessed (and without notices) and, with abort, aborts. Always true.
    bool Stop(bool abort, bool wait);
    // Aborts with waiting and stops the worker for good; a worker that outlives the stop posts nothing more.
    // Always true.
    bool Terminate();

private:
    static void SaveProc(TThreadQueueData* item);
    // Loads, fits and writes the picture; false when any step fails.
    bool SaveFile(const TFileSaveData& request);
    void Deliver(TRefPtr<TFileSaveData> request);

    // Written by the dialog's thread, read by the worker.
    std::atomic<bool> m_aborted{false};
    TThread m_worker;
    // Manual-reset, signalled while no request is processed; only waited for, never taken.
    mutable TSyncEvent m_idle;
    // Manual-reset; handed to every load, so that an abort ends one that waits on the host.
    TSyncEvent m_abortEvent;
    std::atomic<TAutoHandle*> m_notifyTarget{nullptr};
    // Held by every post and taken once by Terminate after the worker stopped or was let go.
    std::mutex m_deliveryLock;
};

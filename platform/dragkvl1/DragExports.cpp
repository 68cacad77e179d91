// The library's calls: the sessions live behind 32-bit handles with generations while the library is
// loaded; every call is counted and logged for the test controls, and no exception leaves a call.
#include "platform/dragkvl1/DRAGKVL1.h"
#include "platform/dragkvl1/DragHooks.h"
#include "platform/dragkvl1/DragSession.h"
#include "platform/win/StandInLibrary.h"

#include <memory>
#include <new>

namespace {

using dragkvl1::CDragSession;

StandInLibrary<CDragSession>& Library() {
    static StandInLibrary<CDragSession> library;
    return library;
}

// Runs body(session, pass) on the session behind handle, under the session's lock, unless a force answers
// for it; the result is logged. The pass is the session's run's, unless the call names one.
template <class Body>
std::int32_t OnSession(DragCall call, std::uint32_t handle, DragError* error, Body body,
                       std::int32_t namedPass = kDragAnyPass) {
    try {
        const std::shared_ptr<CDragSession> session = Library().Find(handle);
        if (!session) {
            dragkvl1::Enter(call, kDragAnyPass);
            return dragkvl1::Leave(call, handle, kDragAnyPass, DRAG_ERR_HANDLE);
        }
        std::lock_guard<std::mutex> guard(session->Lock());
        const std::int32_t pass = namedPass != kDragAnyPass ? namedPass : session->Pass();
        if (const auto forced = dragkvl1::Enter(call, pass))
            return dragkvl1::Leave(call, handle, pass,
                                   session->Report(forced->result, forced->text, forced->object, error),
                                   true);
        return dragkvl1::Leave(call, handle, pass, body(*session, pass));
    } catch (const std::bad_alloc&) {
        return DRAG_ERR_MEMORY;
    }
}

} // namespace

extern "C" {

std::int32_t DRAGLoad(void) {
    if (const auto forced = dragkvl1::Enter(DragCall::kLoad, kDragAnyPass))
        return dragkvl1::Leave(DragCall::kLoad, 0, kDragAnyPass, forced->result, true);
    Library().Startup();
    return dragkvl1::Leave(DragCall::kLoad, 0, kDragAnyPass, DRAG_OK);
}

void DRAGUnload(void) {
    dragkvl1::Enter(DragCall::kUnload, kDragAnyPass);
    Library().Shutdown();
    dragkvl1::Leave(DragCall::kUnload, 0, kDragAnyPass, DRAG_OK);
}

std::uint32_t DRAGNew(std::int32_t kind, std::int32_t reserved1, std::int32_t reserved2) {
    if (dragkvl1::Enter(DragCall::kNew, kDragAnyPass)) {
        dragkvl1::Leave(DragCall::kNew, 0, kDragAnyPass, DRAG_ERR_MEMORY, true);
        return 0;
    }
    std::uint32_t handle = 0;
    std::int32_t result = DRAG_ERR_PARAM;
    if (!Library().Started()) {
        result = DRAG_ERR_UNLOADED;
    } else if (kind >= 2 && kind <= 11 && reserved1 == 0 && reserved2 == 0) {
        try {
            handle = Library().Add(std::make_shared<CDragSession>(kind));
            result = handle ? DRAG_OK : DRAG_ERR_MEMORY;
        } catch (const std::bad_alloc&) {
            result = DRAG_ERR_MEMORY;
        }
    }
    dragkvl1::Leave(DragCall::kNew, handle, kDragAnyPass, result);
    return handle;
}

void DRAGDelete(std::uint32_t handle) {
    dragkvl1::Enter(DragCall::kDelete, kDragAnyPass);
    const bool deleted = Library().Release(handle);
    dragkvl1::Leave(DragCall::kDelete, handle, kDragAnyPass, deleted ? DRAG_OK : DRAG_ERR_HANDLE);
}

std::int32_t DRAGInit(std::uint32_t handle, const DragParams* params, DragInfo* info, DragError* error) {
    return OnSession(
        DragCall::kInit, handle, error,
        [&](CDragSession& session, std::int32_t) { return session.Init(params, info, error); },
        params ? static_cast<std::int32_t>(params->pass) : kDragAnyPass);
}

std::int32_t DRAGSetStatisticsImageInfo(std::uint32_t handle, const DragImageRef* statistics) {
    return OnSession(
        DragCall::kSetStatisticsImageInfo, handle, nullptr,
        [&](CDragSession& session, std::int32_t) { return session.SetStatisticsImageInfo(statistics); });
}

std::int32_t DRAGBegin(std::uint32_t handle, DragError* error) {
    return OnSession(DragCall::kBegin, handle, error,
                     [&](CDragSession& session, std::int32_t) { return session.Begin(error); });
}

std::int32_t DRAGProcess(std::uint32_t handle, std::int32_t amount, std::int32_t* progress,
                         DragError* error) {
    std::int32_t pass = kDragAnyPass;
    int call = 0;
    const std::int32_t result =
        OnSession(DragCall::kProcess, handle, error, [&](CDragSession& session, std::int32_t runPass) {
            pass = runPass;
            return session.Process(amount, progress, error, &call);
        });
    // Outside the session's lock, so that the test's action may call the library, this session included.
    if (result == DRAG_OK && call > 0)
        dragkvl1::AtProcess(static_cast<std::uint32_t>(pass), call);
    return result;
}

std::int32_t DRAGComplete(std::uint32_t handle) {
    return OnSession(DragCall::kComplete, handle, nullptr,
                     [&](CDragSession& session, std::int32_t) { return session.Complete(); });
}

std::int32_t DRAGEnd(std::uint32_t handle, DragError* error) {
    return OnSession(DragCall::kEnd, handle, error,
                     [&](CDragSession& session, std::int32_t) { return session.End(error); });
}

std::int32_t DRAGAbort(std::uint32_t handle, DragError* error) {
    return OnSession(DragCall::kAbort, handle, error,
                     [&](CDragSession& session, std::int32_t) { return session.Abort(error); });
}

} // extern "C"

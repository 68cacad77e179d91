#include "IproHandles.h"

#include "ZizorazTest.h"

#include "platform/win/HandleTable.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace {

struct HandleState {
    std::mutex lock;
    int starts = 0;
    HandleTable<IproObject> table;

    std::mutex observerLock;
    std::function<void(const char*, IproHandle)> observer;
    std::atomic<bool> observed{false};
};

HandleState& State() {
    static HandleState* state = new HandleState;
    return *state;
}

std::shared_ptr<IproObject> Find(IproHandle handle) {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().starts > 0 ? State().table.Find(handle) : nullptr;
}

} // namespace

bool IproHandles::Startup() {
    std::lock_guard<std::mutex> guard(State().lock);
    ++State().starts;
    return true;
}

bool IproHandles::Shutdown() {
    std::vector<std::shared_ptr<IproObject>> released; // let go of outside the lock
    std::lock_guard<std::mutex> guard(State().lock);
    HandleState& state = State();
    if (state.starts == 0)
        return false;
    if (--state.starts == 0) {
        std::vector<IproHandle> handles;
        state.table.ForEach(
            [&](std::uint32_t handle, const std::shared_ptr<IproObject>&) { handles.push_back(handle); });
        for (IproHandle handle : handles)
            released.push_back(state.table.Erase(handle));
    }
    return true;
}

bool IproHandles::Started() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().starts > 0;
}

bool IproHandles::Add(IproObject object, IproHandle* out) {
    if (out)
        *out = kIproNoHandle;
    auto shared = std::make_shared<IproObject>(std::move(object));
    std::lock_guard<std::mutex> guard(State().lock);
    if (State().starts == 0)
        return false;
    const IproHandle handle = State().table.Insert(std::move(shared));
    if (handle == 0)
        return false;
    if (out)
        *out = handle;
    return true;
}

std::shared_ptr<CIproImage> IproHandles::FindImage(IproHandle handle) {
    std::shared_ptr<IproObject> object = Find(handle);
    return object ? object->image : nullptr;
}

std::shared_ptr<CIproCanvas> IproHandles::FindCanvas(IproHandle handle) {
    std::shared_ptr<IproObject> object = Find(handle);
    return object ? object->canvas : nullptr;
}

std::shared_ptr<CIproMatrix> IproHandles::FindMatrix(IproHandle handle) {
    std::shared_ptr<IproObject> object = Find(handle);
    return object ? object->matrix : nullptr;
}

bool IproHandles::Release(IproHandle handle) {
    std::shared_ptr<IproObject> released;
    std::lock_guard<std::mutex> guard(State().lock);
    if (State().starts == 0)
        return false;
    released = State().table.Erase(handle);
    return released != nullptr;
}

void IproHandles::Observe(const char* call, IproHandle first) {
    HandleState& state = State();
    if (!state.observed.load(std::memory_order_acquire))
        return;
    std::function<void(const char*, IproHandle)> observer;
    {
        std::lock_guard<std::mutex> guard(state.observerLock);
        observer = state.observer;
    }
    if (observer)
        observer(call, first);
}

void ZizorazTest::SetCallObserver(std::function<void(const char* call, IproHandle first)> observer) {
    HandleState& state = State();
    std::lock_guard<std::mutex> guard(state.observerLock);
    state.observed.store(static_cast<bool>(observer), std::memory_order_release);
    state.observer = std::move(observer);
}

std::size_t ZizorazTest::LiveHandles() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().table.Count();
}

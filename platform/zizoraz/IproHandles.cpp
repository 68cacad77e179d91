#include "IproHandles.h"

#include "ZizorazTest.h"

#include "platform/win/StandInLibrary.h"

namespace {

StandInLibrary<IproObject>& Library() {
    static auto* library = new StandInLibrary<IproObject>;
    return *library;
}

std::shared_ptr<IproObject> Find(IproHandle handle) {
    return Library().Find(handle);
}

} // namespace

bool IproHandles::Startup() {
    Library().Startup();
    return true;
}

bool IproHandles::Shutdown() {
    return Library().Shutdown();
}

bool IproHandles::Started() {
    return Library().Started();
}

bool IproHandles::Add(IproObject object, IproHandle* out) {
    if (out)
        *out = kIproNoHandle;
    const IproHandle handle = Library().Add(std::make_shared<IproObject>(std::move(object)));
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
    return Library().Release(handle);
}

void IproHandles::Observe(const char* call, IproHandle first) {
    Library().Observe(call, first);
}

void ZizorazTest::SetCallObserver(std::function<void(const char* call, IproHandle first)> observer) {
    Library().SetObserver(std::move(observer));
}

std::size_t ZizorazTest::LiveHandles() {
    return Library().Count();
}

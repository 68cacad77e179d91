#include "TModuleValues.h"

#include "platform/win/WinModule.h"

namespace {

// Any address inside this copy of the framework names the module it was linked into.
const char kAnchor = 0;

} // namespace

HINSTANCE GetThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<const wchar_t*>(&kAnchor), &module);
    return module;
}

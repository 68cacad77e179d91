// Window classes: their names and atoms, the classes each module registers and the standard controls'
// classes that every module finds.
#include "WinKernel.h"
#include "WinUserInternal.h"

#include <algorithm>
#include <map>

namespace WinUser {
namespace {

// Guarded by UserLock().
struct ClassState {
    // Class atoms by name folded to lower case; classes by (instance, atom).
    std::map<std::wstring, ATOM> atoms;
    std::map<std::pair<HINSTANCE, ATOM>, std::shared_ptr<ClassRecord>> classes;
    // The standard controls' classes, which every module finds when it has no class of the name itself.
    std::map<ATOM, std::shared_ptr<ClassRecord>> systemClasses;
    ATOM nextAtom = 0xC000;
};

ClassState& State() {
    static ClassState* state = new ClassState;
    return *state;
}

std::wstring Folded(const wchar_t* name) {
    std::wstring folded(name);
    for (wchar_t& c : folded) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return folded;
}

// The atom of a class name (which may itself be an atom); 0 when the name was never registered.
ATOM AtomOfLocked(const wchar_t* name) {
    if (!name)
        return 0;
    if (IS_INTRESOURCE(name))
        return static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name));
    auto it = State().atoms.find(Folded(name));
    return it == State().atoms.end() ? 0 : it->second;
}

ATOM AddAtomLocked(const std::wstring& folded) {
    auto found = State().atoms.find(folded);
    if (found != State().atoms.end())
        return found->second;
    if (State().nextAtom == 0xFFFF)
        return 0;
    const ATOM atom = State().nextAtom++;
    State().atoms.emplace(folded, atom);
    return atom;
}

} // namespace

std::shared_ptr<ClassRecord> FindClassLocked(HINSTANCE instance, const wchar_t* name, bool orSystem) {
    const ATOM atom = AtomOfLocked(name);
    if (!atom)
        return nullptr;
    auto it = State().classes.find({instance, atom});
    if (it != State().classes.end())
        return it->second;
    if (!orSystem)
        return nullptr;
    auto system = State().systemClasses.find(atom);
    return system == State().systemClasses.end() ? nullptr : system->second;
}

void UnregisterModuleClasses(HINSTANCE instance) {
    std::lock_guard<std::mutex> guard(UserLock());
    auto& classes = State().classes;
    for (auto it = classes.begin(); it != classes.end();) {
        if (it->first.first == instance)
            it = classes.erase(it);
        else
            ++it;
    }
}

} // namespace WinUser

using namespace WinUser;

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (!windowClass || !windowClass->lpfnWndProc || !windowClass->lpszClassName ||
        IS_INTRESOURCE(windowClass->lpszClassName) || !windowClass->lpszClassName[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(UserLock());
    const ATOM atom = AddAtomLocked(Folded(windowClass->lpszClassName));
    if (!atom) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const auto key = std::make_pair(windowClass->hInstance, atom);
    if (State().classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto record = std::make_shared<ClassRecord>();
    record->atom = atom;
    record->name = windowClass->lpszClassName;
    record->info = *windowClass;
    record->info.lpszClassName = record->name.c_str();
    record->info.lpszMenuName = nullptr;
    State().classes.emplace(key, std::move(record));
    return atom;
}

void WinUser::RegisterSystemClass(const WNDCLASSW& windowClass) {
    std::lock_guard<std::mutex> guard(UserLock());
    const ATOM atom = AddAtomLocked(Folded(windowClass.lpszClassName));
    if (!atom)
        return;
    auto record = std::make_shared<ClassRecord>();
    record->atom = atom;
    record->name = windowClass.lpszClassName;
    record->info = windowClass;
    record->info.lpszClassName = record->name.c_str();
    State().systemClasses[atom] = std::move(record);
}

BOOL UnregisterClassW(const wchar_t* className, HINSTANCE instance) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<ClassRecord> record = FindClassLocked(instance, className, false);
    if (!record) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    // The table holds one reference, every window of the class one more.
    if (record.use_count() > 2) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    State().classes.erase({instance, record->atom});
    return TRUE;
}

BOOL GetClassInfoW(HINSTANCE instance, const wchar_t* className, WNDCLASSW* windowClass) {
    EnsureSystemClasses();
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<ClassRecord> record = FindClassLocked(instance, className);
    if (!record || !windowClass) {
        SetLastError(record ? ERROR_INVALID_PARAMETER : ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *windowClass = record->info;
    return TRUE;
}

HCURSOR LoadCursorW(HINSTANCE instance, const wchar_t* cursorName) {
    // Only the system's arrow exists; it is a token, since nothing is drawn.
    if (!instance && cursorName == IDC_ARROW)
        return reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(0x7F00));
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

int GetClassNameW(HWND window, wchar_t* buffer, int bufferMax) {
    if (!buffer || bufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        buffer[0] = 0;
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const std::wstring& name = record->windowClass->name;
    const int count = std::min(static_cast<int>(name.size()), bufferMax - 1);
    std::copy(name.begin(), name.begin() + count, buffer);
    buffer[count] = 0;
    return count;
}

#include "WinMenus.h"

#include "HandleTable.h"
#include "WinDebug.h"
#include "WinResources.h"
#include "utf16.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace {

struct MenuItem {
    UINT flags = 0;
    UINT command = 0;
    std::wstring text;
    std::uint32_t popup = 0; // the sub-menu's handle
};

struct MenuObject {
    std::vector<MenuItem> items;
    bool owned = false; // a sub-menu of another menu
};

struct AcceleratorObject {
    std::vector<ACCEL> entries;
};

struct State {
    std::mutex lock;
    HandleTable<MenuObject> menus;
    HandleTable<AcceleratorObject> accelerators;
    std::deque<UINT> choices;
    std::vector<WinMenuTest::TrackCall> calls;
};

State& Menus() {
    static State* state = new State; // never destroyed: menus may be destroyed from static destructors
    return *state;
}

std::uint32_t HandleOf(const void* handle) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle));
}

template <class Handle>
Handle ToHandle(std::uint32_t value) {
    return reinterpret_cast<Handle>(static_cast<std::uintptr_t>(value));
}

HMENU NewMenu() {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    const std::uint32_t handle = state.menus.Insert(std::make_shared<MenuObject>());
    if (!handle)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return ToHandle<HMENU>(handle);
}

// Erases the menu and its sub-menus; the caller holds the lock.
void EraseMenu(State& state, std::uint32_t handle) {
    const std::shared_ptr<MenuObject> menu = state.menus.Erase(handle);
    if (!menu)
        return;
    for (const MenuItem& item : menu->items)
        if (item.popup)
            EraseMenu(state, item.popup);
}

// The item by command (searching sub-menus too) or by position; the caller holds the lock.
MenuItem* FindItem(State& state, MenuObject& menu, UINT item, UINT flags, std::size_t depth = 0) {
    if (flags & MF_BYPOSITION)
        return item < menu.items.size() ? &menu.items[item] : nullptr;
    for (MenuItem& entry : menu.items) {
        if (entry.popup) {
            const std::shared_ptr<MenuObject> sub = state.menus.Find(entry.popup);
            if (sub && depth < WinMenuTemplate::kMaxDepth)
                if (MenuItem* found = FindItem(state, *sub, item, flags, depth + 1))
                    return found;
        } else if (!(entry.flags & MF_SEPARATOR) && entry.command == item) {
            return &entry;
        }
    }
    return nullptr;
}

bool HasCommand(State& state, const MenuObject& menu, UINT command, std::size_t depth = 0) {
    for (const MenuItem& entry : menu.items) {
        if (entry.popup) {
            const std::shared_ptr<MenuObject> sub = state.menus.Find(entry.popup);
            if (sub && depth < WinMenuTemplate::kMaxDepth && HasCommand(state, *sub, command, depth + 1))
                return true;
        } else if (!(entry.flags & MF_SEPARATOR) && entry.command == command) {
            return true;
        }
    }
    return false;
}

bool AppendItems(HMENU menu, const std::vector<WinMenuTemplate::Item>& items) {
    for (const WinMenuTemplate::Item& item : items) {
        const std::wstring text = Utf::Utf8ToWide(item.text);
        if (item.separator) {
            if (!AppendMenuW(menu, MF_SEPARATOR, 0, nullptr))
                return false;
        } else if (item.popup) {
            HMENU sub = CreatePopupMenu();
            if (!sub || !AppendItems(sub, item.items) ||
                !AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), text.c_str())) {
                DestroyMenu(sub);
                return false;
            }
        } else if (!AppendMenuW(menu, MF_STRING, item.command, text.c_str())) {
            return false;
        }
    }
    return true;
}

// The bytes of the module's resource of the type and id, or false with the last error set.
bool ResourceText(HINSTANCE module, const wchar_t* name, const wchar_t* type, std::string_view& text) {
    HRSRC resource = name && IS_INTRESOURCE(name) ? FindResourceW(module, name, type) : nullptr;
    if (!resource) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return false;
    }
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    if (!bytes) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    text = std::string_view(bytes, SizeofResource(module, resource));
    return true;
}

// The template of the module's resource of the type and id, read by the parser and filed under its own
// id; false with the last error set.
template <class Template, class Parse>
bool LoadTemplate(HINSTANCE module, const wchar_t* name, const wchar_t* type, const char* kind, Parse parse,
                  Template& out) {
    std::string_view text;
    if (!ResourceText(module, name, type, text))
        return false;
    std::string why;
    if (!parse(text, out, why) && why.empty())
        why = "unreadable";
    const auto id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name));
    if (why.empty() && out.id == id)
        return true;
    OutputDebugStringA(
        (std::string(kind) + " template: " +
         (why.empty() ? "resource " + std::to_string(id) + " holds " + std::to_string(out.id) : why) + "\n")
            .c_str());
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
}

} // namespace

HMENU CreateMenu() {
    return NewMenu();
}

HMENU CreatePopupMenu() {
    return NewMenu();
}

BOOL DestroyMenu(HMENU menu) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    const std::shared_ptr<MenuObject> object = state.menus.Find(HandleOf(menu));
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    EraseMenu(state, HandleOf(menu));
    return TRUE;
}

BOOL IsMenu(HMENU menu) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.menus.Find(HandleOf(menu)) != nullptr;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrPopup, const wchar_t* text) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    const std::shared_ptr<MenuObject> object = state.menus.Find(HandleOf(menu));
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    MenuItem item;
    item.flags = flags;
    if (flags & MF_POPUP) {
        const auto popup = static_cast<std::uint32_t>(idOrPopup);
        const std::shared_ptr<MenuObject> sub = state.menus.Find(popup);
        if (!sub || sub->owned || sub == object) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        sub->owned = true;
        item.popup = popup;
    } else if (!(flags & MF_SEPARATOR)) {
        item.command = static_cast<UINT>(idOrPopup);
    }
    if (!(flags & MF_SEPARATOR) && text)
        item.text = text;
    object->items.push_back(std::move(item));
    return TRUE;
}

int GetMenuItemCount(HMENU menu) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    const std::shared_ptr<MenuObject> object = state.menus.Find(HandleOf(menu));
    return object ? static_cast<int>(object->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    const std::shared_ptr<MenuObject> object = state.menus.Find(HandleOf(menu));
    if (!object || position < 0 || static_cast<std::size_t>(position) >= object->items.size())
        return static_cast<UINT>(-1);
    const MenuItem& item = object->items[static_cast<std::size_t>(position)];
    return item.popup ? static_cast<UINT>(-1) : item.command;
}

HMENU GetSubMenu(HMENU menu, int position) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    const std::shared_ptr<MenuObject> object = state.menus.Find(HandleOf(menu));
    if (!object || position < 0 || static_cast<std::size_t>(position) >= object->items.size())
        return nullptr;
    return ToHandle<HMENU>(object->items[static_cast<std::size_t>(position)].popup);
}

int GetMenuStringW(HMENU menu, UINT item, wchar_t* buffer, int bufferMax, UINT flags) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    const std::shared_ptr<MenuObject> object = state.menus.Find(HandleOf(menu));
    const MenuItem* found = object ? FindItem(state, *object, item, flags) : nullptr;
    if (!found)
        return 0;
    if (!buffer)
        return static_cast<int>(found->text.size());
    if (bufferMax <= 0)
        return 0;
    const std::size_t count = std::min(found->text.size(), static_cast<std::size_t>(bufferMax - 1));
    std::copy_n(found->text.data(), count, buffer);
    buffer[count] = L'\0';
    return static_cast<int>(count);
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    const std::shared_ptr<MenuObject> object = state.menus.Find(HandleOf(menu));
    MenuItem* found = object ? FindItem(state, *object, item, flags) : nullptr;
    if (!found)
        return static_cast<DWORD>(-1);
    const DWORD previous = found->flags & MF_CHECKED;
    found->flags = (found->flags & ~MF_CHECKED) | (flags & MF_CHECKED);
    return previous;
}

HMENU LoadMenuIndirect(const WinMenuTemplate::Menu& menuTemplate) {
    HMENU menu = CreateMenu();
    if (menu && !AppendItems(menu, menuTemplate.items)) {
        DestroyMenu(menu);
        return nullptr;
    }
    return menu;
}

HMENU LoadMenuW(HINSTANCE module, const wchar_t* name) {
    WinMenuTemplate::Menu menu;
    if (!LoadTemplate(module, name, RT_MENU, "menu", WinMenuTemplate::ParseMenu, menu))
        return nullptr;
    return LoadMenuIndirect(menu);
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    State& state = Menus();
    UINT chosen = 0;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        const std::shared_ptr<MenuObject> object = state.menus.Find(HandleOf(menu));
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (!state.choices.empty()) {
            chosen = state.choices.front();
            state.choices.pop_front();
            if (!HasCommand(state, *object, chosen))
                chosen = 0;
        }
        WinMenuTest::TrackCall call{{}, {}, flags, x, y, owner, chosen};
        for (const MenuItem& item : object->items) {
            call.commands.push_back(item.popup || (item.flags & MF_SEPARATOR) ? 0 : item.command);
            call.texts.push_back(item.text);
        }
        state.calls.push_back(std::move(call));
    }
    if (flags & TPM_RETURNCMD)
        return static_cast<BOOL>(chosen);
    if (chosen && !(flags & TPM_NONOTIFY))
        PostMessageW(owner, WM_COMMAND, chosen, 0);
    return chosen ? TRUE : FALSE;
}

HACCEL CreateAcceleratorTableW(const ACCEL* entries, int count) {
    if (!entries || count <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto table = std::make_shared<AcceleratorObject>();
    table->entries.assign(entries, entries + count);
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    const std::uint32_t handle = state.accelerators.Insert(std::move(table));
    if (!handle)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return ToHandle<HACCEL>(handle);
}

HACCEL LoadAcceleratorsW(HINSTANCE module, const wchar_t* name) {
    WinMenuTemplate::AcceleratorTable table;
    if (!LoadTemplate(module, name, RT_ACCELERATOR, "accelerator", WinMenuTemplate::ParseAccelerators, table))
        return nullptr;
    std::vector<ACCEL> entries;
    for (const WinMenuTemplate::Accelerator& entry : table.entries)
        entries.push_back(ACCEL{entry.flags, entry.key, entry.command});
    if (entries.empty()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return CreateAcceleratorTableW(entries.data(), static_cast<int>(entries.size()));
}

int CopyAcceleratorTableW(HACCEL table, ACCEL* out, int count) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    const std::shared_ptr<AcceleratorObject> object = state.accelerators.Find(HandleOf(table));
    if (!object)
        return 0;
    if (!out)
        return static_cast<int>(object->entries.size());
    const std::size_t copied = std::min(object->entries.size(), static_cast<std::size_t>(std::max(count, 0)));
    std::copy_n(object->entries.begin(), copied, out);
    return static_cast<int>(copied);
}

BOOL DestroyAcceleratorTable(HACCEL table) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.accelerators.Erase(HandleOf(table)) ? TRUE : FALSE;
}

namespace WinMenuTest {

void QueueChoice(UINT command) {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    state.choices.push_back(command);
}

std::vector<TrackCall> TrackCalls() {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.calls;
}

void Reset() {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    state.choices.clear();
    state.calls.clear();
}

std::size_t LiveMenus() {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.menus.Count();
}

std::size_t LiveAcceleratorTables() {
    State& state = Menus();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.accelerators.Count();
}

} // namespace WinMenuTest

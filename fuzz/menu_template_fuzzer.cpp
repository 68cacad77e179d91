// Menu and accelerator templates, read from the libraries a module loads: a template the reader takes
// keeps within the limits it promises, builds a menu that goes again with its handle, and reading never
// reaches past the text.
#include "platform/win/WinMenus.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// The items of a menu at the depth (the menu itself 0, each sub-menu one more) and of its sub-menus: only
// pop-ups hold items, and sub-menus nest at most kMaxDepth deep, so a pop-up lies at depth kMaxDepth - 1 or
// less. Counts the items over all levels.
std::size_t CheckItems(const std::vector<WinMenuTemplate::Item>& items, std::size_t depth) {
    std::size_t count = items.size();
    for (const WinMenuTemplate::Item& item : items) {
        if (item.text.size() > 4096 || (!item.popup && !item.items.empty()) ||
            (item.popup && depth >= WinMenuTemplate::kMaxDepth))
            std::abort();
        if (item.popup)
            count += CheckItems(item.items, depth + 1);
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    WinMenuTemplate::Menu menu;
    if (WinMenuTemplate::ParseMenu(text, menu, error)) {
        if (menu.id == 0 || CheckItems(menu.items, 0) > WinMenuTemplate::kMaxItems)
            std::abort();
        const std::size_t live = WinMenuTest::LiveMenus();
        HMENU built = LoadMenuIndirect(menu);
        if (!built || GetMenuItemCount(built) != static_cast<int>(menu.items.size()) || !DestroyMenu(built) ||
            WinMenuTest::LiveMenus() != live)
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    WinMenuTemplate::AcceleratorTable table;
    error.clear();
    if (WinMenuTemplate::ParseAccelerators(text, table, error)) {
        using namespace WinMenuTemplate;
        if (table.id == 0 || table.entries.size() > kMaxKeys)
            std::abort();
        for (const Accelerator& entry : table.entries)
            if (!(entry.flags & FVIRTKEY) || (entry.flags & ~(FVIRTKEY | FSHIFT | FCONTROL | FALT)))
                std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}

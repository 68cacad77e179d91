// Menu and accelerator templates, read from the libraries a module loads: a template the reader takes
// keeps within the limits it promises, builds a menu that goes again with its handle, and reading never
// reaches past the text.
#include "platform/win/WinMenus.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

std::size_t CheckItems(const std::vector<WinMenuTemplate::Item>& items, std::size_t depth) {
    if (depth > WinMenuTemplate::kMaxDepth + 1)
        std::abort();
    std::size_t count = items.size();
    for (const WinMenuTemplate::Item& item : items) {
        if (item.text.size() > 4096 || (!item.popup && !item.items.empty()))
            std::abort();
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
        if (menu.id == 0 || CheckItems(menu.items, 1) > WinMenuTemplate::kMaxItems)
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

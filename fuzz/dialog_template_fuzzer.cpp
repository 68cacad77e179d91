// Dialog templates, read from the language libraries a module loads: a template the reader takes must keep
// within the limits it promises, and reading never reaches past the text.
#include "platform/win/WinDialogTemplate.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WinDialogTemplate::Template dialog;
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!WinDialogTemplate::Parse(text, dialog, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    const auto within = [](LONG value, LONG low, LONG high) { return value >= low && value <= high; };
    if (dialog.id == 0 || dialog.id == 0xFFFF || !within(dialog.width, 0, 32767) ||
        !within(dialog.height, 0, 32767) || dialog.controls.size() > WinDialogTemplate::kMaxControls ||
        dialog.caption.size() > 4096 || (dialog.fontPoints != 0 && !within(dialog.fontPoints, 1, 400)))
        std::abort();
    for (const WinDialogTemplate::Control& control : dialog.controls) {
        if (control.className.empty() || !within(control.x, -32768, 32767) ||
            !within(control.y, -32768, 32767) || !within(control.width, 0, 32767) ||
            !within(control.height, 0, 32767) || control.text.size() > 4096)
            std::abort();
    }
    return 0;
}

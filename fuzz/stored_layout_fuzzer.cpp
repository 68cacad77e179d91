// The design module's reader of a stored layout over hostile bytes: a document it accepts has pages that
// can be counted and read one by one.
#include "design_module/TDesignLayouts.h"

#include "plugin_framework/TModuleValues.h"

#include "platform/dadadud/DadaDud.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

const TModuleValues g_moduleValues{L"Design layouts", L"Design"};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool started = docStartup() == 1;
    if (!started)
        std::abort();
    const std::unique_ptr<TdocDocument> document =
        TDesignLayouts::DocumentOfStoredLayout(std::vector<BYTE>(data, data + size));
    if (!document)
        return 0;
    const LONG pages = document->GetPageCount();
    for (LONG i = 0; i < pages && i < 64; ++i) {
        const std::unique_ptr<TdocPage> page(document->GetPage(i));
        if (!page) {
            std::fprintf(stderr, "a counted page cannot be read\n");
            std::abort();
        }
    }
    return 0;
}

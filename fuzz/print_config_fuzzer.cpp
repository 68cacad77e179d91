// The print plug-in's configuration file over hostile bytes. Beyond "no crash, no undefined behaviour": a
// file that loads has index-print limits in order, and its lists hold only named entries.
#include "print_plugin/TConfigSettings.h"

#include "plugin_framework/TModuleValues.h"

#include "platform/davuzozi/davuzOzi.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

const TModuleValues g_moduleValues{L"Print plugin", L"Print"};

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "print configuration invariant broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool started = utlStartup() == 1;
    if (!started)
        return 0;
    char path[] = "/tmp/print_config_fuzz_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return 0;
    const bool written = size == 0 || write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    TConfigSettings config;
    const bool loaded = written && config.Load(TString(path));
    unlink(path);
    if (!loaded)
        return 0;
    if (!(config.GetIndexPrintMinSize() >= 0) ||
        !(config.GetIndexPrintMaxSize() > config.GetIndexPrintMinSize()) ||
        !(config.GetIndexPrintSizeIncrement() > 0) || !std::isfinite(config.GetIndexPrintMaxSize()))
        Fail("index-print limits out of order");
    for (const LayoutRecord& layout : config.GetStandardLayouts()) {
        if (layout.name.IsEmpty())
            Fail("a layout without a name");
    }
    for (const PrinterTypeRecord& type : config.GetPrinterTypes()) {
        if (type.name.IsEmpty())
            Fail("a printer type without a name");
    }
    return 0;
}

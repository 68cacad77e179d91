// The print module as the build leaves it, for the suites that load it through the scripted host, and the
// virtual printer they print on.
#pragma once

#include "print_plugin/TPrintPlugin.h"

#include "testing/PluginModuleTest.h"

inline kvtest::PluginModuleFiles PrintModuleFiles() {
    return {KV_PRINT_MODULE_DIR,  "KvtPrint.qw7", "KvtPrintLang.so",
            "PrintPluginCfg.xml", "PrintPI",      TPrintPlugin::kPrintCommand};
}

// One A4 printer of 300 dpi with margins of 5 mm, the machine's default.
constexpr const char* kStudioPrinter = R"(<printers>
  <printer name="Studio" dpi="300" default="1">
    <paper id="9" name="A4" width="2100" height="2970" left="50" top="50" right="50" bottom="50"/>
  </printer>
</printers>)";

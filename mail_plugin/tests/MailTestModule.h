// The mail module as the build leaves it, for the suites that load it through the scripted host.
#pragma once

#include "mail_plugin/TMailPlugin.h"

#include "testing/PluginModuleTest.h"

inline kvtest::PluginModuleFiles MailModuleFiles() {
    return {KV_MAIL_MODULE_DIR,  "KvtMail.qw7", "KvtEmailLang.so",
            "MailPluginCfg.xml", "MailPI",      TMailPlugin::kMailCommand};
}

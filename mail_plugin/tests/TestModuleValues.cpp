// The per-module values of the framework as the mail plug-in's tests have them.
#include "plugin_framework/TModuleValues.h"

const TModuleValues g_moduleValues{L"Mail plugin", L"E-mail"};

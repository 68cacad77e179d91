// The module's values that the framework reads; the module library defines its own.
#include "plugin_framework/TModuleValues.h"

const TModuleValues g_moduleValues{L"Design tests", L"Design module tests"};

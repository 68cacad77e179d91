// The per-module values of the framework as this test program has them.
#include "plugin_framework/TModuleValues.h"

const TModuleValues g_moduleValues{L"Test plugin", L"Framework tests"};

// The per-module values of the framework as the print plug-in's tests have them.
#include "plugin_framework/TModuleValues.h"

const TModuleValues g_moduleValues{L"Print plugin", L"Print"};

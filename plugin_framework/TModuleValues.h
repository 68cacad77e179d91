// What differs between the modules built with this framework. The framework is one static library linked
// into every module, so these cannot be compiled into it: each module (and each program that links the
// framework's file services) defines g_moduleValues once.
#pragma once

#include "platform/win/wintypes.h"

struct TModuleValues {
    // The module's temporary folder under "Korvel": "Print plugin", "Mail plugin" or "Design".
    const wchar_t* tempFolderName;
    // The caption of the framework's message boxes: "Print" or "E-mail" (null: the platform's own).
    const wchar_t* messageBoxCaption;
};

extern const TModuleValues g_moduleValues;

// The module that this copy of the framework is part of (the program, when it is linked into one).
HINSTANCE GetThisModule();

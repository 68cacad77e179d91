// The records a plug-in hands the host about itself: its information record (the answer to message 0) with
// one command entry per command, and the bitmaps of its button (message 0x30000031). They hold the host
// library's narrow string (UTF-8) and vector types, so they are made by value-initialisation, never by
// clearing their bytes.
#pragma once

#include "KvwHostTypes.h"

#include "platform/win/WinGdiObjects.h"
#include "platform/win/WinMenus.h"

#include <map>
#include <string>
#include <vector>

// The host library's narrow string and vector.
using CKvwString = std::string;
template <class T>
using CKvwVector = std::vector<T>;

// One command of the plug-in. The words the host names no meaning for are kept as the plug-ins write them.
struct CKvwCommandEntry {
    DWORD commandId = 0;
    DWORD reserved = 0;  // 0
    CKvwString name;     // the plug-in's name
    DWORD kind = 0;      // 2 for the plug-ins' commands (unnamed by the host)
    DWORD reserved2 = 0; // 0
};

struct CKvwModuleInformation {
    DWORD componentKind = 0; // 0x2001 for a plug-in
    DWORD one = 0;           // 1 (unnamed by the host)
    DWORD interfaceVersion = 0;
    CKvwString name;
    CKvwVector<CKvwCommandEntry> commands;
    DWORD reserved = 0; // 0
};

// A bitmap of the button, owned by the plug-in (which deletes it when it goes); the host only shows it.
// A cell of a strip starts `offset` pixels from the strip's left edge.
struct CKvwBitmapData {
    LONG width = 0;
    LONG height = 0;
    HBITMAP bitmap = nullptr;
    LONG offset = 0;
};

// The host button states the table is keyed by (the host does not say what each one shows).
namespace KvwButtonState {
constexpr DWORD kState1 = 1;
constexpr DWORD kState2 = 2;
constexpr DWORD kState3 = 3;
constexpr DWORD kState100 = 0x100;
} // namespace KvwButtonState

// The host's table of button bitmaps, by button state (p3 of message 0x30000031).
using CKvwBitmapTable = std::map<DWORD, CKvwBitmapData>;

// What a host module announces it can do (message 0x10000021).
struct CKvwActionData {
    DWORD componentKind = 0;
    CKvwString name;
    DWORD informationWord = 0;
    DWORD code = 0;
    DWORD enabled = 0;
};

// A host module's menu and accelerator table (message 0x10000030); both stay the module's.
struct CKvwMenuData {
    HMENU menu = nullptr;
    HACCEL accelerators = nullptr;
};

// One of a host module's toolbar functions (message 0x10000070): its command, the host's kind word and a
// further word (unnamed by the host), an optional label and its cells by button state.
struct CKvwFunctionData {
    DWORD commandId = 0;
    DWORD kind = 0;
    DWORD further = 0;
    CKvwString label;
    CKvwBitmapTable bitmaps;
};

// A sub-panel of a host module (message 0x10000050): its number and title.
struct CKvwSubPanelData {
    DWORD number = 0;
    CKvwString title;
};

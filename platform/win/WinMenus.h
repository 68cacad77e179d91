// Menus and accelerator tables: menus made item by item or from a library's menu templates, the pop-up
// menu that the user tracks, and accelerator tables from a library's accelerator templates
// (WinMenuTemplate.h). There is no screen: a tracked pop-up takes its answer from a script of the tests
// (WinMenuTest below), and without a scripted answer it is dismissed. Handles name their objects through a
// table with generations, so a destroyed menu's handle fails instead of reaching a later menu; any thread
// may use them.
#pragma once

#include "WinMenuTemplate.h"
#include "WinUser.h"

#include <string>
#include <vector>

struct HACCEL__;
using HACCEL = HACCEL__*;

inline const wchar_t* const RT_ACCELERATOR = reinterpret_cast<const wchar_t*>(static_cast<std::uintptr_t>(9));

// AppendMenu flags (MF_BYCOMMAND is 0); with MF_POPUP the id word is the sub-menu's handle.
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_BYPOSITION = 0x0400;

// TrackPopupMenu flags.
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_RIGHTALIGN = 0x0008;
constexpr UINT TPM_BOTTOMALIGN = 0x0020;
constexpr UINT TPM_NONOTIFY = 0x0080;
constexpr UINT TPM_RETURNCMD = 0x0100;

struct ACCEL {
    BYTE fVirt;
    WORD key;
    WORD cmd;
};

HMENU CreateMenu();
HMENU CreatePopupMenu();
// Destroys the menu and its sub-menus (a sub-menu taken by an AppendMenu belongs to its menu).
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);
// A string item, a separator or (MF_POPUP) a sub-menu, which the menu then owns; a sub-menu that belongs to
// a menu already, or the menu itself, is refused.
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrPopup, const wchar_t* text);
int GetMenuItemCount(HMENU menu);
// The command of the item at the position; -1 for a sub-menu or a bad position or menu (0 for a separator).
UINT GetMenuItemID(HMENU menu, int position);
// The sub-menu at the position, or null.
HMENU GetSubMenu(HMENU menu, int position);
// The item's text, by command or (MF_BYPOSITION) position: the characters copied (at most bufferMax - 1,
// with a terminator), or, with a null buffer, the text's length; 0 when there is no such item.
int GetMenuStringW(HMENU menu, UINT item, wchar_t* buffer, int bufferMax, UINT flags);
// The previous state (MF_CHECKED or 0), -1 when the menu has no such item.
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);

// The menu of template `name` (MAKEINTRESOURCE id) in the module's RT_MENU resources; null with
// ERROR_RESOURCE_NAME_NOT_FOUND without one, ERROR_RESOURCE_DATA_NOT_FOUND for a template that does not
// read or is filed under another id.
HMENU LoadMenuW(HINSTANCE module, const wchar_t* name);
// A menu built from a template already read.
HMENU LoadMenuIndirect(const WinMenuTemplate::Menu& menuTemplate);

// Tracks the pop-up over the owner window. With TPM_RETURNCMD the answer is the command chosen, 0 when the
// menu was dismissed; otherwise TRUE when a command was chosen, which is then posted to the owner as
// WM_COMMAND unless TPM_NONOTIFY is given. A null or destroyed menu fails (0).
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);

// Accelerator tables: from the module's RT_ACCELERATOR resources (as LoadMenuW), or from entries.
HACCEL LoadAcceleratorsW(HINSTANCE module, const wchar_t* name);
HACCEL CreateAcceleratorTableW(const ACCEL* entries, int count);
// Copies at most count entries; with a null out the answer is the table's size.
int CopyAcceleratorTableW(HACCEL table, ACCEL* out, int count);
BOOL DestroyAcceleratorTable(HACCEL table);

namespace WinMenuTest {

// A pop-up as it was tracked: its items' commands and texts (0 and an empty text for separators and
// sub-menus), the flags, the point and the owner, and the answer it got.
struct TrackCall {
    std::vector<UINT> commands;
    std::vector<std::wstring> texts;
    UINT flags;
    int x;
    int y;
    HWND owner;
    UINT chosen;
};

// The next tracked pop-up chooses the command (0: it is dismissed); a command that is not among the
// pop-up's items (its sub-menus included) dismisses it too.
void QueueChoice(UINT command);
std::vector<TrackCall> TrackCalls();
// Forgets the queued choices and the recorded calls.
void Reset();
// Menus and accelerator tables alive, for leak checks.
std::size_t LiveMenus();
std::size_t LiveAcceleratorTables();

} // namespace WinMenuTest

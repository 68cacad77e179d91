// The desktop window, whose client area is the screen (its size set through WinSeams::SetDesktopSize), and
// the main window of each user-interface thread: the window a thread names as its main one, the parent of
// the dialogs that code on that thread opens.
#pragma once

#include "WinUser.h"

// The desktop size unless WinSeams::SetDesktopSize changes it.
constexpr LONG kDefaultDesktopWidth = 1920;
constexpr LONG kDefaultDesktopHeight = 1080;

// The one desktop window of the process. It belongs to no thread, so nothing can destroy, move or send to
// it; its client rectangle is (0, 0) to the desktop size.
HWND GetDesktopWindow();

// Names the calling thread's main window; false (and nothing changed) for a window that does not exist or
// belongs to another thread. A null window clears it.
BOOL SetThreadMainWindow(HWND window);
// The calling thread's main window while it exists; null when none was named or it has been destroyed.
HWND GetThreadMainWindow();

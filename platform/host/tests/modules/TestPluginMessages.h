// The commands of the generic test plug-ins and the message by which the host tests look inside them. Ids
// outside the host's ranges.
#pragma once

#include "platform/kvtrtl/KvwHostTypes.h"

namespace TestPlugin {

// The plug-in's dialog on the host selection (the framework's default command).
constexpr DWORD kOpenDialog = 0x5101;
// A task with progress: the progress dialog opens modelessly and closes when its user cancels.
constexpr DWORD kShowProgress = 0x5102;
// p3 = HWND*: the progress dialog's window, null while there is none.
constexpr DWORD kProgressWindow = 0x7E000101;

} // namespace TestPlugin

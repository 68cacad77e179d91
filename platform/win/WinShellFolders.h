// The desktop's autostart folders, which stand in for the Startup folders of the shell: the user's
// ($XDG_CONFIG_HOME/autostart, ~/.config/autostart when the variable is unset or not an absolute path) and
// all users' (the first absolute folder of $XDG_CONFIG_DIRS, /etc/xdg when there is none, + "/autostart").
// The environment is read at every call. Neither folder is made here.
#pragma once

#include <string>

namespace WinShell {

// Empty when no folder can be named (no XDG_CONFIG_HOME and no home folder).
std::string UserAutostartFolder();
std::string CommonAutostartFolder();

} // namespace WinShell

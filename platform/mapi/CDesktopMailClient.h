// The desktop's mail client, reached through xdg-email: in a desktop session (DISPLAY or WAYLAND_DISPLAY
// set) with xdg-email on PATH, a new message is opened in the user's mail client with the files attached.
#pragma once

#include <string>
#include <vector>

class CDesktopMailClient {
public:
    static constexpr const char* kProgram = "xdg-email";

    // True in a desktop session.
    static bool HasDesktopSession();
    // The executable file that PATH finds for the program; empty when there is none.
    static std::string FindOnPath(const char* program);
    // Runs "xdg-email --attach FILE ..." (absolute paths, each one argument, no shell) and waits until it
    // ends, so that the files are still there while the client takes them; true when it ended with 0. False
    // without a session or the program, without starting anything.
    static bool Compose(const std::vector<std::string>& paths);
};

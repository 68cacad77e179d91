// What the launcher needs of the machine: registry strings, starting a program and waiting for it, and
// deleting a file. Tests put a recording fake in its place.
#pragma once

#include <string>

class IStartwickPlatform {
public:
    enum class Root { LocalMachine, Users };

    virtual ~IStartwickPlatform() = default;
    // The string value of the key; false when the key or the value is missing or not a string.
    virtual bool ReadString(Root root, const std::string& key, const std::string& value,
                            std::string& text) = 0;
    // Starts the program at the exact path with no arguments and waits until it has ended; false when it
    // could not be started.
    virtual bool StartAndWait(const std::string& path) = 0;
    // Deletes the file; false when there was none.
    virtual bool DeleteFile(const std::string& path) = 0;
};

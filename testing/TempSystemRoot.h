// A fresh machine for one test: KV_SYSTEM_ROOT points at a new temporary folder while the owner lives,
// and goes back to what it was afterwards.
#pragma once

#include "testing/TempFolder.h"

#include <optional>
#include <string>

namespace kvtest {

class TempSystemRoot {
public:
    TempSystemRoot();
    ~TempSystemRoot();
    TempSystemRoot(const TempSystemRoot&) = delete;
    TempSystemRoot& operator=(const TempSystemRoot&) = delete;

    const std::string& Path() const { return m_folder.Path(); }
    std::string File(const std::string& name) const { return m_folder.File(name); }

private:
    TempFolder m_folder;
    std::optional<std::string> m_previous;
};

} // namespace kvtest

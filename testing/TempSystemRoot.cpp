#include "TempSystemRoot.h"

#include <cstdlib>

namespace kvtest {

TempSystemRoot::TempSystemRoot() {
    if (const char* previous = std::getenv("KV_SYSTEM_ROOT"))
        m_previous = previous;
    setenv("KV_SYSTEM_ROOT", m_folder.Path().c_str(), 1);
}

TempSystemRoot::~TempSystemRoot() {
    if (m_previous)
        setenv("KV_SYSTEM_ROOT", m_previous->c_str(), 1);
    else
        unsetenv("KV_SYSTEM_ROOT");
}

} // namespace kvtest

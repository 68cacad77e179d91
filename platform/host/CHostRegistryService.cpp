#include "CHostRegistryService.h"

#include <algorithm>

void CHostRegistryService::FailEntry(Entry entry, KvwResult result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failures[entry] = result;
}

void CHostRegistryService::ClearFailures() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failures.clear();
}

std::optional<std::string> CHostRegistryService::Text(const std::string& key, const std::string& name) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_values.find({key, name});
    if (it == m_values.end() || it->second.binary)
        return std::nullopt;
    return std::string(it->second.bytes.begin(), it->second.bytes.end());
}

std::optional<std::vector<BYTE>> CHostRegistryService::Binary(const std::string& key,
                                                              const std::string& name) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_values.find({key, name});
    if (it == m_values.end() || !it->second.binary)
        return std::nullopt;
    return it->second.bytes;
}

void CHostRegistryService::PutText(const std::string& key, const std::string& name, const std::string& text) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_keys.insert(key);
    m_values[{key, name}] = Value{false, std::vector<BYTE>(text.begin(), text.end())};
}

std::vector<CHostRegistryService::Entry> CHostRegistryService::Calls() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

std::size_t CHostRegistryService::OpenKeys() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open.size();
}

int CHostRegistryService::Commits() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_commits;
}

KvwResult CHostRegistryService::EnterLocked(Entry entry) {
    m_calls.push_back(entry);
    auto it = m_failures.find(entry);
    return it == m_failures.end() ? kKvwOk : it->second;
}

const std::string* CHostRegistryService::CurrentKeyLocked() const {
    return m_open.empty() ? nullptr : &m_open.back();
}

KvwResult CHostRegistryService::CreateKey(DWORD, const char* key) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const KvwResult failure = EnterLocked(kCreateKey))
        return failure;
    if (!key)
        return kKvwInvalidArgument;
    m_keys.insert(key);
    m_open.emplace_back(key);
    return kKvwOk;
}

KvwResult CHostRegistryService::OpenKey(DWORD, const char* key) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const KvwResult failure = EnterLocked(kOpenKey))
        return failure;
    if (!key)
        return kKvwInvalidArgument;
    if (!m_keys.count(key))
        return kKvwNothingToWorkOn;
    m_open.emplace_back(key);
    return kKvwOk;
}

KvwResult CHostRegistryService::CloseKey() {
    std::lock_guard<std::mutex> guard(m_lock);
    const KvwResult failure = EnterLocked(kCloseKey);
    if (m_open.empty())
        return failure ? failure : kKvwInvalidArgument;
    m_open.pop_back();
    return failure;
}

KvwResult CHostRegistryService::SetText(const char* name, const char* text) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const KvwResult failure = EnterLocked(kSetText))
        return failure;
    const std::string* key = CurrentKeyLocked();
    if (!key || !name || !text)
        return kKvwInvalidArgument;
    const std::string value(text);
    m_values[{*key, name}] = Value{false, std::vector<BYTE>(value.begin(), value.end())};
    return kKvwOk;
}

KvwResult CHostRegistryService::GetText(const char* name, std::string* text) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const KvwResult failure = EnterLocked(kGetText))
        return failure;
    const std::string* key = CurrentKeyLocked();
    if (!key || !name || !text)
        return kKvwInvalidArgument;
    auto it = m_values.find({*key, name});
    if (it == m_values.end() || it->second.binary)
        return kKvwNothingToWorkOn;
    text->assign(it->second.bytes.begin(), it->second.bytes.end());
    return kKvwOk;
}

KvwResult CHostRegistryService::SetBinary(const char* name, const BYTE* data, DWORD size) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const KvwResult failure = EnterLocked(kSetBinary))
        return failure;
    const std::string* key = CurrentKeyLocked();
    if (!key || !name || (!data && size > 0))
        return kKvwInvalidArgument;
    m_values[{*key, name}] = Value{true, std::vector<BYTE>(data, data + size)};
    return kKvwOk;
}

KvwResult CHostRegistryService::GetBinary(const char* name, BYTE* buffer, DWORD bufferSize, DWORD* size) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const KvwResult failure = EnterLocked(kGetBinary))
        return failure;
    const std::string* key = CurrentKeyLocked();
    if (!key || !name || !size)
        return kKvwInvalidArgument;
    auto it = m_values.find({*key, name});
    if (it == m_values.end() || !it->second.binary)
        return kKvwNothingToWorkOn;
    const std::vector<BYTE>& bytes = it->second.bytes;
    *size = static_cast<DWORD>(bytes.size());
    if (!buffer)
        return kKvwOk;
    if (bufferSize < bytes.size())
        return kKvwInvalidArgument;
    std::copy(bytes.begin(), bytes.end(), buffer);
    return kKvwOk;
}

KvwResult CHostRegistryService::Commit(DWORD) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const KvwResult failure = EnterLocked(kCommit))
        return failure;
    ++m_commits;
    return kKvwOk;
}

// The host's registry service (service 19), kept in memory: text and byte values by key and value name,
// keys opened for reading only when they exist and made when they are created for writing, open keys on a
// stack. Tests make any entry of the service's table fail, and read what it holds and how it was called.
#pragma once

#include "CHostServices.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class CHostRegistryService : public CHostService<IKvwRegistryService> {
public:
    // The entries of the service's table that can be made to fail.
    enum Entry : int {
        kCreateKey = 5,
        kOpenKey = 6,
        kCloseKey = 8,
        kSetText = 13,
        kGetText = 14,
        kSetBinary = 15,
        kGetBinary = 16,
        kCommit = 17,
    };
    static constexpr Entry kEntries[] = {kCreateKey, kOpenKey,   kCloseKey,  kSetText,
                                         kGetText,   kSetBinary, kGetBinary, kCommit};

    // The entry answers the failure word and does nothing until the failures are cleared. (A failing
    // close still closes the key, so that no key stays open.)
    void FailEntry(Entry entry, KvwResult result);
    void ClearFailures();

    // What the service holds; nothing for a value it has not, or of the other kind.
    std::optional<std::string> Text(const std::string& key, const std::string& name) const;
    std::optional<std::vector<BYTE>> Binary(const std::string& key, const std::string& name) const;
    // Stores a value as a module's write would, under a key made for it.
    void PutText(const std::string& key, const std::string& name, const std::string& text);
    // The entries called so far, in order; keys still open; completed series of writes.
    std::vector<Entry> Calls() const;
    std::size_t OpenKeys() const;
    int Commits() const;

    KvwResult CreateKey(DWORD scope, const char* key) override;
    KvwResult OpenKey(DWORD scope, const char* key) override;
    KvwResult CloseKey() override;
    KvwResult SetText(const char* name, const char* text) override;
    KvwResult GetText(const char* name, std::string* text) override;
    KvwResult SetBinary(const char* name, const BYTE* data, DWORD size) override;
    KvwResult GetBinary(const char* name, BYTE* buffer, DWORD bufferSize, DWORD* size) override;
    KvwResult Commit(DWORD scope) override;

private:
    struct Value {
        bool binary = false;
        std::vector<BYTE> bytes;
    };
    using Name = std::pair<std::string, std::string>;

    // With the lock held: records the call; the failure word of the entry, or 0.
    KvwResult EnterLocked(Entry entry);
    // With the lock held: the key opened last, or null.
    const std::string* CurrentKeyLocked() const;

    mutable std::mutex m_lock;
    std::map<Entry, KvwResult> m_failures;
    std::set<std::string> m_keys;
    std::map<Name, Value> m_values;
    std::vector<std::string> m_open;
    std::vector<Entry> m_calls;
    int m_commits = 0;
};

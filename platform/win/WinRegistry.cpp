#include "WinRegistry.h"

#include "WinShellFolders.h"
#include "WinSystemRoot.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kLocalMachine = "HKEY_LOCAL_MACHINE";
constexpr const char* kCurrentUser = "HKEY_CURRENT_USER";
constexpr const char* kUsers = "HKEY_USERS";
constexpr const char* kPredefinedRoots[] = {kLocalMachine, kCurrentUser, kUsers};

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string text;
    DWORD number = 0;
};

struct Key {
    std::string path; // root name and components joined with '\'
    std::vector<Value> values;
};

struct Store {
    bool available = false; // there is a machine folder to keep the file in
    bool malformed = false; // some line of the file could not be read
    std::vector<Key> keys;
};

struct Slot {
    std::string path;
    REGSAM access = 0;
    DWORD generation = 1;
    bool used = false;
};

constexpr DWORD kSlotBits = 20;
constexpr DWORD kGenerationLimit = 1u << 11; // keeps handle numbers below the predefined keys' 0x80000000

std::mutex g_lock;
std::vector<Slot> g_slots;

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::vector<std::string> Components(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) {
        if (!path.empty())
            path += '\\';
        path += part;
    }
    return path;
}

// A key path from the file with its root spelled as the predefined key; empty when the root is unknown.
std::string CanonicalKeyPath(std::string_view text) {
    std::vector<std::string> parts = Components(text);
    if (parts.empty())
        return {};
    for (const char* root : kPredefinedRoots) {
        if (SameIgnoringCase(parts[0], root)) {
            parts[0] = root;
            return Join(parts);
        }
    }
    return {};
}

std::string StorePath(const std::string& root) {
    return root + "/registry.txt";
}

std::string Quote(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        switch (c) {
        case '\\':
            quoted += "\\\\";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            quoted += c;
        }
    }
    return quoted + '"';
}

// Reads a quoted text at `at` and moves past it.
bool Unquote(std::string_view line, std::size_t& at, std::string& text) {
    if (at >= line.size() || line[at] != '"')
        return false;
    text.clear();
    for (++at; at < line.size(); ++at) {
        const char c = line[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++at >= line.size())
            return false;
        switch (line[at]) {
        case '\\':
            text += '\\';
            break;
        case '"':
            text += '"';
            break;
        case 'n':
            text += '\n';
            break;
        case 'r':
            text += '\r';
            break;
        case 't':
            text += '\t';
            break;
        default:
            return false;
        }
    }
    return false;
}

bool ParseNumber(std::string_view digits, DWORD& number) {
    if (digits.empty() || digits.size() > 8)
        return false;
    number = 0;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int d = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        number = number * 16 + static_cast<DWORD>(d);
    }
    return true;
}

Key* FindKey(Store& store, std::string_view path) {
    for (Key& key : store.keys)
        if (SameIgnoringCase(key.path, path))
            return &key;
    return nullptr;
}

// A key exists when it is in the file or some key below it is.
bool KeyExists(const Store& store, std::string_view path) {
    for (const char* root : kPredefinedRoots)
        if (SameIgnoringCase(path, root))
            return true;
    for (const Key& key : store.keys) {
        if (SameIgnoringCase(key.path, path))
            return true;
        if (key.path.size() > path.size() && key.path[path.size()] == '\\' &&
            SameIgnoringCase(std::string_view(key.path).substr(0, path.size()), path))
            return true;
    }
    return false;
}

Value* FindValue(Key& key, std::string_view name) {
    for (Value& value : key.values)
        if (SameIgnoringCase(value.name, name))
            return &value;
    return nullptr;
}

void SetValue(Key& key, Value value) {
    if (Value* existing = FindValue(key, value.name)) {
        value.name = existing->name;
        *existing = std::move(value);
    } else {
        key.values.push_back(std::move(value));
    }
}

void Parse(std::istream& in, Store& store) {
    std::string line;
    Key* current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line[at] == '#' || line[at] == ';')
            continue;
        if (line[at] == '[') {
            const std::size_t close = line.rfind(']');
            const std::string path = close != std::string::npos && close > at
                                         ? CanonicalKeyPath(line.substr(at + 1, close - at - 1))
                                         : std::string();
            if (path.empty()) {
                store.malformed = true;
                current = nullptr;
                continue;
            }
            current = FindKey(store, path);
            if (!current) {
                store.keys.push_back({path, {}});
                current = &store.keys.back();
            }
            continue;
        }
        Value value;
        if (!current || !Unquote(line, at, value.name) || at >= line.size() || line[at] != '=') {
            store.malformed = true;
            continue;
        }
        ++at;
        const std::string_view rest = std::string_view(line).substr(at);
        if (rest.rfind("dword:", 0) == 0 && ParseNumber(rest.substr(6), value.number)) {
            value.type = REG_DWORD;
        } else if (Unquote(line, at, value.text) && at == line.size()) {
            value.type = REG_SZ;
        } else {
            store.malformed = true;
            continue;
        }
        SetValue(*current, std::move(value));
    }
}

bool Save(const Store& store) {
    const std::string root = WinSystem::GetSystemRoot();
    if (root.empty())
        return false;
    std::ostringstream text;
    text << "# Registry of this machine: keys in brackets, then their values.\n";
    for (const Key& key : store.keys) {
        text << '[' << key.path << "]\n";
        for (const Value& value : key.values) {
            text << Quote(value.name) << '=';
            if (value.type == REG_DWORD) {
                char digits[16];
                std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(value.number));
                text << digits << '\n';
            } else {
                text << Quote(value.text) << '\n';
            }
        }
    }
    // Written beside the store and renamed over it, so a reader never sees half a file.
    const std::string path = StorePath(root);
    const std::string temporary = path + ".new." + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text.str();
        out.flush();
        if (!out) {
            std::error_code ec;
            std::filesystem::remove(temporary, ec);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

constexpr const char* kVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kShellFoldersKey = "\\Explorer\\Shell Folders";

// A fresh machine's folder value: the folder is made under the root and the value points at it.
void AddFolderValue(Store& store, const std::string& root, const std::string& keyPath, const char* name,
                    const char* folder) {
    std::error_code ec;
    std::filesystem::create_directories(root + folder, ec);
    Value value;
    value.name = name;
    value.type = REG_SZ;
    value.text = root + folder;
    store.keys.push_back({keyPath, {}});
    store.keys.back().values.push_back(std::move(value));
}

// The shell keeps its Startup folders current: they are the desktop's autostart folders as the environment
// names them now, whatever the store held (the machine's own folders when no folder can be named).
void RefreshStartupFolders(Store& store, const std::string& root) {
    const struct {
        std::string keyPath;
        const char* name;
        std::string folder;
        const char* fallback;
    } folders[] = {{std::string(kUsers) + "\\.DEFAULT\\" + kVersionKey + kShellFoldersKey, "Startup",
                    WinShell::UserAutostartFolder(), "/Default User/Startup"},
                   {std::string(kLocalMachine) + "\\" + kVersionKey + kShellFoldersKey, "Common Startup",
                    WinShell::CommonAutostartFolder(), "/All Users/Startup"}};
    for (const auto& f : folders) {
        Key* key = FindKey(store, f.keyPath);
        if (!key) {
            store.keys.push_back({f.keyPath, {}});
            key = &store.keys.back();
        }
        Value value;
        value.name = f.name;
        value.type = REG_SZ;
        if (!f.folder.empty()) {
            value.text = f.folder;
        } else if (const Value* stored = FindValue(*key, f.name); stored && stored->type == REG_SZ) {
            continue;
        } else {
            std::error_code ec;
            std::filesystem::create_directories(root + f.fallback, ec);
            value.text = root + f.fallback;
        }
        SetValue(*key, std::move(value));
    }
}

void AddTextValue(Store& store, const std::string& keyPath, const char* name, const char* text) {
    Value value;
    value.name = name;
    value.type = REG_SZ;
    value.text = text;
    store.keys.push_back({keyPath, {}});
    store.keys.back().values.push_back(std::move(value));
}

// The store as the file has it; a machine without the file gets its first store.
Store Load() {
    Store store;
    const std::string root = WinSystem::GetSystemRoot();
    if (root.empty())
        return store;
    store.available = true;
    const std::string path = StorePath(root);
    std::ifstream in(path, std::ios::binary);
    if (in) {
        Parse(in, store);
        if (!store.malformed)
            RefreshStartupFolders(store, root);
        return store;
    }
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        store.malformed = true; // there but unreadable: never overwrite it
        return store;
    }
    AddFolderValue(store, root, std::string(kLocalMachine) + "\\" + kVersionKey, "CommonFilesDir",
                   "/Common Files");
    // An installed tree's data files come with a fresh machine; a copy, since the machine's profile folder
    // also takes the camera profiles generated on it.
    WinSystem::CopyInstalledCommonFiles(root + "/Common Files");
    RefreshStartupFolders(store, root);
    const std::string clients = std::string(kLocalMachine) + "\\" + kRegMailClientsKey;
    AddTextValue(store, clients, "", kRegDefaultMailClient);
    AddTextValue(store, clients + "\\" + kRegDefaultMailClient, "From", kRegDefaultMailFrom);
    AddTextValue(store, std::string(kLocalMachine) + "\\" + kRegMailProfileKey, "MAPI", "1");
    Save(store);
    return store;
}

HKEY MakeHandle(std::size_t index, DWORD generation) {
    return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>((generation << kSlotBits) | (index + 1)));
}

// The key path and access behind a handle; false for a handle that is not open.
bool Resolve(HKEY key, std::string& path, REGSAM& access) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_USERS) {
        path = key == HKEY_LOCAL_MACHINE ? kLocalMachine : key == HKEY_CURRENT_USER ? kCurrentUser : kUsers;
        access = KEY_ALL_ACCESS;
        return true;
    }
    const std::uintptr_t number = reinterpret_cast<std::uintptr_t>(key);
    if (number == 0 || number >= 0x80000000u)
        return false;
    const std::size_t index = (number & ((1u << kSlotBits) - 1)) - 1;
    const DWORD generation = static_cast<DWORD>(number >> kSlotBits);
    if (index >= g_slots.size() || !g_slots[index].used || g_slots[index].generation != generation)
        return false;
    path = g_slots[index].path;
    access = g_slots[index].access;
    return true;
}

// The key path behind a handle opened with the right a value call needs; otherwise the error it answers.
LONG ResolveFor(HKEY key, REGSAM needed, std::string& path) {
    REGSAM access = 0;
    if (!Resolve(key, path, access))
        return ERROR_INVALID_HANDLE;
    return access & needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG Issue(const std::string& path, REGSAM access, PHKEY result) {
    std::size_t index = 0;
    while (index < g_slots.size() && g_slots[index].used)
        ++index;
    if (index >= (1u << kSlotBits) - 1)
        return ERROR_OUTOFMEMORY;
    if (index == g_slots.size())
        g_slots.emplace_back();
    Slot& slot = g_slots[index];
    slot.path = path;
    slot.access = access;
    slot.used = true;
    *result = MakeHandle(index, slot.generation);
    return ERROR_SUCCESS;
}

std::string SubPath(const std::string& base, const char* subKey) {
    std::vector<std::string> parts = Components(base);
    if (subKey)
        for (std::string& part : Components(subKey))
            parts.push_back(std::move(part));
    return Join(parts);
}

} // namespace

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, PHKEY result) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        std::string base;
        REGSAM baseAccess = 0;
        if (!Resolve(key, base, baseAccess))
            return ERROR_INVALID_HANDLE;
        const std::string path = SubPath(base, subKey);
        if (!KeyExists(Load(), path))
            return ERROR_FILE_NOT_FOUND;
        return Issue(path, access, result);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM access, void* security, PHKEY result, DWORD* disposition) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        std::string base;
        REGSAM baseAccess = 0;
        if (!Resolve(key, base, baseAccess))
            return ERROR_INVALID_HANDLE;
        const std::string path = SubPath(base, subKey);
        Store store = Load();
        const bool exists = KeyExists(store, path);
        if (!exists) {
            if (!store.available)
                return ERROR_WRITE_FAULT;
            if (store.malformed)
                return ERROR_INVALID_DATA;
            store.keys.push_back({path, {}});
            if (!Save(store))
                return ERROR_WRITE_FAULT;
        }
        const LONG issued = Issue(path, access, result);
        if (issued == ERROR_SUCCESS && disposition)
            *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
        return issued;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    if (data && !dataSize)
        return ERROR_INVALID_PARAMETER;
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        std::string path;
        if (const LONG resolved = ResolveFor(key, KEY_QUERY_VALUE, path); resolved != ERROR_SUCCESS)
            return resolved;
        Store store = Load();
        Key* found = FindKey(store, path);
        const Value* value = found ? FindValue(*found, valueName ? valueName : "") : nullptr;
        if (!value)
            return ERROR_FILE_NOT_FOUND;

        BYTE number[4];
        const BYTE* bytes = nullptr;
        DWORD needed = 0;
        if (value->type == REG_DWORD) {
            for (int i = 0; i < 4; ++i)
                number[i] = static_cast<BYTE>(value->number >> (8 * i));
            bytes = number;
            needed = 4;
        } else {
            bytes = reinterpret_cast<const BYTE*>(value->text.c_str());
            needed = static_cast<DWORD>(value->text.size() + 1);
        }
        if (type)
            *type = value->type;
        if (!data) {
            if (dataSize)
                *dataSize = needed;
            return ERROR_SUCCESS;
        }
        const DWORD room = *dataSize;
        *dataSize = needed;
        if (room < needed)
            return ERROR_MORE_DATA;
        std::memcpy(data, bytes, needed);
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    if (dataSize && !data)
        return ERROR_INVALID_PARAMETER;
    try {
        Value value;
        value.name = valueName ? valueName : "";
        value.type = type;
        if (type == REG_SZ) {
            const void* nul = dataSize ? std::memchr(data, 0, dataSize) : nullptr;
            const std::size_t length =
                nul ? static_cast<std::size_t>(static_cast<const BYTE*>(nul) - data) : dataSize;
            value.text.assign(reinterpret_cast<const char*>(data), length);
        } else if (type == REG_DWORD && dataSize == 4) {
            value.number = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                           static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
        } else {
            return ERROR_INVALID_PARAMETER;
        }

        std::lock_guard<std::mutex> guard(g_lock);
        std::string path;
        if (const LONG resolved = ResolveFor(key, KEY_SET_VALUE, path); resolved != ERROR_SUCCESS)
            return resolved;
        Store store = Load();
        if (!store.available)
            return ERROR_WRITE_FAULT;
        if (store.malformed)
            return ERROR_INVALID_DATA;
        Key* target = FindKey(store, path);
        if (!target) {
            if (!KeyExists(store, path))
                return ERROR_FILE_NOT_FOUND; // removed from the file since it was opened
            store.keys.push_back({path, {}});
            target = &store.keys.back();
        }
        SetValue(*target, std::move(value));
        return Save(store) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG RegDeleteValueA(HKEY key, const char* valueName) {
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        std::string path;
        if (const LONG resolved = ResolveFor(key, KEY_SET_VALUE, path); resolved != ERROR_SUCCESS)
            return resolved;
        Store store = Load();
        if (store.malformed)
            return ERROR_INVALID_DATA;
        Key* found = FindKey(store, path);
        const std::string name = valueName ? valueName : "";
        Value* value = found ? FindValue(*found, name) : nullptr;
        if (!value)
            return ERROR_FILE_NOT_FOUND;
        found->values.erase(found->values.begin() + (value - found->values.data()));
        return Save(store) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    if (!subKey || !*subKey)
        return ERROR_INVALID_PARAMETER;
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        std::string base;
        REGSAM access = 0;
        if (!Resolve(key, base, access))
            return ERROR_INVALID_HANDLE;
        const std::string path = SubPath(base, subKey);
        Store store = Load();
        if (store.malformed)
            return ERROR_INVALID_DATA;
        if (!KeyExists(store, path))
            return ERROR_FILE_NOT_FOUND;
        for (const Key& other : store.keys) {
            if (other.path.size() > path.size() && other.path[path.size()] == '\\' &&
                SameIgnoringCase(std::string_view(other.path).substr(0, path.size()), path))
                return ERROR_ACCESS_DENIED;
        }
        std::erase_if(store.keys, [&](const Key& k) { return SameIgnoringCase(k.path, path); });
        return Save(store) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_USERS)
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> guard(g_lock);
    std::string path;
    REGSAM access = 0;
    if (!Resolve(key, path, access))
        return ERROR_INVALID_HANDLE;
    Slot& slot = g_slots[(reinterpret_cast<std::uintptr_t>(key) & ((1u << kSlotBits) - 1)) - 1];
    slot.used = false;
    slot.path.clear();
    slot.generation = slot.generation + 1 < kGenerationLimit ? slot.generation + 1 : 1;
    return ERROR_SUCCESS;
}

// The MAPI32 library: MAPISendMail opens a new message with the files attached in the desktop's mail client
// (CDesktopMailClient.h). Without a desktop session or xdg-email, or when the client cannot be reached, it
// writes the message as a draft into the machine's outbox ("<KV_SYSTEM_ROOT>/Outbox"), where the user's mail
// program opens it as a new message to send. The draft is from the address the default mail client's key
// holds ("From"). Recipients, subject and note text are not written: the user gives them in the mail program.
#include "CDesktopMailClient.h"
#include "CMailDraft.h"
#include "MAPI.h"

#include "platform/win/WinPath.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinSystemRoot.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<unsigned> g_drafts{0};

std::string QueryText(HKEY key, const char* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
        size == 0)
        return std::string();
    std::string text(size, '\0');
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS)
        return std::string();
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    return text;
}

// The default client's "From", without line breaks that would end the header; the machine's default
// address when none is registered.
std::string FromAddress() {
    std::string from;
    HKEY clients = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegMailClientsKey, 0, KEY_QUERY_VALUE, &clients) ==
        ERROR_SUCCESS) {
        const std::string client = QueryText(clients, "");
        HKEY own = nullptr;
        if (!client.empty() &&
            RegOpenKeyExA(clients, client.c_str(), 0, KEY_QUERY_VALUE, &own) == ERROR_SUCCESS) {
            from = QueryText(own, "From");
            RegCloseKey(own);
        }
        RegCloseKey(clients);
    }
    std::erase_if(from, [](char c) { return c == '\r' || c == '\n'; });
    return from.empty() ? std::string(kRegDefaultMailFrom) : from;
}

// The file's bytes; false for anything that is not a regular file that can be read to its end.
bool ReadWhole(const char* path, std::vector<std::uint8_t>& bytes) {
    const int descriptor = open(WinPath::ToNative(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    struct stat info {};
    bool ok = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
    std::uint8_t block[65536];
    while (ok) {
        const ssize_t got = read(descriptor, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        bytes.insert(bytes.end(), block, block + got);
    }
    close(descriptor);
    return ok;
}

std::string LastComponent(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool WriteAll(int descriptor, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(descriptor, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Writes the draft under a temporary name and then gives it a name of its own, never one that another
// draft has; nothing is left behind on failure.
bool Store(const std::string& outbox, const std::string& draft, const std::string& stem) {
    std::string temporary = outbox + "/.draft-XXXXXX";
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0)
        return false;
    const bool written = WriteAll(descriptor, draft) && fsync(descriptor) == 0;
    const bool closed = close(descriptor) == 0;
    bool stored = false;
    if (written && closed) {
        for (unsigned attempt = 0; attempt < 1000 && !stored; ++attempt) {
            const std::string name =
                outbox + "/" + stem + (attempt ? "-" + std::to_string(attempt) : std::string()) + ".eml";
            if (link(temporary.c_str(), name.c_str()) == 0)
                stored = true;
            else if (errno != EEXIST)
                break;
        }
    }
    unlink(temporary.c_str());
    return stored;
}

ULONG SendMail(const MapiMessage* message) {
    if (!message || (message->nFileCount && !message->lpFiles))
        return MAPI_E_FAILURE;
    const auto now = std::chrono::system_clock::now();
    const std::int64_t seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const unsigned number = ++g_drafts;
    std::mt19937_64 random{std::random_device{}()};
    char stem[96], id[160];
    std::snprintf(stem, sizeof stem, "draft-%lld-%d-%u", static_cast<long long>(seconds),
                  static_cast<int>(getpid()), number);
    std::snprintf(id, sizeof id, "<%s.%016llx@localhost>", stem, static_cast<unsigned long long>(random()));

    // Every file is read first: one that cannot be is refused before any client or draft sees the message.
    CMailDraft draft(FromAddress(), seconds, id);
    std::vector<std::string> paths;
    for (ULONG i = 0; i < message->nFileCount; ++i) {
        const MapiFileDesc& file = message->lpFiles[i];
        CMailDraft::Attachment attachment;
        if (!file.lpszPathName || !ReadWhole(file.lpszPathName, attachment.bytes))
            return MAPI_E_ATTACHMENT_OPEN_FAILURE;
        attachment.name = file.lpszFileName && *file.lpszFileName ? std::string(file.lpszFileName)
                                                                  : LastComponent(file.lpszPathName);
        draft.Add(std::move(attachment));
        paths.push_back(WinPath::ToNative(file.lpszPathName));
    }
    if (CDesktopMailClient::Compose(paths))
        return SUCCESS_SUCCESS;
    const std::string text = draft.Compose();

    const std::string root = WinSystem::GetSystemRoot();
    if (root.empty())
        return MAPI_E_FAILURE;
    const std::string outbox = root + "/Outbox";
    std::error_code ec;
    std::filesystem::create_directories(outbox, ec);
    if (ec)
        return MAPI_E_FAILURE;
    return Store(outbox, text, stem) ? SUCCESS_SUCCESS : MAPI_E_FAILURE;
}

} // namespace

extern "C" __attribute__((visibility("default"))) ULONG MAPISendMail(LHANDLE session, std::uintptr_t uiParam,
                                                                     MapiMessage* message, FLAGS flags,
                                                                     ULONG reserved) noexcept {
    (void)session, (void)uiParam, (void)flags, (void)reserved;
    try {
        return SendMail(message);
    } catch (const std::bad_alloc&) {
        return MAPI_E_INSUFFICIENT_MEMORY;
    } catch (...) {
        return MAPI_E_FAILURE;
    }
}

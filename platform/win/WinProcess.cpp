#include "WinProcess.h"

#include "WinKernelObject.h"
#include "WinPath.h"

#include <cerrno>
#include <csignal>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

class ProcessObject : public WinKernel::KernelObject {
public:
    bool IsSignalled() const override { return m_ended; }

    // With KernelLock() held.
    void End(DWORD exitCode) {
        m_exitCode = exitCode;
        m_ended = true;
        WakeWaiters();
    }
    bool Ended() const { return m_ended; }
    DWORD ExitCode() const { return m_exitCode; }

private:
    bool m_ended = false;
    DWORD m_exitCode = STILL_ACTIVE;
};

DWORD ExitCodeOf(int status) {
    if (WIFEXITED(status))
        return static_cast<DWORD>(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return 128 + static_cast<DWORD>(WTERMSIG(status));
    return 0;
}

DWORD ErrorOf(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOEXEC:
        return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
    case EAGAIN:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

// The spawn settings every program gets: no descriptor above standard error, the signal dispositions and
// mask of a freshly logged-on program (this process may ignore SIGPIPE or block signals for its threads).
class SpawnSettings {
public:
    SpawnSettings() {
        m_ok = posix_spawn_file_actions_init(&m_actions) == 0;
        m_ok = posix_spawnattr_init(&m_attributes) == 0 && m_ok;
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    int Prepare(const char* currentDirectory) {
        if (!m_ok)
            return ENOMEM;
        sigset_t none, defaults;
        sigemptyset(&none);
        sigfillset(&defaults);
        sigdelset(&defaults, SIGKILL);
        sigdelset(&defaults, SIGSTOP);
        int error = posix_spawn_file_actions_addclosefrom_np(&m_actions, STDERR_FILENO + 1);
        if (!error && currentDirectory)
            error = posix_spawn_file_actions_addchdir_np(&m_actions, currentDirectory);
        if (!error)
            error = posix_spawnattr_setsigmask(&m_attributes, &none);
        if (!error)
            error = posix_spawnattr_setsigdefault(&m_attributes, &defaults);
        if (!error)
            error = posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        return error;
    }
    const posix_spawn_file_actions_t* Actions() const { return &m_actions; }
    const posix_spawnattr_t* Attributes() const { return &m_attributes; }

private:
    bool m_ok = false;
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

} // namespace

BOOL CreateProcessA(const char* applicationName, char* commandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL inheritHandles, DWORD creationFlags, void* environment,
                    const char* currentDirectory, STARTUPINFOA*, PROCESS_INFORMATION* processInformation) {
    if (!applicationName || !*applicationName || !processInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (commandLine || inheritHandles || creationFlags || environment) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    try {
        const std::string path = WinPath::ToNative(applicationName);
        const std::string folder = currentDirectory ? WinPath::ToNative(currentDirectory) : std::string();
        SpawnSettings settings;
        int error = settings.Prepare(currentDirectory ? folder.c_str() : nullptr);
        pid_t pid = 0;
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        if (!error)
            error = posix_spawn(&pid, path.c_str(), settings.Actions(), settings.Attributes(), argv, environ);
        if (error) {
            SetLastError(ErrorOf(error));
            return FALSE;
        }

        auto process = std::make_shared<ProcessObject>();
        // The process is reaped by a thread of its own, which holds the object, so the handles may be
        // closed at any time and the program never stays a zombie.
        std::thread([process, pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
            process->End(ExitCodeOf(status));
        }).detach();

        const HANDLE processHandle = WinKernel::AddHandle(process);
        const HANDLE threadHandle = processHandle ? WinKernel::AddHandle(process) : 0;
        if (!threadHandle) {
            if (processHandle)
                CloseHandle(processHandle);
            return FALSE; // the program runs on and is reaped; the caller only has no handle to wait on
        }
        processInformation->hProcess = processHandle;
        processInformation->hThread = threadHandle;
        processInformation->dwProcessId = static_cast<DWORD>(pid);
        processInformation->dwThreadId = static_cast<DWORD>(pid);
        return TRUE;
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
    auto object = WinKernel::FindHandleOf<ProcessObject>(process);
    if (!object || !exitCode) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
    *exitCode = object->Ended() ? object->ExitCode() : STILL_ACTIVE;
    return TRUE;
}

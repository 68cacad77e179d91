#include "rawlib/foundation/KvFileBytes.h"

#include "platform/win/WinPath.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

KvFileRead Unreadable(int* error) {
    if (error)
        *error = errno;
    return KvFileRead::kUnreadable;
}

} // namespace

KvFileRead KvReadFileBytes(const std::string& path, std::uint64_t longest, std::vector<BYTE>& bytes,
                           int* error) {
    try {
        const FileDescriptor file(open(WinPath::ToNative(path).c_str(), O_RDONLY | O_CLOEXEC));
        struct stat status {};
        if (file.Get() < 0 || fstat(file.Get(), &status) != 0)
            return Unreadable(error);
        if (!S_ISREG(status.st_mode)) { // a folder or a device has no length to go by
            errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
            return Unreadable(error);
        }
        const off_t end = lseek(file.Get(), 0, SEEK_END);
        if (end < 0 || lseek(file.Get(), 0, SEEK_SET) != 0)
            return Unreadable(error);
        if (static_cast<std::uint64_t>(end) > longest)
            return KvFileRead::kTooLong;
        std::vector<BYTE> read(static_cast<std::size_t>(end));
        std::size_t done = 0;
        while (done < read.size()) {
            const ssize_t got = ::read(file.Get(), read.data() + done, read.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got == 0)
                errno = EIO; // the file got shorter since its length was taken
            if (got <= 0)
                return Unreadable(error);
            done += static_cast<std::size_t>(got);
        }
        bytes = std::move(read);
        return KvFileRead::kRead;
    } catch (const std::bad_alloc&) {
        return KvFileRead::kNoMemory;
    }
}

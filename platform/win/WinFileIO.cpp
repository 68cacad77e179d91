#include "WinFileIO.h"

#include "WinPath.h"
#include "utf16.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Closes the descriptor when the owner goes.
struct FileDescriptor {
    explicit FileDescriptor(int value) : fd(value) {}
    ~FileDescriptor() {
        if (fd >= 0)
            close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int fd;
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

std::string WinFileIO::NativePath(const wchar_t* path) {
    return path ? WinPath::ToNative(Utf::WideToUtf8(path)) : std::string();
}

bool WinFileIO::ReadWholeFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& out) {
    if (path.empty())
        return false;
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (file.fd < 0 || fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<std::uint64_t>(info.st_size) > limit)
        return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = read(file.fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    // A file that grew while it was read is refused rather than cut short.
    std::uint8_t extra;
    if (read(file.fd, &extra, 1) != 0)
        return false;
    out = std::move(bytes);
    return true;
}

bool WinFileIO::WriteWholeFile(const std::string& path, const void* data, std::size_t size, bool replace) {
    if (path.empty() || (!data && size > 0))
        return false;
    std::string temporary = path + ".partXXXXXX";
    FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
    if (file.fd < 0)
        return false;
    bool written =
        fchmod(file.fd, 0644) == 0 && WriteAll(file.fd, static_cast<const std::uint8_t*>(data), size);
    written = close(file.fd) == 0 && written;
    file.fd = -1;
    // A link fails when the target exists, so the check and the move are one step.
    const bool moved = written && (replace ? rename(temporary.c_str(), path.c_str()) == 0
                                           : link(temporary.c_str(), path.c_str()) == 0);
    if (!moved || !replace)
        unlink(temporary.c_str());
    return moved;
}

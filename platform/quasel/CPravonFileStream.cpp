#include "CPravonFileStream.h"

#include "platform/win/WinPath.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

IPravonError* RuntimeError(LONG line, int error, const std::string& text) {
    IPravonError* e = IPravonError::Add(nullptr, CPravonFileStream::kComponent, line,
                                        CPravonFileStream::kRuntime, error ? error : EIO);
    return IPravonError::Add(e, CPravonFileStream::kComponent, line, text.c_str());
}

} // namespace

IPravonError* IPravonFileStream::CreateFileStream(IPravonFileStream** stream) {
    if (!stream)
        return PRAVON_ERROR(nullptr, CPravonFileStream::kComponent, PravonKind::kBadArgument);
    *stream = new (std::nothrow) CPravonFileStream();
    if (!*stream)
        return PRAVON_ERROR(nullptr, CPravonFileStream::kComponent, PravonKind::kOutOfMemory);
    return nullptr;
}

CPravonFileStream::~CPravonFileStream() {
    if (m_fd >= 0)
        ::close(m_fd);
}

ULONG CPravonFileStream::AddRef() {
    return ++m_references;
}

ULONG CPravonFileStream::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

IPravonError* CPravonFileStream::NotOpen(LONG line) const {
    return IPravonError::Add(nullptr, kComponent, line, PravonKind::kInvalidState,
                             "the file stream is not open");
}

IPravonError* CPravonFileStream::Open(const PravonFile& file, LONG mode) {
    if (mode != kRead && mode != kWrite)
        return IPravonError::Add(nullptr, kComponent, __LINE__, PravonKind::kBadArgument,
                                 "unknown open mode");
    if (IPravonError* e = Close())
        return e;
    const std::string path = WinPath::ToNative(file.path);
    const int flags = mode == kRead ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return RuntimeError(__LINE__, errno, "cannot open " + path);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno ? errno : EISDIR;
        ::close(fd);
        return RuntimeError(__LINE__, error, path + " is not a regular file");
    }
    m_fd = fd;
    return nullptr;
}

IPravonError* CPravonFileStream::Close() {
    if (m_fd < 0)
        return nullptr;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        return RuntimeError(__LINE__, errno, "closing the file failed");
    return nullptr;
}

IPravonError* CPravonFileStream::Read(void* buffer, ULONG count, ULONG* done) {
    if (done)
        *done = 0;
    if (m_fd < 0)
        return NotOpen(__LINE__);
    if (count > 0 && !buffer)
        return PRAVON_ERROR(nullptr, kComponent, PravonKind::kBadArgument);
    auto* to = static_cast<BYTE*>(buffer);
    ULONG total = 0;
    while (total < count) {
        const ssize_t got = ::read(m_fd, to + total, count - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return RuntimeError(__LINE__, errno, "reading the file failed");
        if (got == 0)
            break;
        total += static_cast<ULONG>(got);
    }
    if (done)
        *done = total;
    return nullptr;
}

IPravonError* CPravonFileStream::Write(const void* data, ULONG count) {
    if (m_fd < 0)
        return NotOpen(__LINE__);
    if (count > 0 && !data)
        return PRAVON_ERROR(nullptr, kComponent, PravonKind::kBadArgument);
    const auto* from = static_cast<const BYTE*>(data);
    ULONG total = 0;
    while (total < count) {
        const ssize_t put = ::write(m_fd, from + total, count - total);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return RuntimeError(__LINE__, put < 0 ? errno : ENOSPC, "writing the file failed");
        total += static_cast<ULONG>(put);
    }
    return nullptr;
}

IPravonError* CPravonFileStream::Seek(ULONGLONG position) {
    if (m_fd < 0)
        return NotOpen(__LINE__);
    if (position > static_cast<ULONGLONG>(std::numeric_limits<off_t>::max()))
        return PRAVON_ERROR(nullptr, kComponent, PravonKind::kOutOfRange);
    if (::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) < 0)
        return RuntimeError(__LINE__, errno, "seeking in the file failed");
    return nullptr;
}

IPravonError* CPravonFileStream::GetPosition(ULONGLONG* position) {
    if (m_fd < 0)
        return NotOpen(__LINE__);
    const off_t at = ::lseek(m_fd, 0, SEEK_CUR);
    if (at < 0)
        return RuntimeError(__LINE__, errno, "cannot tell the position in the file");
    *position = static_cast<ULONGLONG>(at);
    return nullptr;
}

IPravonError* CPravonFileStream::GetSize(ULONGLONG* size) {
    if (m_fd < 0)
        return NotOpen(__LINE__);
    struct stat info {};
    if (::fstat(m_fd, &info) != 0)
        return RuntimeError(__LINE__, errno, "cannot tell the size of the file");
    *size = static_cast<ULONGLONG>(info.st_size);
    return nullptr;
}

#include "CPravonFileStream.h"

#include "platform/win/WinPath.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {} // namespace

IPravonError* IPravonFileStream::CreateFileStream(IPravonFileStream** stream) {
    if (!stream)
        return PravonFail(CPravonFileStream::kComponent, PravonKind::kBadArgument,
                          "no pointer for the stream");
    *stream = new (std::nothrow) CPravonFileStream();
    if (!*stream)
        return PravonFail(CPravonFileStream::kComponent, PravonKind::kOutOfMemory, "no memory for a stream");
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

IPravonError* CPravonFileStream::Open(const PravonFile& file, LONG mode) {
    if (mode != kRead && mode != kWrite)
        return PravonFail(kComponent, PravonKind::kBadArgument, "unknown open mode");
    if (IPravonError* e = Close())
        return e;
    const std::string path = WinPath::ToNative(file.path);
    const int flags = mode == kRead ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return PravonContext(PravonLibraryFail(kComponent, kRuntime, errno ? errno : EIO), kComponent,
                             "cannot open " + path);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno ? errno : EISDIR;
        ::close(fd);
        return PravonContext(PravonLibraryFail(kComponent, kRuntime, error ? error : EIO), kComponent,
                             path + " is not a regular file");
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
        return PravonContext(PravonLibraryFail(kComponent, kRuntime, errno ? errno : EIO), kComponent,
                             "closing the file failed");
    return nullptr;
}

IPravonError* CPravonFileStream::Read(void* buffer, ULONG count, ULONG* done) {
    if (done)
        *done = 0;
    if (m_fd < 0)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the file stream is not open");
    if (count > 0 && !buffer)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no buffer to read into");
    auto* to = static_cast<BYTE*>(buffer);
    ULONG total = 0;
    while (total < count) {
        const ssize_t got = ::read(m_fd, to + total, count - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return PravonContext(PravonLibraryFail(kComponent, kRuntime, errno ? errno : EIO), kComponent,
                                 "reading the file failed");
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
        return PravonFail(kComponent, PravonKind::kInvalidState, "the file stream is not open");
    if (count > 0 && !data)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no data to write");
    const auto* from = static_cast<const BYTE*>(data);
    ULONG total = 0;
    while (total < count) {
        const ssize_t put = ::write(m_fd, from + total, count - total);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return PravonContext(PravonLibraryFail(kComponent, kRuntime,
                                                   put < 0  ? errno
                                                   : ENOSPC ? put < 0 ? errno : ENOSPC
                                                            : EIO),
                                 kComponent, "writing the file failed");
        total += static_cast<ULONG>(put);
    }
    return nullptr;
}

IPravonError* CPravonFileStream::Seek(ULONGLONG position) {
    if (m_fd < 0)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the file stream is not open");
    if (position > static_cast<ULONGLONG>(std::numeric_limits<off_t>::max()))
        return PravonFail(kComponent, PravonKind::kOutOfRange, "position beyond what the file can hold");
    if (::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) < 0)
        return PravonContext(PravonLibraryFail(kComponent, kRuntime, errno ? errno : EIO), kComponent,
                             "seeking in the file failed");
    return nullptr;
}

IPravonError* CPravonFileStream::GetPosition(ULONGLONG* position) {
    if (m_fd < 0)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the file stream is not open");
    const off_t at = ::lseek(m_fd, 0, SEEK_CUR);
    if (at < 0)
        return PravonContext(PravonLibraryFail(kComponent, kRuntime, errno ? errno : EIO), kComponent,
                             "cannot tell the position in the file");
    *position = static_cast<ULONGLONG>(at);
    return nullptr;
}

IPravonError* CPravonFileStream::GetSize(ULONGLONG* size) {
    if (m_fd < 0)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the file stream is not open");
    struct stat info {};
    if (::fstat(m_fd, &info) != 0)
        return PravonContext(PravonLibraryFail(kComponent, kRuntime, errno ? errno : EIO), kComponent,
                             "cannot tell the size of the file");
    *size = static_cast<ULONGLONG>(info.st_size);
    return nullptr;
}

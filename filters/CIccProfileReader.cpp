#include "CIccProfileReader.h"

#include "platform/win/WinPath.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kHeaderBytes = 128;
constexpr std::uint64_t kTagEntryBytes = 12;

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

bool Is(const std::uint8_t* signature, const char* text) {
    return std::memcmp(signature, text, 4) == 0;
}

// A profile file opened for reading at given offsets; reads never go past the end the file had when opened.
class ProfileFile {
public:
    ~ProfileFile() {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    int Open(const std::string& path) {
        m_fd = ::open(WinPath::ToNative(path).c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            return errno ? errno : EIO;
        struct stat st {};
        if (::fstat(m_fd, &st) != 0)
            return errno ? errno : EIO;
        if (!S_ISREG(st.st_mode))
            return EISDIR;
        m_size = static_cast<std::uint64_t>(st.st_size);
        return CheckHeader();
    }

    int ReadAt(std::uint64_t offset, std::size_t count, std::uint8_t* out) const {
        if (offset > m_size || count > m_size - offset)
            return EIO;
        std::size_t done = 0;
        while (done < count) {
            const ssize_t got = ::pread(m_fd, out + done, count - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return errno ? errno : EIO;
            if (got == 0)
                return EIO;
            done += static_cast<std::size_t>(got);
        }
        return 0;
    }

    int Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 ? 0 : (errno ? errno : EIO);
    }

    std::uint64_t Size() const { return m_size; }

private:
    // A whole header with the profile signature, and a size field that the file does not fall short of.
    int CheckHeader() const {
        std::uint8_t header[kHeaderBytes];
        if (const int error = ReadAt(0, sizeof(header), header))
            return error;
        if (!Is(header + 36, "acsp"))
            return EINVAL;
        const std::uint64_t declared = BigEndian32(header);
        if (declared < kHeaderBytes + 4)
            return EINVAL;
        return declared > m_size ? EIO : 0;
    }

    int m_fd = -1;
    std::uint64_t m_size = 0;
};

int ReadXyz(const ProfileFile& file, std::uint32_t offset, std::uint32_t size, LONG (&xyz)[3]) {
    std::uint8_t bytes[12];
    if (size < 8 + sizeof(bytes))
        return EINVAL;
    if (const int error = file.ReadAt(std::uint64_t(offset) + 8, sizeof(bytes), bytes))
        return error;
    for (int i = 0; i < 3; ++i)
        xyz[i] = static_cast<LONG>(BigEndian32(bytes + 4 * i));
    return 0;
}

// Reads a curve's entry count and, for a single-entry curve, its gamma.
int ReadCurve(const ProfileFile& file, std::uint32_t offset, std::uint32_t size, bool* present, LONG* gamma) {
    std::uint8_t bytes[6];
    if (size < 12)
        return EINVAL;
    if (const int error = file.ReadAt(std::uint64_t(offset) + 8, 4, bytes))
        return error;
    *present = false;
    if (BigEndian32(bytes) != 1)
        return 0;
    if (size < 14)
        return EINVAL;
    if (const int error = file.ReadAt(std::uint64_t(offset) + 12, 2, bytes + 4))
        return error;
    *gamma = (LONG(bytes[4]) << 8) | bytes[5];
    *present = true;
    return 0;
}

int ScanTags(const ProfileFile& file, CIccProfileReader::MatrixShaper* info) {
    std::uint8_t countBytes[4];
    if (const int error = file.ReadAt(kHeaderBytes, 4, countBytes))
        return error;
    // A count beyond what the file can hold is cut to the entries that are there.
    const std::uint64_t room = (file.Size() - kHeaderBytes - 4) / kTagEntryBytes;
    const std::uint64_t count = std::min<std::uint64_t>(BigEndian32(countBytes), room);
    static const char* const kTables[] = {"A2B0", "A2B1", "A2B2", "B2A0", "B2A1", "B2A2"};
    static const char* const kColorants[] = {"rXYZ", "gXYZ", "bXYZ"};
    static const char* const kCurves[] = {"rTRC", "gTRC", "bTRC"};
    for (std::uint64_t i = 0; i < count && !info->tableBased; ++i) {
        std::uint8_t entry[kTagEntryBytes];
        if (const int error = file.ReadAt(kHeaderBytes + 4 + i * kTagEntryBytes, sizeof(entry), entry))
            return error;
        const std::uint32_t offset = BigEndian32(entry + 4);
        const std::uint32_t size = BigEndian32(entry + 8);
        for (const char* table : kTables)
            info->tableBased = info->tableBased || Is(entry, table);
        if (info->tableBased)
            break;
        int error = 0;
        for (int c = 0; c < 3 && !error; ++c) {
            if (Is(entry, kColorants[c])) {
                error = ReadXyz(file, offset, size, info->colorant[c]);
                info->colorantPresent[c] = !error;
            } else if (Is(entry, kCurves[c])) {
                error = ReadCurve(file, offset, size, &info->curvePresent[c], &info->gamma[c]);
            }
        }
        if (!error && Is(entry, "wtpt")) {
            error = ReadXyz(file, offset, size, info->white);
            info->whitePresent = !error;
        }
        if (error)
            return error;
    }
    return 0;
}

} // namespace

bool CIccProfileReader::MatrixShaper::IsComplete() const {
    if (tableBased || !whitePresent)
        return false;
    for (int c = 0; c < 3; ++c) {
        if (!colorantPresent[c] || !curvePresent[c])
            return false;
    }
    return true;
}

int CIccProfileReader::ReadColorSpace(const std::string& path, char signature[4]) {
    ProfileFile file;
    std::uint8_t bytes[4] = {};
    int error = file.Open(path);
    if (!error)
        error = file.ReadAt(16, sizeof(bytes), bytes);
    if (!error)
        error = file.Close();
    std::memcpy(signature, error ? "\0\0\0\0" : reinterpret_cast<const char*>(bytes), 4);
    return error;
}

int CIccProfileReader::ReadMatrixShaper(const std::string& path, MatrixShaper* info) {
    *info = MatrixShaper();
    ProfileFile file;
    int error = file.Open(path);
    if (!error)
        error = ScanTags(file, info);
    if (!error)
        error = file.Close();
    return error;
}

#include "CZovProfile.h"

#include "KVCM.h"
#include "platform/win/WinPath.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Profiles of this system are at most a few megabytes; anything far larger is not one.
constexpr std::uint64_t kMaxProfileBytes = 64ull << 20;
constexpr std::size_t kHeaderBytes = 128;

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<std::uint64_t>(st.st_size) <= kMaxProfileBytes;
    if (ok) {
        bytes->resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (ok && done < bytes->size()) {
            const ssize_t got = ::read(fd, bytes->data() + done, bytes->size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            ok = got > 0;
            if (ok)
                done += static_cast<std::size_t>(got);
        }
    }
    ::close(fd);
    return ok;
}

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

} // namespace

CZovProfile::~CZovProfile() {
    if (m_handle)
        cmsCloseProfile(m_handle);
}

LONG CZovProfile::Load(const char* path, std::shared_ptr<const CZovProfile>* profile) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(WinPath::ToNative(path), &bytes) || bytes.size() < kHeaderBytes + 4)
        return KVCM_E_PROFILE;
    // A file cut short still carries the size it was written with.
    const std::uint32_t declared = BigEndian32(bytes.data());
    if (declared < kHeaderBytes + 4 || declared > bytes.size())
        return KVCM_E_PROFILE;
    cmsHPROFILE handle = cmsOpenProfileFromMem(bytes.data(), declared);
    if (!handle)
        return KVCM_E_PROFILE;
    try {
        profile->reset(new CZovProfile(std::move(bytes), handle));
    } catch (...) {
        cmsCloseProfile(handle);
        throw;
    }
    return KVCM_OK;
}

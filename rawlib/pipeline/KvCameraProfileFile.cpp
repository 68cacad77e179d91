#include "KvCameraProfileFile.h"

#include "rawlib/foundation/KvProfileFolder.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr LONG kToneCustom = 16;
constexpr int kCurveEntries = 65536;
constexpr std::uint32_t kTableVersion = 308;

// FNV-1a, 64 bits: stable across processes and builds, unlike std::hash.
class Fnv1a {
public:
    template <typename T>
    void Add(const T& value) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            m_hash ^= bytes[i];
            m_hash *= 0x100000001b3ULL;
        }
    }
    std::uint64_t Value() const { return m_hash; }

private:
    std::uint64_t m_hash = 0xcbf29ce484222325ULL;
};

// Every field of the record but the curve's address, the curve's entries and the table version.
std::uint64_t RecordHash(const CameraProfileParams& p) {
    Fnv1a h;
    h.Add(p.marker);
    h.Add(p.camera);
    h.Add(p.colorMode);
    h.Add(p.colorModeFromState);
    h.Add(p.whiteBalanceKind);
    h.Add(p.toneMode);
    h.Add(p.toneSource);
    h.Add(p.curveInputBits);
    h.Add(p.curveOutputBits);
    h.Add(p.tableIndex);
    h.Add(p.whiteBalanceFlag);
    h.Add(p.redGain);
    h.Add(p.blueGain);
    h.Add(p.colorTemperature);
    h.Add(p.whiteBalanceTagValue);
    h.Add(p.fineTune);
    h.Add(p.subMode);
    h.Add(p.recordBytes);
    h.Add(p.brightnessValue);
    h.Add(p.recordByte);
    h.Add(p.sensitivity);
    h.Add(p.rawWhiteBalance);
    for (int i = 0; i < kCurveEntries; ++i)
        h.Add(p.customCurve[i]);
    h.Add(kTableVersion);
    return h.Value();
}

bool ReusableFile(const std::string& path, std::uint64_t size) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           std::uint64_t(status.st_size) == size;
}

std::string Name(const CCameraProfileGen& generator, const CameraProfileParams& params) {
    char name[CCameraProfileGen::kPathLimit];
    if (generator.Name(name, sizeof name, kCameraProfilePrefix) != 0)
        return {};
    if (params.toneMode == kToneCustom && params.customCurve) {
        std::snprintf(name, sizeof name, "%sU%016llx.icm", kCameraProfilePrefix,
                      static_cast<unsigned long long>(RecordHash(params)));
    }
    return name;
}

bool WriteAtomically(const std::string& path, const std::vector<BYTE>& bytes) {
    std::string partial = path + ".XXXXXX";
    const int descriptor = mkstemp(partial.data());
    if (descriptor < 0)
        return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = write(descriptor, bytes.data() + done, bytes.size() - done);
        ok = n > 0;
        if (ok)
            done += std::size_t(n);
    }
    // Readable by every user of the machine, like the installed profiles.
    ok = ok && fchmod(descriptor, 0644) == 0 && fsync(descriptor) == 0;
    ok = close(descriptor) == 0 && ok;
    ok = ok && std::rename(partial.c_str(), path.c_str()) == 0;
    if (!ok)
        std::remove(partial.c_str());
    return ok;
}

} // namespace

CKvString CameraProfileFileName(const CameraProfileParams& params) {
    CCameraProfileGen generator;
    generator.Initialize(params);
    return CKvString(Name(generator, params).c_str());
}

CKvString GenerateCameraProfile(const CameraProfileParams& params) {
    CCameraProfileGen generator;
    generator.Initialize(params);
    const std::string name = Name(generator, params);
    if (name.empty())
        return CKvString("");
    const std::string path = static_cast<const char*>(GetProfileFolder()) + name;
    if (path.size() >= CCameraProfileGen::kPathLimit)
        return CKvString("");
    if (ReusableFile(path, generator.ProfileSize()))
        return CKvString(path.c_str());
    // The fixed profile's name is the very file the generator reads it from: never written over.
    if (generator.IsFixedProfile() || generator.Build() != 0)
        return CKvString("");
    std::vector<BYTE> bytes(generator.ProfileSize());
    if (generator.Serialize(bytes.data(), DWORD(bytes.size())) != 0 || !WriteAtomically(path, bytes))
        return CKvString("");
    return CKvString(path.c_str());
}

CKvString SaveFileColorProfile(const std::vector<BYTE>& bytes) {
    Fnv1a hash;
    for (BYTE b : bytes)
        hash.Add(b);
    char name[CCameraProfileGen::kPathLimit];
    std::snprintf(name, sizeof name, "%s%016llx.icm", kFileColorProfilePrefix,
                  static_cast<unsigned long long>(hash.Value()));
    const std::string path = std::string(static_cast<const char*>(GetProfileFolder())) + name;
    if (path.size() >= CCameraProfileGen::kPathLimit)
        return CKvString("");
    if (ReusableFile(path, bytes.size()) || WriteAtomically(path, bytes))
        return CKvString(path.c_str());
    return CKvString("");
}

#include "CPravonFilterCMLEngine.h"

#include "filters/CIccProfileReader.h"
#include "platform/win/FourCC.h"
#include "platform/win/WinPath.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

constexpr LONG kComponent = FourCC("cmle");
constexpr LONG kLibrary = FourCC("KVCM");
constexpr LONG kRuntime = 1;
// Colorants and white points (s15Fixed16) and gammas (u8Fixed8) this close make no difference that matters.
constexpr LONG kXyzTolerance = 655;
constexpr LONG kGammaTolerance = 1;

struct SignatureChannels {
    char signature[5];
    LONG channels;
};
constexpr SignatureChannels kChannels[] = {{"RGB ", 3}, {"CMYK", 4}, {"GRAY", 1}, {"Lab ", 3},
                                           {"HLS ", 3}, {"Lch ", 3}, {"YCbr", 3}};

// The absolute, normalised form of a path the way the system composes it; false when there is none.
bool FullPath(const std::string& path, std::string* full) {
    if (path.empty())
        return false;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(WinPath::ToNative(path), ec);
    if (ec)
        return false;
    *full = absolute.lexically_normal().string();
    return true;
}

bool Near(const LONG (&a)[3], const LONG (&b)[3]) {
    for (int i = 0; i < 3; ++i) {
        if (std::llabs(LONGLONG(a[i]) - LONGLONG(b[i])) > kXyzTolerance)
            return false;
    }
    return true;
}

} // namespace

CPravonFilterCMLEngine::CPravonFilterCMLEngine() = default;

CPravonFilterCMLEngine::~CPravonFilterCMLEngine() {
    if (m_transform)
        KVCMDestroyXForm(m_transform);
    for (auto it = m_holders.rbegin(); it != m_holders.rend(); ++it)
        (*it)->ObjectDestroyed();
}

IPravonError* CPravonFilterCMLEngine::SetProfiles(const PravonFile& source, const PravonFile& destination,
                                                  const PravonFile& proof) {
    std::string newSource, newDestination, oldSource, oldDestination;
    const bool same = FullPath(source.path, &newSource) && FullPath(destination.path, &newDestination) &&
                      FullPath(m_source.path, &oldSource) && FullPath(m_destination.path, &oldDestination) &&
                      newSource == oldSource && newDestination == oldDestination;
    if (same && m_infoValid)
        return nullptr;

    ++m_changeCounter;
    m_source = source;
    m_destination = destination;
    m_proof = proof;
    m_needsReset = true;
    m_infoValid = false;
    m_equivalent = false;
    std::memset(m_destinationSignature, 0, sizeof(m_destinationSignature));
    m_destinationChannels = 0;
    if (IPravonError* error = ReadProfileInfo(m_source, m_sourceSignature, &m_sourceChannels))
        return error;
    if (IPravonError* error = ReadProfileInfo(m_destination, m_destinationSignature, &m_destinationChannels))
        return error;
    if (IPravonError* error = TestEquivalence())
        return error;
    m_infoValid = true;
    return nullptr;
}

IPravonError* CPravonFilterCMLEngine::SetProfiles(const PravonFile& source, const PravonFile& destination) {
    return SetProfiles(source, destination, destination);
}

void CPravonFilterCMLEngine::GetProfiles(PravonFile* source, PravonFile* destination,
                                         PravonFile* proof) const {
    if (source)
        *source = m_source;
    if (destination)
        *destination = m_destination;
    if (proof)
        *proof = m_proof;
}

void CPravonFilterCMLEngine::GetProfileInfo(bool destination, char signature[4], LONG* channels) const {
    if (signature)
        std::memcpy(signature, destination ? m_destinationSignature : m_sourceSignature, 4);
    if (channels)
        *channels = destination ? m_destinationChannels : m_sourceChannels;
}

IPravonError* CPravonFilterCMLEngine::ReadProfileInfo(const PravonFile& profile, char signature[4],
                                                      LONG* channels) {
    char read[4] = {};
    const int error = CIccProfileReader::ReadColorSpace(profile.path, read);
    LONG count = 0;
    for (const SignatureChannels& entry : kChannels) {
        if (!error && std::memcmp(entry.signature, read, 4) == 0)
            count = entry.channels;
    }
    if (signature)
        std::memcpy(signature, read, 4);
    if (channels)
        *channels = count;
    return error ? PravonLibraryFail(kComponent, kRuntime, error) : nullptr;
}

IPravonError* CPravonFilterCMLEngine::TestEquivalence() {
    m_equivalent = false;
    if (std::memcmp(m_sourceSignature, m_destinationSignature, 4) != 0 ||
        m_sourceChannels != m_destinationChannels)
        return nullptr;
    CIccProfileReader::MatrixShaper a, b;
    if (const int error = CIccProfileReader::ReadMatrixShaper(m_source.path, &a))
        return PravonLibraryFail(kComponent, kRuntime, error);
    if (const int error = CIccProfileReader::ReadMatrixShaper(m_destination.path, &b))
        return PravonLibraryFail(kComponent, kRuntime, error);
    if (!a.IsComplete() || !b.IsComplete())
        return nullptr;
    for (int c = 0; c < 3; ++c) {
        if (!Near(a.colorant[c], b.colorant[c]) || std::abs(a.gamma[c] - b.gamma[c]) > kGammaTolerance)
            return nullptr;
    }
    m_equivalent = Near(a.white, b.white);
    return nullptr;
}

IPravonError* CPravonFilterCMLEngine::SetProofMode(bool proof) {
    if (proof != m_proofMode) {
        ++m_changeCounter;
        m_proofMode = proof;
        m_needsReset = true;
    }
    return nullptr;
}

IPravonError* CPravonFilterCMLEngine::SetRenderingIntent(LONG intent) {
    const auto stored = static_cast<SHORT>(intent);
    if (stored != m_intent) {
        ++m_changeCounter;
        m_intent = stored;
        m_needsReset = true;
    }
    return nullptr;
}

CPravonFilterCML* CPravonFilterCMLEngine::GetUser(LONG index) const {
    if (index < 0 || index >= GetUserCount())
        return nullptr;
    return m_users[static_cast<std::size_t>(index)];
}

void CPravonFilterCMLEngine::StartUse(CPravonFilterCML* filter) {
    m_users.push_back(filter);
}

void CPravonFilterCMLEngine::StopUse(CPravonFilterCML* filter) {
    const auto it = std::find(m_users.begin(), m_users.end(), filter);
    if (it != m_users.end())
        m_users.erase(it);
}

void CPravonFilterCMLEngine::AddReferencedObjectPointer(Holder* holder) {
    m_holders.push_back(holder);
    if (m_manager)
        m_manager->ReleaseEngine(this, static_cast<LONG>(m_holders.size()));
}

void CPravonFilterCMLEngine::RemoveReferencedObjectPointer(Holder* holder) {
    const auto it = std::find(m_holders.begin(), m_holders.end(), holder);
    if (it == m_holders.end())
        return;
    m_holders.erase(it);
    const auto remaining = static_cast<LONG>(m_holders.size());
    // The manager or the threshold may end the engine here: nothing touches it afterwards.
    if (m_manager)
        m_manager->ReleaseEngine(this, remaining);
    else if (m_autoDeleteThreshold >= remaining)
        delete this;
}

IPravonError* CPravonFilterCMLEngine::ResetParameters(bool* wasDirty) {
    if (wasDirty)
        *wasDirty = m_needsReset;
    if (!m_needsReset)
        return nullptr;
    if (!m_transform) {
        if (const LONG result = KVCMCreateXForm(&m_transform))
            return PravonLibraryFail(kComponent, kLibrary, result);
    }
    if (const LONG result = KVCMSetInputProfileFile(m_transform, m_source.path.c_str()))
        return PravonLibraryFail(kComponent, kLibrary, result);
    if (const LONG result = KVCMSetOutputProfileFile(m_transform, m_destination.path.c_str()))
        return PravonLibraryFail(kComponent, kLibrary, result);
    if (const LONG result = KVCMSetIntent(m_transform, m_intent))
        return PravonLibraryFail(kComponent, kLibrary, result);
    if (const LONG result = KVCMSetProofMode(m_transform, m_proofMode ? TRUE : FALSE))
        return PravonLibraryFail(kComponent, kLibrary, result);
    m_needsReset = false;
    return nullptr;
}

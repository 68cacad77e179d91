#include "CKvFileSavingUtilities.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace {

// The objects are used from their callers' threads: the count and the flag cost nothing to guard.
std::mutex g_lock;
int g_users = 0;
std::unique_ptr<CKvFileSavingUtilities> g_utilities;
std::atomic<bool> g_prepared{false};

} // namespace

CKvFileSavingUtilities* CKvFileSavingUtilities::Get() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_utilities.get();
}

void CKvFileSavingUtilities::AddUser() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_users++ == 0)
        g_utilities = std::make_unique<CKvFileSavingUtilities>();
}

void CKvFileSavingUtilities::RemoveUser() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_users > 0 && --g_users == 0) {
        g_utilities.reset();
        g_prepared = false;
    }
}

bool CKvFileSavingUtilities::StandardProfilesPrepared() {
    return g_prepared;
}

void CKvFileSavingUtilities::SetStandardProfilesPrepared() {
    g_prepared = true;
}

void CKvFileSavingUtilities::SetStandardProfiles(const std::string& folder, const std::string& rgb,
                                                 const std::string& cmyk, const std::string& lch) {
    m_folder = folder;
    m_rgb = rgb;
    m_cmyk = cmyk;
    m_lch = lch;
}

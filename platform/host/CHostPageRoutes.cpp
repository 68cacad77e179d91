#include "CHostPageRoutes.h"

void CHostPageRoutes::SetOwner(KvwItemId page, std::size_t module, DWORD kind) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_owners[page] = Owner{module, kind};
}

bool CHostPageRoutes::FindOwner(KvwItemId page, std::size_t& module, DWORD& kind) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_owners.find(page);
    if (it == m_owners.end())
        return false;
    module = it->second.module;
    kind = it->second.kind;
    return true;
}

DWORD CHostPageRoutes::Add(const Route& route) {
    std::lock_guard<std::mutex> guard(m_lock);
    do {
        ++m_lastTag;
    } while (m_lastTag == 0 || m_routes.count(m_lastTag) != 0);
    m_routes[m_lastTag] = route;
    return m_lastTag;
}

bool CHostPageRoutes::Find(DWORD tag, Route& route) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_routes.find(tag);
    if (it == m_routes.end())
        return false;
    route = it->second;
    return true;
}

bool CHostPageRoutes::Take(DWORD tag, Route& route) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_routes.find(tag);
    if (it == m_routes.end())
        return false;
    route = it->second;
    m_routes.erase(it);
    return true;
}

std::vector<std::pair<DWORD, CHostPageRoutes::Route>>
CHostPageRoutes::TakeIf(const std::function<bool(const Route&)>& matches) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::pair<DWORD, Route>> taken;
    for (auto it = m_routes.begin(); it != m_routes.end();) {
        if (matches(it->second)) {
            taken.emplace_back(it->first, it->second);
            it = m_routes.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

bool CHostPageRoutes::Waits(KvwItemId page, std::size_t owner) const {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& [tag, route] : m_routes)
        if (route.page == page && route.owner == owner)
            return true;
    return false;
}

std::size_t CHostPageRoutes::Open() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_routes.size();
}

// The design pages that host modules register (page records of kind 0x1400 with the page flag), and the
// image requests for them that the host passes on to the module that registered the page: which module
// that is, and whose request each passed-on one answers. Its calls may come from any thread.
#pragma once

#include "platform/kvtrtl/KvwHostTypes.h"
#include "platform/kvtrtl/KvwRecords.h"

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

class CHostPageRoutes {
public:
    // A request passed on: who asked, what (0x10000102 or 0x10000103, its flags p6 and wanted size) for
    // which page, and the module that draws it.
    struct Route {
        std::size_t requester = 0;
        DWORD requestId = 0;
        KvwWord flags = 0;
        KvwItemId page = 0;
        bool sized = false;
        CKvwSizeRecord wanted{0, 0};
        std::size_t owner = 0;
    };

    // The module (and its component kind) that registered the page.
    void SetOwner(KvwItemId page, std::size_t module, DWORD kind);
    // False for a page no module registered.
    bool FindOwner(KvwItemId page, std::size_t& module, DWORD& kind) const;

    // The tag the owner is asked with (never 0, which asks for no completion on cancel).
    DWORD Add(const Route& route);
    bool Find(DWORD tag, Route& route) const;
    // Takes the route out; false when it is gone (answered, or dropped).
    bool Take(DWORD tag, Route& route);
    // Takes out every route that matches, with its tag.
    std::vector<std::pair<DWORD, Route>> TakeIf(const std::function<bool(const Route&)>& matches);
    // Whether any route of the page waits for the owner.
    bool Waits(KvwItemId page, std::size_t owner) const;
    // How many requests wait for their owner's answer.
    std::size_t Open() const;

private:
    struct Owner {
        std::size_t module;
        DWORD kind;
    };
    mutable std::mutex m_lock;
    std::map<KvwItemId, Owner> m_owners;
    std::map<DWORD, Route> m_routes;
    DWORD m_lastTag = 0;
};

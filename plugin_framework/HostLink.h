// The module's link to the host for small requests about one item, made on the user-interface thread: the
// host interface, the item service and the module object that sends requests. The module object's
// Initialize binds it and its Close unbinds it; every request fails while it is not bound.
#pragma once

#include "IKvwMessage.h"

#include "platform/kvtrtl/IKvwHost.h"

class HostLink {
public:
    // The module's one link, made on first use.
    static HostLink* Instance();

    // Null values unbind it.
    void Bind(IKvwHost* host, IKvwItemService* items, IKvwMessage* module);
    // Both the item service and the module object are set.
    bool IsBound() const { return m_items && m_module; }

    IKvwHost* GetHost() const { return m_host; }
    IKvwItemService* GetItemService() const { return m_items; }
    IKvwMessage* GetModule() const { return m_module; }

private:
    IKvwHost* m_host = nullptr;
    IKvwItemService* m_items = nullptr;
    IKvwMessage* m_module = nullptr;
};

// The item id of a whole unsigned decimal text of 64 bits (no sign, space or other character); false for
// any other text, with the id unchanged.
bool NuidFromString(const wchar_t* text, KvwItemId& id);

// Requests about one item through the host link.
class HostRequests {
public:
    // The type word of a page that the design module renders for the host.
    static constexpr DWORD kDesignPageType = 0x1400;

    // True when the host describes the item (all of its source data) with the design page's type word;
    // false when it does not, or the link is not bound.
    static bool IsDesignPage(KvwItemId item);
};

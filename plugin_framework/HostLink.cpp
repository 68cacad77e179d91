#include "HostLink.h"

namespace {

// Asks for every part of an item's source data.
constexpr DWORD kAllSourceData = 0xFFFFFFFF;

} // namespace

bool NuidFromString(const wchar_t* text, KvwItemId& id) {
    if (!text || !*text)
        return false;
    KvwItemId value = 0;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9')
            return false;
        const KvwItemId digit = static_cast<KvwItemId>(*c - L'0');
        if (value > (~KvwItemId{0} - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    id = value;
    return true;
}

HostLink* HostLink::Instance() {
    static auto* link = new HostLink;
    return link;
}

void HostLink::Bind(IKvwHost* host, IKvwItemService* items, IKvwMessage* module) {
    m_host = host;
    m_items = items;
    m_module = module;
}

bool HostRequests::IsDesignPage(KvwItemId item) {
    HostLink* link = HostLink::Instance();
    if (!link->IsBound())
        return false;
    CKvwSourceData data;
    return KvwSucceeded(link->GetItemService()->GetSourceData(KvwItemIdLow(item), KvwItemIdHigh(item), &data,
                                                              kAllSourceData)) &&
           data.type == kDesignPageType;
}

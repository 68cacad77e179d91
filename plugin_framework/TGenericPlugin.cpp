#include "TGenericPlugin.h"

#include "TModuleValues.h"
#include "TResource.h"

#include "platform/win/WinBitmaps.h"
#include "platform/win/WinDialogs.h"

#include <algorithm>

namespace {

constexpr DWORD kPluginComponentKind = 0x2001;
constexpr DWORD kSecondComponentKind = 0x2004;
constexpr DWORD kInterfaceVersion = 0x10000000;
// The word the plug-ins' command entries carry after the name (the host gives it no name).
constexpr DWORD kCommandEntryKind = 2;
constexpr LONG kButtonBitmapSide = 32;
constexpr DWORD kNoSelectionLimit = 0xFFFFFFFF;
// Asks the item service for the source record's subtype.
constexpr DWORD kSourceSubtypeField = 0x80;
constexpr DWORD kAllItemFields = 0xFFFFFFFF;
// Bits of an item id's high word that make a member a container to expand.
constexpr DWORD kContainerBitsA = 0x2010000;
constexpr DWORD kContainerBitsB = 0x2020000;

// True when the text formats with one whole number: every conversion is "%%" or one "%d", with flags and a
// width at most. A language library's text goes into the formatter, which must never read (or, with %n,
// write) an argument that is not there.
bool TakesOneNumber(const wchar_t* format) {
    int numbers = 0;
    for (const wchar_t* at = format; at && *at; ++at) {
        if (*at != L'%')
            continue;
        ++at;
        if (*at == L'%')
            continue;
        while (*at == L'-' || *at == L'+' || *at == L' ' || (*at >= L'0' && *at <= L'9'))
            ++at;
        if (*at != L'd' || ++numbers > 1)
            return false;
    }
    return numbers == 1;
}

bool IsContainer(KvwItemId item) {
    const DWORD high = KvwItemIdHigh(item);
    return (high & kContainerBitsA) == kContainerBitsA || (high & kContainerBitsB) == kContainerBitsB;
}

} // namespace

TGenericPlugin::~TGenericPlugin() {
    for (HBITMAP& bitmap : m_bitmaps) {
        if (bitmap)
            DeleteObject(bitmap);
        bitmap = nullptr;
    }
    m_dialog = TRefPtr<TGenPluginDlg>();
}

void TGenericPlugin::Close() {
    m_dialog = TRefPtr<TGenPluginDlg>();
    TBasicQWComp::Close();
}

KvwResult TGenericPlugin::OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                    KvwWord p6, KvwWord p7, KvwWord p8) {
    TBasicQWComp::OnMessage(id, p1, p2, p3, p4, p5, p6, p7, p8);
    switch (id) {
    case KvwHostMessage::kInformation:
        return FillInformation(reinterpret_cast<CKvwModuleInformation*>(p3));
    case KvwHostMessage::kCommand:
        return OnCommand(static_cast<DWORD>(p1), static_cast<DWORD>(p2));
    case KvwHostMessage::kButtonBitmaps:
        if ((p1 != kPluginComponentKind && p1 != kSecondComponentKind) || p2 != 0)
            return kKvwOk;
        return HandBitmaps(reinterpret_cast<CKvwBitmapTable*>(p3));
    default:
        return kKvwOk;
    }
}

KvwResult TGenericPlugin::FillInformation(CKvwModuleInformation* record) {
    if (!record)
        return kKvwInvalidArgument;
    // The record holds strings and a vector: it is cleared by giving it a fresh value.
    *record = CKvwModuleInformation{};
    record->componentKind = kPluginComponentKind;
    record->one = 1;
    record->interfaceVersion = kInterfaceVersion;
    const TString name = GetName();
    record->name = static_cast<const char*>(TStringA(static_cast<const wchar_t*>(name)));
    std::vector<DWORD> commands;
    GetCommandList(commands);
    for (DWORD command : commands) {
        CKvwCommandEntry entry{};
        entry.commandId = command;
        entry.name = record->name;
        entry.kind = kCommandEntryKind;
        record->commands.push_back(std::move(entry));
    }
    return kKvwOk;
}

KvwResult TGenericPlugin::HandBitmaps(CKvwBitmapTable* table) {
    if (!table)
        return kKvwInvalidArgument;
    const std::array<DWORD, 4> states = {KvwButtonState::kState1, KvwButtonState::kState3,
                                         KvwButtonState::kState2, KvwButtonState::kState100};
    const std::array<UINT, 4> resources = {GetButtonBitmapState1(), GetButtonBitmapState3(),
                                           GetButtonBitmapState2(), GetButtonBitmapState100()};
    for (std::size_t i = 0; i < states.size(); ++i) {
        // A bitmap the host was handed before stays the one it has: loading it anew would leave the
        // earlier one behind.
        if (!m_bitmaps[i] && resources[i] && resources[i] <= 0xFFFF)
            m_bitmaps[i] = LoadBitmapA(GetThisModule(), MAKEINTRESOURCEA(static_cast<WORD>(resources[i])));
        CKvwBitmapData data;
        data.width = kButtonBitmapSide;
        data.height = kButtonBitmapSide;
        data.bitmap = m_bitmaps[i];
        (*table)[states[i]] = data;
    }
    return kKvwHandled;
}

KvwResult TGenericPlugin::OnCommand(DWORD, DWORD) {
    TNuidList selection;
    if (!KvwSucceeded(GetSelection(selection, true)))
        return kKvwHandled;
    if (!m_dialog || !m_dialog->SetSelection(&selection))
        return kKvwHandled;
    // The dialog may be deleted by what runs while it is open; it lives until its loop has ended.
    const TRefPtr<TGenPluginDlg> dialog = m_dialog;
    dialog->DoModal(GetDialogTemplateId(), GetThreadMainWindow());
    return kKvwHandled;
}

bool TGenericPlugin::InitDialogResource() {
    if (m_dialog)
        m_dialog->GetResource().SetModule(TResource::Instance()->GetModule());
    return true;
}

KvwResult TGenericPlugin::GetSelection(TNuidList& list, bool skip) {
    list.clear();
    if (!m_browseService)
        return kKvwInvalidArgument;
    m_currentGroupId = m_browseService->GetCurrentGroupId();
    if (!KvwSucceeded(SendToHost(KvwPluginRequest::kUpdateSelection, 0, 0, 0, 0, 0, 0, 0, 0)))
        return kKvwNothingToWorkOn;
    TNuidList items;
    if (!KvwSucceeded(m_browseService->GetSelectedItems(&items)) || items.empty()) {
        items.clear();
        if (!KvwSucceeded(m_browseService->GetGroupItems(&items)) || items.empty())
            return kKvwNothingToWorkOn;
    }
    for (std::size_t position = 0; position < items.size(); ++position) {
        const KvwItemId item = items[position];
        if (skip && m_itemService) {
            CKvwSourceData source;
            if (KvwSucceeded(m_itemService->GetSourceData(KvwItemIdLow(item), KvwItemIdHigh(item), &source,
                                                          kSourceSubtypeField)) &&
                source.subtype == kSkippedSubtype)
                continue;
        }
        // The position in the host's list counts the items left out too.
        if (m_selectionLimit != kNoSelectionLimit && position >= m_selectionLimit) {
            TString text;
            TResource::Instance()->LoadString(kTooManyItemsText, text);
            if (TakesOneNumber(text)) {
                const TString format = text;
                text.Format(format, static_cast<int>(m_selectionLimit));
            }
            TDialog::ShowMessageBox(text, TDialog::kErrorMessage, GetThreadMainWindow());
            list.clear();
            break;
        }
        list.push_back(item);
    }
    return list.empty() ? kKvwNothingToWorkOn : kKvwOk;
}

void TGenericPlugin::ExpandGroupItems(KvwItemId item, TNuidList& list) {
    std::vector<KvwItemId> path;
    Expand(item, list, path);
}

void TGenericPlugin::Expand(KvwItemId item, TNuidList& list, std::vector<KvwItemId>& path) {
    if (!m_itemService)
        return;
    CKvwItemData data;
    if (!KvwSucceeded(
            m_itemService->GetItemData(KvwItemIdLow(item), KvwItemIdHigh(item), &data, kAllItemFields)))
        return;
    path.push_back(item);
    for (KvwItemId member : data.members) {
        if (!IsContainer(member)) {
            list.push_back(member);
            continue;
        }
        const bool onPath = std::find(path.begin(), path.end(), member) != path.end();
        if (!onPath && path.size() < static_cast<std::size_t>(kMaxGroupDepth))
            Expand(member, list, path);
    }
    path.pop_back();
}

#include "TDesignLayouts.h"

#include "CKvwMenuResource.h"
#include "DesignImageBundle.h"
#include "DesignMarkers.h"
#include "DesignPageWords.h"
#include "DesignTextFormat.h"
#include "TKvwDesignModule.h"

#include "plugin_framework/LayoutText.h"
#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TResource.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/win/WinDebug.h"
#include "platform/win/utf16.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

using namespace KvwDesign;

namespace {

constexpr KvwWord kCreateKind = 0x93;
constexpr KvwWord kLinkKind = 0x20;
constexpr KvwWord kDataFlag = 1;
constexpr const wchar_t* kFixedLimitText = L"At most %d pictures are taken from the selection.";
// The units of stored UTF-16LE bytes up to the first zero unit or the end; an odd last byte is no unit.
std::wstring StoredText(const std::vector<BYTE>& bytes) {
    std::u16string units = Utf::Utf16FromLEBytes(bytes.data(), bytes.size() & ~std::size_t{1});
    const std::size_t end = units.find(u'\0');
    if (end != std::u16string::npos)
        units.resize(end);
    return Utf::Utf16ToWide(units);
}

// The layout's text as stored: UTF-16LE units and a terminating zero unit.
std::vector<BYTE> StoredBytes(const TString& text) {
    std::vector<BYTE> bytes;
    Utf::AppendUtf16LE(bytes, Utf::WideToUtf16(static_cast<const wchar_t*>(text)));
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

// A document of the text (a data source made and let go); null when the text holds no layout.
std::unique_ptr<TdocDocument> DocumentOfText(const std::wstring& text) {
    DocHandle source = kDocNoHandle;
    if (text.empty() || docCreateDataSource2(text.c_str(), static_cast<LONG>(text.size()), &source) != 1)
        return nullptr;
    std::unique_ptr<TdocDocument> document(TdocDocument::CreateFromLDF2(source));
    docReleaseHandle(source);
    return document;
}

// The text of the layout as it is stored: everything but the focus frame and the selection overlays that
// clicks put in (the template's helpers stay), taken from a copy so that the live document stays as it is.
bool StoredLayoutText(const TdocDocument& document, TString& text) {
    TString live;
    if (!GetLayoutText(document.GetHandle(), live))
        return false;
    std::unique_ptr<TdocDocument> copy = DocumentOfText(static_cast<const wchar_t*>(live));
    if (!copy)
        return false;
    designmarkers::StripItems(*copy, designmarkers::Strip::kMarkers);
    return GetLayoutText(copy->GetHandle(), text);
}

KvwWord Low(KvwItemId id) {
    return KvwItemIdLow(id);
}

KvwWord High(KvwItemId id) {
    return KvwItemIdHigh(id);
}

} // namespace

TDesignLayouts::TDesignLayouts(TKvwDesignModule& module) : m_module(module) {}

std::unique_ptr<TdocDocument> TDesignLayouts::DocumentOfStoredLayout(const std::vector<BYTE>& bytes) {
    return DocumentOfText(StoredText(bytes));
}

TDesignLayouts::~TDesignLayouts() {
    DeleteLayoutFile();
}

KvwResult TDesignLayouts::Send(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                               KvwWord p6) const {
    return m_module.SendToHost(id, p1, p2, p3, p4, p5, p6, 0, 0);
}

LONG TDesignLayouts::GetPageCount() const {
    return m_document ? m_document->GetPageCount() : 0;
}

std::unique_ptr<TdocDocument> TDesignLayouts::CopyLayoutDocument() const {
    TString text;
    if (!m_document || !GetLayoutText(m_document->GetHandle(), text))
        return nullptr;
    return DocumentOfText(static_cast<const wchar_t*>(text));
}

void TDesignLayouts::ForgetLayoutFile() {
    DeleteLayoutFile();
}

void TDesignLayouts::DeleteLayoutFile() {
    if (m_layoutPath.IsEmpty())
        return;
    TFilePath location;
    location.Set(m_layoutPath);
    if (location.Exists())
        location.Delete();
    m_layoutPath.Empty();
}

KvwResult TDesignLayouts::RequestSelection(KvwItemIdList& ids, bool skipDesignPages) {
    ids.clear();
    IKvwBrowseService* browse = m_module.GetBrowseService();
    if (!browse)
        return kKvwInvalidArgument;
    browse->GetCurrentGroupId();
    KvwItemIdList selected;
    if (!KvwSucceeded(browse->GetSelectedItems(&selected)) || selected.empty()) {
        selected.clear();
        if (!KvwSucceeded(browse->GetGroupItems(&selected)))
            selected.clear();
    }
    if (selected.empty())
        return kKvwNothingToWorkOn;
    // Compared unsigned: -1 is no limit, other negative values very large limits, 0 takes nothing.
    const DWORD limit = m_module.GetSelectionLimit();
    IKvwItemService* items = m_module.GetItemService();
    for (KvwItemId id : selected) {
        if (skipDesignPages && items) {
            CKvwSourceData source;
            if (KvwSucceeded(items->GetSourceData(KvwItemIdLow(id), KvwItemIdHigh(id), &source,
                                                  kSourceRecordSelector)) &&
                (source.flags & kPageRecordFlag) != 0)
                continue;
        }
        if (limit != kNoLimit && ids.size() >= limit) {
            TString format;
            TResource::Instance()->LoadString(kSelectionLimitString, format);
            const TString text =
                designtext::Format(format.IsEmpty() ? nullptr : static_cast<const wchar_t*>(format),
                                   kFixedLimitText, {static_cast<LONG>(limit)});
            if (!std::exchange(m_limitTold, true))
                ShowDesignMessage(text, 0, nullptr);
            break;
        }
        ids.push_back(id);
    }
    return ids.empty() ? kKvwNothingToWorkOn : kKvwOk;
}

bool TDesignLayouts::IsRecord(KvwItemId id, bool page) const {
    IKvwItemService* items = m_module.GetItemService();
    CKvwSourceData fields;
    if (!items || !KvwSucceeded(items->GetSourceData(KvwItemIdLow(id), KvwItemIdHigh(id), &fields,
                                                     kKvwSourceRecordFields)))
        return false;
    return fields.kind == kLayoutRecordKind && ((fields.flags & kPageRecordFlag) != 0) == page;
}

bool TDesignLayouts::FindDesignRecord(KvwItemId item, KvwItemId& record, CKvwSourceData& source) const {
    IKvwItemService* items = m_module.GetItemService();
    CKvwItemData data;
    if (!items || !KvwSucceeded(items->GetItemData(KvwItemIdLow(item), KvwItemIdHigh(item), &data,
                                                   kKvwSourceRecordFields)))
        return false;
    // A page record has the layout's kind too: the layout record is the one without the page flag.
    for (const CKvwItemEntry& entry : data.entries) {
        CKvwSourceData fields;
        if (!KvwSucceeded(items->GetSourceData(KvwItemIdLow(entry.id), KvwItemIdHigh(entry.id), &fields,
                                               kKvwSourceRecordFields)))
            continue;
        if (fields.kind == kLayoutRecordKind && (fields.flags & kPageRecordFlag) == 0) {
            record = entry.id;
            source = std::move(fields);
            return true;
        }
    }
    return false;
}

KvwResult TDesignLayouts::OpenDesign() {
    m_layoutRecord = 0;
    m_limitTold = false;
    IKvwBrowseService* browse = m_module.GetBrowseService();
    const KvwItemId item = browse ? browse->GetCurrentGroupId() : 0;
    m_module.SetDesignItem(item);
    // Nothing to open is no failure of the host's: 0, and the design stays closed.
    if ((KvwItemIdHigh(item) & kLayoutItemBits) != kLayoutItemBits)
        return kKvwOk;
    KvwItemIdList ids;
    if (!KvwSucceeded(RequestSelection(ids, true)))
        return kKvwOk;
    m_changed = true;
    KvwItemId record = 0;
    CKvwSourceData source;
    if (FindDesignRecord(item, record, source)) {
        m_layoutRecord = record;
        if (source.dataLength != 0) {
            const KvwResult read = ReadStoredLayout(record, source.dataLength);
            if (read != kKvwOk)
                return read;
        }
    }
    if (!m_document) {
        CreateLayoutFromTemplate();
        LoadLayoutFile(m_module.GetUserOptions().GetLastLayoutPath());
    }
    if (!m_document)
        return kKvwInvalidArgument;
    RequestSelection(m_openingSelection, false);
    std::unique_ptr<TdocDocument> document = std::move(m_document);
    SetLayoutDocument(std::move(document));
    return kKvwOk;
}

KvwResult TDesignLayouts::ReadStoredLayout(KvwItemId record, DWORD size) {
    // A stored layout too large to hold, or one that gives no document, fails the open: taking it for no
    // layout would have the next save overwrite it with a fresh one.
    if (size > kMaxStoredLayoutBytes)
        return kKvwInvalidArgument;
    std::vector<BYTE> bytes(size, 0);
    const KvwResult read = Send(KvwRecordRequest::kRead, Low(record), High(record),
                                reinterpret_cast<KvwWord>(bytes.data()), size, 0, kDataFlag);
    if (!KvwSucceeded(read))
        return read;
    m_document = DocumentOfStoredLayout(bytes);
    if (!m_document)
        return kKvwInvalidArgument;
    m_changed = false;
    TKorvelDbPrefs& preferences = m_module.GetDbPreferences();
    preferences.SetItem(KvwItemIdLow(record), KvwItemIdHigh(record));
    TString saved;
    m_templatePath = preferences.GetString(kSavedLayoutPathKey, saved) ? saved : TString();
    ListStoredPages();
    return kKvwOk;
}

bool TDesignLayouts::StoredPageChildren(KvwItemIdList& pages) const {
    pages.clear();
    IKvwItemService* items = m_module.GetItemService();
    CKvwSourceData source;
    if (!items || m_layoutRecord == 0 ||
        !KvwSucceeded(items->GetSourceData(KvwItemIdLow(m_layoutRecord), KvwItemIdHigh(m_layoutRecord),
                                           &source, kKvwSourceRecordList)))
        return false;
    for (KvwItemId id : source.records) {
        if (IsRecord(id, true))
            pages.push_back(id);
    }
    return true;
}

void TDesignLayouts::ListStoredPages() {
    // The pages saved with the layout are listed when they are its pages 1..N once each; they stay the
    // host's (not registered), so closing keeps them.
    m_pages.clear();
    m_registered = false;
    KvwItemIdList children;
    IKvwItemService* items = m_module.GetItemService();
    if (!StoredPageChildren(children) || !items)
        return;
    const LONG count = GetPageCount();
    std::map<LONG, KvwItemId> pages;
    for (KvwItemId id : children) {
        CKvwSourceData fields;
        items->GetSourceData(KvwItemIdLow(id), KvwItemIdHigh(id), &fields, kKvwSourceRecordFields);
        if (fields.value < 1 || fields.value > count || !pages.emplace(fields.value, id).second)
            return;
    }
    if (static_cast<LONG>(pages.size()) == count)
        m_pages = std::move(pages);
}

bool TDesignLayouts::CreateLayoutFromTemplate() {
    DeleteLayoutFile();
    KvwItemIdList ids;
    if (RequestSelection(ids, true) != kKvwOk)
        return false;
    return designbundle::BuildImageBundle(ids, m_layoutPath);
}

bool TDesignLayouts::LoadLayoutFile(const TString& templatePath) {
    if (m_document) {
        UnregisterPages();
        m_module.ForgetShownDocument();
        m_document.reset();
    }
    TFilePath bundle;
    bundle.Set(m_layoutPath);
    if (m_layoutPath.IsEmpty() || !bundle.Exists())
        CreateLayoutFromTemplate();
    if (m_layoutPath.IsEmpty())
        return false;
    m_document.reset(TdocDocument::CreateFromLTF(templatePath, m_layoutPath));
    if (!m_document)
        return false;
    m_templatePath = templatePath;
    m_changed = true;
    RegisterPages();
    return true;
}

bool TDesignLayouts::RegisterPages() {
    if (!m_document || !m_pages.empty())
        return true;
    const LONG count = m_document->GetPageCount();
    for (LONG i = 0; i < count; ++i) {
        std::unique_ptr<TdocPage> page(m_document->GetPage(i));
        graphtypes::TSize_T<double> size;
        CKvwInputData record;
        if (!page || !page->GetSize(size) ||
            !designpages::PageSizeWords(size.cx, size.cy, record.width, record.height)) {
            // A page that cannot be read is left out; the others keep their page numbers.
            m_registered = true;
            continue;
        }
        record.kind = kLayoutRecordKind;
        record.flags = kPageRecordFlag;
        record.value = i + 1;
        char name[32];
        std::snprintf(name, sizeof(name), "page%d", static_cast<int>(i + 1));
        record.name = name;
        if (!KvwSucceeded(
                Send(KvwRecordRequest::kCreate, 0, 0, reinterpret_cast<KvwWord>(&record), 1, kCreateKind)))
            return false;
        m_pages[i + 1] = record.id;
        m_registered = true;
    }
    return true;
}

void TDesignLayouts::UnregisterPages() {
    m_module.CancelQueuedRenders();
    if (m_registered) {
        for (const auto& [page, id] : m_pages)
            Send(KvwRecordRequest::kDelete, Low(id), High(id), 0, 0, kLinkKind);
    }
    m_registered = false;
    m_pages.clear();
}

bool TDesignLayouts::SaveLayout() {
    if (!m_changed || !m_document)
        return true;
    TString text;
    // Nothing is written of a layout without a text or without pages, and it stays changed.
    if (!StoredLayoutText(*m_document, text) || m_document->GetPageCount() < 1)
        return false;
    const std::vector<BYTE> data = StoredBytes(text);
    if (m_layoutRecord == 0) {
        CKvwSourceData source;
        FindDesignRecord(m_module.GetDesignItem(), m_layoutRecord, source);
    }
    KvwItemIdList attached;
    if (m_layoutRecord == 0 ? !StoreNewLayoutRecord(data) : !ReplaceLayoutRecord(data, attached))
        return false;
    if (!AttachPages(attached))
        return false;
    m_registered = false;
    TKorvelDbPrefs& preferences = m_module.GetDbPreferences();
    preferences.SetItem(KvwItemIdLow(m_layoutRecord), KvwItemIdHigh(m_layoutRecord));
    const TString& used = m_module.GetUserOptions().GetLastLayoutPath();
    if (!preferences.SetString(kSavedLayoutPathKey, used))
        return false;
    m_templatePath = used;
    m_changed = false;
    return true;
}

bool TDesignLayouts::StoreNewLayoutRecord(const std::vector<BYTE>& data) {
    if (data.size() > kMaxStoredLayoutBytes)
        return false;
    CKvwInputData record;
    record.kind = kLayoutRecordKind;
    record.data = data.data();
    record.dataLength = static_cast<DWORD>(data.size());
    if (!KvwSucceeded(
            Send(KvwRecordRequest::kCreate, 0, 0, reinterpret_cast<KvwWord>(&record), 1, kCreateKind)))
        return false;
    const KvwItemId item = m_module.GetDesignItem();
    if (!KvwSucceeded(Send(KvwRecordRequest::kAttach, Low(item), High(item),
                           reinterpret_cast<KvwWord>(&record), 1, kLinkKind))) {
        // Attached to nothing it would never be found again.
        Send(KvwRecordRequest::kDelete, Low(record.id), High(record.id), 0, 0, kLinkKind);
        return false;
    }
    // Taken as the layout record only once it belongs to the design.
    m_layoutRecord = record.id;
    return true;
}

bool TDesignLayouts::ReplaceLayoutRecord(const std::vector<BYTE>& data, KvwItemIdList& attached) {
    if (data.size() > kMaxStoredLayoutBytes)
        return false;
    if (!KvwSucceeded(Send(KvwRecordRequest::kReplace, Low(m_layoutRecord), High(m_layoutRecord),
                           reinterpret_cast<KvwWord>(data.data()), data.size(), 0, kDataFlag)))
        return false;
    // The old pages are those under the layout record that are not this layout's: after a save that
    // stopped half way, the pages attached then are kept and only the rest is attached.
    KvwItemIdList children;
    StoredPageChildren(children);
    std::set<KvwItemId> current;
    for (const auto& [page, id] : m_pages)
        current.insert(id);
    KvwItemIdList old;
    for (KvwItemId id : children)
        (current.count(id) ? attached : old).push_back(id);
    if (!old.empty()) {
        if (!KvwSucceeded(Send(KvwRecordRequest::kDetach, Low(m_layoutRecord), High(m_layoutRecord),
                               reinterpret_cast<KvwWord>(old.data()), old.size(), kLinkKind)))
            return false;
        for (KvwItemId id : old)
            Send(KvwRecordRequest::kDelete, Low(id), High(id), 0, 0, kLinkKind);
    }
    if (!m_registered)
        return RegisterPages();
    return true;
}

bool TDesignLayouts::AttachPages(const KvwItemIdList& attached) {
    for (const auto& [page, id] : m_pages) {
        if (std::find(attached.begin(), attached.end(), id) != attached.end())
            continue;
        KvwItemId word = id;
        if (!KvwSucceeded(Send(KvwRecordRequest::kAttach, Low(m_layoutRecord), High(m_layoutRecord),
                               reinterpret_cast<KvwWord>(&word), 1, kLinkKind)))
            return false;
    }
    return true;
}

void TDesignLayouts::SendShownItems(const KvwItemIdList& ids, KvwItemId current) {
    for (DWORD message : {kShownItems, kShownItemsToo})
        Send(message, 0, 0, reinterpret_cast<KvwWord>(ids.data()), ids.size(), kLinkKind);
    Send(kShownItem, Low(current), High(current));
}

void TDesignLayouts::AnnouncePageSet() {
    const DWORD view = m_module.GetView();
    KvwItemIdList ids;
    if (view == kSinglePageView || view == kContactSheetView || view == kBothViews) {
        for (const auto& [page, id] : m_pages)
            ids.push_back(id);
    }
    auto shown = m_pages.find(m_module.GetShownPage());
    SendShownItems(ids, shown == m_pages.end() ? 0 : shown->second);
}

void TDesignLayouts::CloseDesign() {
    UnregisterPages();
    m_module.ForgetShownDocument();
    m_document.reset();
    m_layoutRecord = 0;
    m_module.SetDesignItem(0);
    SendShownItems(m_openingSelection, 0);
    m_openingSelection.clear();
    ++m_generation;
    if (IKvwHost* host = m_module.GetHost()) {
        IKvwObject* object = nullptr;
        if (KvwSucceeded(host->QueryService(KvwService::kPanes, &object)) && object) {
            static_cast<IKvwPaneService*>(object)->ClosePanes();
            object->Release();
        }
    }
}

bool TDesignLayouts::SetLayoutDocument(std::unique_ptr<TdocDocument> document) {
    if (!document)
        return false;
    m_module.CancelQueuedRenders();
    // The previous document goes only once the panes show the new one.
    std::unique_ptr<TdocDocument> previous = std::exchange(m_document, std::move(document));
    ++m_generation;
    m_module.OnLayoutDocumentSet();
    previous.reset();
    return true;
}

TString TDesignLayouts::TemplateInUse() const {
    return m_templatePath.IsEmpty() ? m_module.GetUserOptions().GetLastLayoutPath() : m_templatePath;
}

void TDesignLayouts::ChangeTemplate(const TString& templatePath) {
    TUserOptions& options = m_module.GetUserOptions();
    // While no design is open the choice is only remembered: the next open starts from it.
    if (!m_module.IsDesignOpen() || !m_document) {
        options.SetLastLayoutPath(templatePath);
        return;
    }
    if (TemplateInUse().Compare(templatePath) == 0)
        return;
    m_limitTold = false;
    if (!LoadLayoutFile(templatePath))
        return;
    options.SetLastLayoutPath(templatePath);
    std::unique_ptr<TdocDocument> document = std::move(m_document);
    SetLayoutDocument(std::move(document));
}

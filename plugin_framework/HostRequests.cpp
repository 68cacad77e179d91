#include "HostLink.h"
#include "TFilePath.h"
#include "TModuleValues.h"
#include "TResource.h"

#include "platform/dadadud/DadaDud.h"

#include <memory>
#include <new>

namespace {

// Asks for every part of an item's source data.
constexpr DWORD kAllSourceData = 0xFFFFFFFF;
// The source sizes the host gives are 16-bit values in 32-bit words.
constexpr DWORD kSourceSideModulus = 0x10000;
// No caption file is made for more items than this (copies included).
constexpr std::size_t kMaxCaptionItems = std::size_t{1} << 20;

constexpr wchar_t kLineSeparator[] = L"@&@";
constexpr wchar_t kItemSeparator[] = L"$&$";
constexpr wchar_t kParameterSeparator[] = L"<;/>";
// The document that the caption stylesheet is applied to; the parameters carry everything else.
constexpr wchar_t kCaptionSource[] = L"<?xml version=\"1.0\" encoding=\"utf-16\" ?><template>aaa</template>";

struct ItemReleaser {
    void operator()(IKvwItem* item) const {
        if (item)
            item->Release();
    }
};

// A record of one 32-bit value, as the width and height records are.
bool GetRecordValue(KvwItemId item, DWORD record, LONG& value) {
    BYTE* bytes = nullptr;
    DWORD length = 0;
    if (!HostRequests::GetItemRecord(item, record, bytes, length))
        return false;
    const std::unique_ptr<BYTE[]> owned(bytes);
    if (length != sizeof(DWORD))
        return false;
    value = static_cast<LONG>(static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
                              static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24);
    return true;
}

// A blank after the character at `insertAfter` of every occurrence of the pattern, overlapping ones too.
TString BreakPattern(const TString& text, const wchar_t* pattern, int insertAfter) {
    const int length = static_cast<int>(std::wcslen(pattern));
    TString out;
    const wchar_t* chars = text;
    const int count = text.GetLength();
    for (int i = 0; i < count; ++i) {
        out.AppendChar(chars[i]);
        const int start = i - insertAfter;
        if (start >= 0 && start + length <= count && std::wcsncmp(chars + start, pattern, length) == 0)
            out.AppendChar(L' ');
    }
    return out;
}

} // namespace

bool HostRequests::IsDesignPage(KvwItemId item) {
    HostLink* link = HostLink::Instance();
    if (!link->IsBound())
        return false;
    CKvwSourceData data;
    return KvwSucceeded(link->GetItemService()->GetSourceData(KvwItemIdLow(item), KvwItemIdHigh(item), &data,
                                                              kAllSourceData)) &&
           data.type == kDesignPageType;
}

bool HostRequests::GetItemRecord(KvwItemId item, DWORD record, BYTE*& buffer, DWORD& length) {
    buffer = nullptr;
    length = 0;
    std::unique_ptr<IKvwItem, ItemReleaser> found(HostLink::Instance()->AcquireItem(item));
    DWORD size = 0;
    if (!found || !KvwSucceeded(found->GetRecord(record, nullptr, 0, &size)))
        return false;
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[size > 0 ? size : 1]);
    DWORD copied = size;
    if (!bytes || !KvwSucceeded(found->GetRecord(record, bytes.get(), size, &copied)) || copied != size)
        return false;
    buffer = bytes.release();
    length = size;
    return true;
}

bool HostRequests::GetItemData(KvwItemId item, TString& path) {
    HostLink* link = HostLink::Instance();
    if (!link->IsBound())
        return false;
    CKvwItemData data;
    if (!KvwSucceeded(link->GetItemService()->GetItemData(KvwItemIdLow(item), KvwItemIdHigh(item), &data, 0)))
        return false;
    path = TString(data.path.c_str());
    return true;
}

bool HostRequests::GetSourceInfo(KvwItemId item, graphtypes::TSize_T<LONG>& size) {
    size = graphtypes::TSize_T<LONG>(0, 0);
    HostLink* link = HostLink::Instance();
    if (!link->IsBound())
        return false;
    CKvwSourceData data;
    if (!KvwSucceeded(link->GetItemService()->GetSourceData(KvwItemIdLow(item), KvwItemIdHigh(item), &data,
                                                            kAllSourceData)))
        return false;
    size = graphtypes::TSize_T<LONG>(static_cast<LONG>(data.width % kSourceSideModulus),
                                     static_cast<LONG>(data.height % kSourceSideModulus));
    return true;
}

bool HostRequests::GetItemMetadata(KvwItemId item, TItemMetadata& metadata) {
    HostLink* link = HostLink::Instance();
    for (int field = 0; field < TItemMetadata::kFieldCount; ++field) {
        TString& text = metadata.fields[field];
        text.Empty();
        if (field == TItemMetadata::kFileName) {
            TString path;
            if (GetItemData(item, path))
                text = GetFileName(path);
        } else if (field == TItemMetadata::kPixelSize) {
            LONG width = 0, height = 0;
            if (GetRecordValue(item, KvwItemRecord::kWidth, width) &&
                GetRecordValue(item, KvwItemRecord::kHeight, height))
                text.Format(L"%d x %d", width, height);
        } else {
            link->GetItemProperty(item, TItemMetadata::kProperties[field], text);
        }
    }
    return true;
}

TString HostRequests::BuildMetadataText(KvwItemId item, const TItemMetadata& metadata, DWORD flags,
                                        const wchar_t* separator) {
    const TString end(separator ? separator : L"");
    const TString* f = metadata.fields;
    TString text = L"NUID:" + NuidToString(item) + end;
    TString line;
    if (flags & kFileNameLine) {
        line.Format(L"Filename:%ls", static_cast<const wchar_t*>(f[0]));
        text += line + end;
    } else if (flags & kBasicLine) {
        line.Format(L"Basic:%ls,%ls", static_cast<const wchar_t*>(f[0]), static_cast<const wchar_t*>(f[1]));
        text += line + end;
    }
    if (flags & kAdditionalLine) {
        line.Format(L"Additional:%ls,%ls,%ls,%ls,%ls", static_cast<const wchar_t*>(f[2]),
                    static_cast<const wchar_t*>(f[3]), static_cast<const wchar_t*>(f[4]),
                    static_cast<const wchar_t*>(f[5]), static_cast<const wchar_t*>(f[6]));
        text += line + end;
    }
    if (flags & kDetailedLine) {
        line.Format(L"Detailed:%ls,%ls,%ls,%ls,%ls", static_cast<const wchar_t*>(f[7]),
                    static_cast<const wchar_t*>(f[8]), static_cast<const wchar_t*>(f[9]),
                    static_cast<const wchar_t*>(f[10]), static_cast<const wchar_t*>(f[11]));
        text += line + end;
    }
    return text;
}

TString HostRequests::DefuseSeparators(const TString& text) {
    // Blanks only split: no occurrence of one pattern can be made by breaking another.
    TString out = BreakPattern(text, kLineSeparator, 1);
    out = BreakPattern(out, kItemSeparator, 1);
    return BreakPattern(out, kParameterSeparator, 1);
}

bool HostRequests::TransformCaption(const KvwItemIdList& items, DWORD flags, TString& path, LONG copies) {
    const std::size_t times = copies > 0 ? static_cast<std::size_t>(copies) : 0;
    if (times != 0 && items.size() > kMaxCaptionItems / times)
        return false;
    TString parameters;
    parameters.Format(L"intraItemDelimiter='%ls'%lsinterItemDelimiter='%ls'%lsimageStr=\"", kLineSeparator,
                      kParameterSeparator, kItemSeparator, kParameterSeparator);
    for (KvwItemId item : items) {
        TItemMetadata metadata;
        GetItemMetadata(item, metadata);
        for (TString& field : metadata.fields)
            field = DefuseSeparators(field);
        const TString text = BuildMetadataText(item, metadata, flags, kLineSeparator);
        for (std::size_t copy = 0; copy < times; ++copy)
            parameters += text + kItemSeparator;
    }
    parameters += L"\"";
    return TransformIntoBundle(kCaptionSource, kCaptionStylesheet, parameters, path);
}

bool HostRequests::TransformIntoBundle(const wchar_t* source, UINT stylesheetId, const TString& parameters,
                                       TString& path) {
    TString stylesheet;
    if (!TResource::LoadOwnText(L"XSLT", stylesheetId, stylesheet))
        return false;
    TFilePath location;
    if (!MakeUniqueFileName(L"bndl", L"xml", location))
        return false;
    if (docXSLTTransform2(source, location.GetPath(), stylesheet, parameters, nullptr) != 1) {
        // The name was claimed by an empty file, which is of no use to anyone now.
        location.Delete();
        return false;
    }
    path = location.GetPath();
    return true;
}

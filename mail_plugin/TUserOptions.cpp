#include "TUserOptions.h"

#include "plugin_framework/HostLink.h"
#include "plugin_framework/PackedColor.h"

#include <algorithm>

namespace {

TString Key(const wchar_t* path) {
    return TString(L"MailPI\\") + path;
}

// A stored negative index becomes 0.
void ReadIndex(TKorvelRegServPrefs& prefs, const wchar_t* path, LONG& value) {
    if (prefs.GetLong(Key(path), &value) && value < 0)
        value = 0;
}

// When the key is present: true exactly when it holds 1; an absent key leaves the value.
void ReadPresentFlag(TKorvelRegServPrefs& prefs, const wchar_t* path, bool& value) {
    LONG stored = 0;
    if (prefs.GetLong(Key(path), &stored))
        value = stored == 1;
}

// A text that is present and not empty replaces the value.
bool ReadText(TKorvelRegServPrefs& prefs, const wchar_t* path, TString& value) {
    TString text;
    if (!prefs.GetString(Key(path), text) || text.IsEmpty())
        return false;
    value = text;
    return true;
}

} // namespace

TUserOptions::TUserOptions() : m_prefs(std::make_unique<TKorvelRegServPrefs>()) {
    SetDefaults();
}

TUserOptions::~TUserOptions() = default;

void TUserOptions::SetDefaults() {
    sendAs = kIndexSheet;
    pageLayout = 0;
    pageSize = 0;
    imageSize = kDefaultImageSize;
    jpegQuality = 80;
    showMoreOptions = false;
    useCaption = false;
    connectionName = TString();
    pageBackgroundColour = 0xFFFFFFFFu;
}

bool TUserOptions::Load() {
    IKvwRegistryService* service = HostLink::Instance()->GetRegistryService();
    if (!service)
        return false;
    m_prefs->SetService(service);
    service->Release();

    TKorvelRegServPrefs& prefs = *m_prefs;
    TString text;
    if (ReadText(prefs, L"send_as", text))
        sendAs = IsIndexSheet(text) ? kIndexSheet : kIndividual;
    if (prefs.GetLong(Key(L"output_jpeg_quality"), &jpegQuality))
        jpegQuality = std::clamp(jpegQuality, kMinimumQuality, kMaximumQuality);
    ReadText(prefs, L"connection_name", connectionName);
    ReadIndex(prefs, L"index_print\\page_layout", pageLayout);
    ReadIndex(prefs, L"index_print\\page_size", pageSize);
    ReadPresentFlag(prefs, L"index_print\\use_caption", useCaption);
    if (ReadText(prefs, L"index_print\\page_bkcolor", text))
        ParseHexColor(text, pageBackgroundColour); // a text that is no colour keeps the field
    ReadIndex(prefs, L"image_attachments\\image_size", imageSize);
    ReadPresentFlag(prefs, L"Show_more_options", showMoreOptions);
    return true;
}

bool TUserOptions::Save() {
    if (!m_prefs->HasService())
        return false;
    TKorvelRegServPrefs& prefs = *m_prefs;
    prefs.SetString(Key(L"send_as"), SendAsToString(sendAs));
    prefs.SetLong(Key(L"output_jpeg_quality"), jpegQuality);
    prefs.SetString(Key(L"connection_name"), connectionName);
    prefs.SetLong(Key(L"index_print\\page_layout"), pageLayout);
    prefs.SetLong(Key(L"index_print\\page_size"), pageSize);
    prefs.SetLong(Key(L"index_print\\use_caption"), useCaption ? 1 : 0);
    prefs.SetString(Key(L"index_print\\page_bkcolor"), HexColor(pageBackgroundColour));
    prefs.SetLong(Key(L"image_attachments\\image_size"), imageSize);
    prefs.SetLong(Key(L"Show_more_options"), showMoreOptions ? 1 : 0);
    return m_prefs->Open();
}

bool TUserOptions::IsRestrictedHost() const {
    return HostLink::Instance()->QueryNumber() == kRestrictedHostNumber;
}

LONG TUserOptions::GetSendAs() const {
    return IsRestrictedHost() ? kIndividual : sendAs;
}

LONG TUserOptions::GetImageSize() const {
    // A size past the own size would read as no scaling, also on the restricted host, which has none.
    const LONG size = imageSize > kOwnSize ? kDefaultImageSize : imageSize;
    return IsRestrictedHost() && size == kOwnSize ? kRestrictedOwnSize : size;
}

LONG TUserOptions::GetPageSize() const {
    return pageSize >= kPageSizeCount ? 0 : pageSize;
}

bool TUserOptions::IsIndexSheet(const TString& text) {
    return text == L"index_sheet";
}

TString TUserOptions::SendAsToString(LONG value) {
    return TString(value == kIndexSheet ? L"index_sheet" : L"individual");
}

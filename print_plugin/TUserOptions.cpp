#include "TUserOptions.h"

#include "NumberText.h"

#include "plugin_framework/HostLink.h"
#include "plugin_framework/PackedColor.h"

namespace {

TString Key(const wchar_t* path) {
    return TString(L"PrintPI\\") + path;
}

// The stored whole number when there is one, else the value as it was.
void ReadWhole(TKorvelRegServPrefs& prefs, const wchar_t* path, LONG& value) {
    prefs.GetLong(Key(path), &value);
}

void ReadReal(TKorvelRegServPrefs& prefs, const wchar_t* path, double& value) {
    prefs.GetDouble(Key(path), &value);
}

// True exactly when the key holds 1; absent means false as well.
bool ReadFlag(TKorvelRegServPrefs& prefs, const wchar_t* path) {
    LONG value = 0;
    return prefs.GetLong(Key(path), &value) && value == 1;
}

// When the key is present: true exactly when it holds 1; an absent key leaves the value.
void ReadPresentFlag(TKorvelRegServPrefs& prefs, const wchar_t* path, bool& value) {
    LONG stored = 0;
    if (prefs.GetLong(Key(path), &stored))
        value = stored == 1;
}

void ReadFont(TKorvelRegServPrefs& prefs, const wchar_t* group, TFontInfo& font) {
    TString text;
    if (prefs.GetString(Key(group) + L"\\face", text) && !text.IsEmpty())
        font.face = text;
    if (prefs.GetString(Key(group) + L"\\style", text))
        font.style = AddStyleWords(text, font.style);
    prefs.GetLong(Key(group) + L"\\size_points", &font.size);
}

void WriteWhole(TKorvelRegServPrefs& prefs, const wchar_t* path, LONG value) {
    prefs.SetLong(Key(path), value);
}

void WriteReal(TKorvelRegServPrefs& prefs, const wchar_t* path, double value) {
    prefs.SetString(Key(path), NumberText::RealText(value));
}

void WriteFont(TKorvelRegServPrefs& prefs, const wchar_t* group, const TFontInfo& font) {
    prefs.SetString(Key(group) + L"\\face", font.face);
    prefs.SetString(Key(group) + L"\\style", StyleWords(font.style));
    prefs.SetLong(Key(group) + L"\\size_points", font.size);
}

} // namespace

LONG AddStyleWords(const TString& text, LONG style) {
    const TString words = text + L",";
    int start = 0;
    for (int comma = words.Find(L','); comma >= 0; comma = words.Find(L',', start)) {
        const TString word = words.Mid(start, comma - start);
        if (word == L"bold")
            style |= TFontInfo::kBold;
        else if (word == L"italic")
            style |= TFontInfo::kItalic;
        start = comma + 1;
    }
    return style;
}

TString StyleWords(LONG style) {
    TString text;
    if (style & TFontInfo::kBold)
        text = L"bold";
    if (style & TFontInfo::kItalic)
        text += text.IsEmpty() ? L"italic" : L",italic";
    return text;
}

TUserOptions::TUserOptions() : m_prefs(std::make_unique<TKorvelRegServPrefs>()) {
    SetDefaults();
}

TUserOptions::~TUserOptions() = default;

void TUserOptions::SetDefaults() {
    printAs = 0;
    layoutIndex = 0;
    indexPrintType = 0;
    columns = 5;
    itemSize = graphtypes::TSize_T<double>(1.0, 1.0);
    printerKindIndex = kNoPrinterKind;
    m_printerOptions = nullptr;
    metadataEnabled = false;
    rotateToFit = false;
    borderlessPrint = false;
    useReplicate = false;
    replicas = 1;
}

bool TUserOptions::Load() {
    IKvwRegistryService* service = HostLink::Instance()->GetRegistryService();
    if (!service)
        return false;
    m_prefs->SetService(service);
    service->Release();

    TKorvelRegServPrefs& prefs = *m_prefs;
    ReadWhole(prefs, L"print_as", printAs);
    LONG index = layoutIndex;
    if (prefs.GetLong(Key(L"standard_print\\layout_index"), &index) && index != -1)
        layoutIndex = index;
    index = indexPrintType;
    if (prefs.GetLong(Key(L"index_print\\index_print_type"), &index) && index != -1)
        indexPrintType = index;
    ReadWhole(prefs, L"index_print\\easy\\nb_cols", columns);
    ReadReal(prefs, L"index_print\\advanced\\item_w", itemSize.cx);
    ReadReal(prefs, L"index_print\\advanced\\item_h", itemSize.cy);
    ReadWhole(prefs, L"printer_kind_index", printerKindIndex);

    metadataEnabled = ReadFlag(prefs, L"metadata\\enabled");
    const std::pair<const wchar_t*, LONG> captionFlags[] = {
        {L"metadata\\caption\\flags\\basic", TMetadataSettings::kBasic},
        {L"metadata\\caption\\flags\\additional", TMetadataSettings::kAdditional},
        {L"metadata\\caption\\flags\\detailed", TMetadataSettings::kDetailed}};
    for (auto [path, bit] : captionFlags) {
        if (ReadFlag(prefs, path))
            metadata.captionFlags |= bit;
    }
    ReadFont(prefs, L"metadata\\caption\\font", metadata.captionFont);
    metadata.imprintEnabled = ReadFlag(prefs, L"metadata\\imprints\\enabled");
    metadata.imprintDateAndTime = ReadFlag(prefs, L"metadata\\imprints\\date_and_time");
    TString text;
    if (prefs.GetString(Key(L"metadata\\imprints\\color"), text))
        ParseHexColor(text, metadata.imprintColour); // a text that is no colour keeps the field
    ReadFont(prefs, L"metadata\\imprints\\font", metadata.imprintFont);

    ReadPresentFlag(prefs, L"rotate_to_fit", rotateToFit);
    ReadPresentFlag(prefs, L"borderless_print", borderlessPrint);
    ReadPresentFlag(prefs, L"replicate_images\\use_replicate", useReplicate);
    ReadWhole(prefs, L"replicate_images\\nb_replicas", replicas);
    if (m_printerOptions)
        ReadPrinterOptions();
    return true;
}

void TUserOptions::ReadPrinterOptions() {
    TKorvelRegServPrefs& prefs = *m_prefs;
    TString text;
    if (prefs.GetString(Key(L"printer_options\\printer_name"), text))
        m_printerOptions->printerName = text;
    if (prefs.GetString(Key(L"printer_options\\port_name"), text))
        m_printerOptions->paperName = text;
    if (prefs.GetString(Key(L"printer_options\\paper_orientation"), text))
        m_printerOptions->portrait = text == L"portrait" ? 1 : 0;
    graphtypes::TRect_T<double>& rect = m_printerOptions->pageRect;
    ReadReal(prefs, L"printer_options\\user_margins\\left", rect.left);
    ReadReal(prefs, L"printer_options\\user_margins\\top", rect.top);
    ReadReal(prefs, L"printer_options\\user_margins\\right", rect.right);
    ReadReal(prefs, L"printer_options\\user_margins\\bottom", rect.bottom);
}

bool TUserOptions::Save() {
    if (!m_prefs->HasService())
        return false;
    TKorvelRegServPrefs& prefs = *m_prefs;
    WriteWhole(prefs, L"print_as", printAs);
    WriteWhole(prefs, L"standard_print\\layout_index", layoutIndex);
    WriteWhole(prefs, L"index_print\\index_print_type", indexPrintType);
    WriteWhole(prefs, L"index_print\\easy\\nb_cols", columns);
    WriteReal(prefs, L"index_print\\advanced\\item_w", itemSize.cx);
    WriteReal(prefs, L"index_print\\advanced\\item_h", itemSize.cy);
    WriteWhole(prefs, L"printer_kind_index", printerKindIndex);
    WriteWhole(prefs, L"metadata\\enabled", IsMetadataEnabled() ? 1 : 0);
    WriteWhole(prefs, L"metadata\\caption\\flags\\basic",
               metadata.captionFlags & TMetadataSettings::kBasic ? 1 : 0);
    WriteWhole(prefs, L"metadata\\caption\\flags\\additional",
               metadata.captionFlags & TMetadataSettings::kAdditional ? 1 : 0);
    WriteWhole(prefs, L"metadata\\caption\\flags\\detailed",
               metadata.captionFlags & TMetadataSettings::kDetailed ? 1 : 0);
    WriteFont(prefs, L"metadata\\caption\\font", metadata.captionFont);
    WriteWhole(prefs, L"metadata\\imprints\\enabled", metadata.imprintEnabled ? 1 : 0);
    WriteWhole(prefs, L"metadata\\imprints\\date_and_time", metadata.imprintDateAndTime ? 1 : 0);
    prefs.SetString(Key(L"metadata\\imprints\\color"), HexColor(metadata.imprintColour));
    WriteFont(prefs, L"metadata\\imprints\\font", metadata.imprintFont);
    WriteWhole(prefs, L"rotate_to_fit", rotateToFit ? 1 : 0);
    WriteWhole(prefs, L"borderless_print", borderlessPrint ? 1 : 0);
    WriteWhole(prefs, L"replicate_images\\use_replicate", useReplicate ? 1 : 0);
    WriteWhole(prefs, L"replicate_images\\nb_replicas", replicas);
    if (m_printerOptions)
        WritePrinterOptions();
    return m_prefs->Open();
}

void TUserOptions::WritePrinterOptions() {
    TKorvelRegServPrefs& prefs = *m_prefs;
    prefs.SetString(Key(L"printer_options\\printer_name"), m_printerOptions->printerName);
    prefs.SetString(Key(L"printer_options\\port_name"), m_printerOptions->paperName);
    // "landcape" is the stored word, spelled so.
    prefs.SetString(Key(L"printer_options\\paper_orientation"),
                    m_printerOptions->portrait ? L"portrait" : L"landcape");
    const graphtypes::TRect_T<double>& rect = m_printerOptions->pageRect;
    WriteReal(prefs, L"printer_options\\user_margins\\left", rect.left);
    WriteReal(prefs, L"printer_options\\user_margins\\top", rect.top);
    WriteReal(prefs, L"printer_options\\user_margins\\right", rect.right);
    WriteReal(prefs, L"printer_options\\user_margins\\bottom", rect.bottom);
}

bool TUserOptions::IsRestrictedHost() const {
    return HostLink::Instance()->QueryNumber() == kRestrictedHostNumber;
}

LONG TUserOptions::GetPrintAs() const {
    return IsRestrictedHost() ? 0 : printAs;
}

LONG TUserOptions::GetLayoutIndex() const {
    return IsRestrictedHost() ? 0 : layoutIndex;
}

bool TUserOptions::GetRotateToFit() const {
    return IsRestrictedHost() ? true : rotateToFit;
}

bool TUserOptions::GetBorderlessPrint() const {
    return IsRestrictedHost() ? false : borderlessPrint;
}

bool TUserOptions::GetUseReplicate() const {
    return IsRestrictedHost() ? false : useReplicate;
}

bool TUserOptions::IsMetadataEnabled() const {
    return IsRestrictedHost() ? false : metadataEnabled;
}

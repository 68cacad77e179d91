#include "TConfigSettings.h"

#include "CaptionAlignment.h"
#include "NumberText.h"

#include <cmath>

namespace {

// The two numbers of "<first>x<second>", each read from the start of its side; a side that holds no
// number stays 0, and a text without "x" gives 0 and 0.
template <class T, class Parse>
graphtypes::TSize_T<T> ReadPair(const TString& text, Parse parse) {
    graphtypes::TSize_T<T> pair(0, 0);
    const int cross = text.Find(L'x');
    if (cross < 0)
        return pair;
    parse(static_cast<const wchar_t*>(text.Left(cross)), pair.cx);
    parse(static_cast<const wchar_t*>(text) + cross + 1, pair.cy);
    return pair;
}

} // namespace

template <class Add>
void TConfigSettings::ReadList(const wchar_t* path, const wchar_t* first, const wchar_t* second, Add add) {
    TString query;
    query.Format(L"count(%ls)", path);
    LONG count = 0;
    if (!m_file.GetLong(query, &count))
        return;
    for (LONG i = 1; i <= count; ++i) {
        TString firstKey, secondKey, firstText, secondText;
        firstKey.Format(L"%ls[%d]/%ls", path, i, first);
        secondKey.Format(L"%ls[%d]/%ls", path, i, second);
        if (!m_file.GetString(firstKey, firstText) || firstText.IsEmpty() ||
            !m_file.GetString(secondKey, secondText) || secondText.IsEmpty())
            continue;
        add(firstText, secondText);
    }
}

bool TConfigSettings::ReadIndexPrintLimits() {
    double value = m_indexMinSize;
    if (!m_file.GetDouble(L"index_print_advanced/minimum_size", &value) || !std::isfinite(value) || value < 0)
        return false;
    m_indexMinSize = value;
    value = m_indexMaxSize;
    if (!m_file.GetDouble(L"index_print_advanced/maximum_size", &value) || !std::isfinite(value) ||
        !(value > m_indexMinSize))
        return false;
    m_indexMaxSize = value;
    value = m_indexIncrement;
    if (!m_file.GetDouble(L"index_print_advanced/increment_size", &value) || !std::isfinite(value) ||
        !(value > 0))
        return false;
    m_indexIncrement = value;
    return true;
}

bool TConfigSettings::Load(const wchar_t* path) {
    if (!m_file.Open(path, false))
        return false;
    TString text;
    if (m_file.GetString(L"units/current", text))
        m_unit = UnitFromName(text);
    m_file.GetDouble(L"itemAspectRatio", &m_itemAspectRatio);

    m_layouts.clear();
    for (bool byRowsCols : {true, false}) {
        ReadList(byRowsCols ? L"standard_layouts/nb_rows_cols/layout" : L"standard_layouts/image_size/layout",
                 L"name", L"data", [&](const TString& name, const TString& data) {
                     m_layouts.push_back(LayoutRecord{
                         name, byRowsCols, ReadPair<double>(data, [](const wchar_t* side, double& value) {
                             NumberText::ParseReal(side, value);
                         })});
                 });
    }
    if (!ReadIndexPrintLimits())
        return false;

    m_printerTypes.clear();
    ReadList(L"printer_types/printer_type", L"name", L"res_dpi",
             [&](const TString& name, const TString& dpi) {
                 m_printerTypes.push_back(
                     PrinterTypeRecord{name, ReadPair<LONG>(dpi, [](const wchar_t* side, LONG& value) {
                                           NumberText::ParseWhole(side, value);
                                       })});
             });

    m_file.GetDouble(L"image_spacing/horizontal", &m_imageSpacing.cx);
    m_file.GetDouble(L"image_spacing/vertical", &m_imageSpacing.cy);
    m_file.GetLong(L"caption/font/max_size_points", &m_captionMaxSize);
    m_file.GetDouble(L"caption/font/auto_size_ratio", &m_captionAutoSizeRatio);
    if (m_file.GetString(L"caption/alignment/crt_value", text)) {
        const LONG alignment = CaptionAlignment(text);
        if (alignment != CaptionAlign::kUnknown)
            m_captionAlignment = alignment;
    }
    m_file.GetLong(L"selection/max_limit", &m_selectionLimit);
    return true;
}

void TConfigSettings::Clear() {
    m_layouts.clear();
    m_printerTypes.clear();
}

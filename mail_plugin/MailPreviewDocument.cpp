#include "MailPreviewDocument.h"

#include "FileSaveFit.h"
#include "TdocDataSource.h"

#include <memory>

namespace MailPreviewDocument {

graphtypes::TSize_T<LONG> PageSize(const graphtypes::TSize_T<LONG>& attachment) {
    return attachment.cx > 0 || attachment.cy > 0
               ? attachment
               : graphtypes::TSize_T<LONG>(kFullSizeWidth, kFullSizeHeight);
}

graphtypes::TRect_T<double> PictureBox(const graphtypes::TSize_T<LONG>& page,
                                       const TFileSaveData::TItem& item) {
    const graphtypes::TSize_T<LONG>& picture = item.pictureSize;
    if (item.designPage || picture.cx <= 0 || picture.cy <= 0 || page.cx <= 0 || page.cy <= 0)
        return graphtypes::TRect_T<double>(0, 0, page.cx, page.cy);
    const double factor = FileSaveFit::ScaleFactor(picture, page);
    const double width = picture.cx * factor, height = picture.cy * factor;
    const double left = (page.cx - width) / 2, top = (page.cy - height) / 2;
    return graphtypes::TRect_T<double>(left, top, left + width, top + height);
}

std::wstring TemplateText(const graphtypes::TSize_T<LONG>& page, DWORD background,
                          const std::vector<graphtypes::TRect_T<double>>& boxes) {
    TString colour;
    colour.Format(L"#%02x%02x%02x%02x", background & 0xFF, (background >> 8) & 0xFF,
                  (background >> 16) & 0xFF, (background >> 24) & 0xFF);
    std::wstring slots, pages;
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        const graphtypes::TRect_T<double>& box = boxes[k];
        TString slot, text;
        slot.Format(L"<mm-object id='%d' type='image'/>", static_cast<int>(k));
        // Numbers of the layout are written in the C locale (TString formats so).
        text.Format(L"<page id='%d' cx='%d' cy='%d'><property name='content-alignment'>"
                    L"<attr name='vertical'>c</attr><attr name='horizontal'>c</attr></property>"
                    L"<property name='background'><attr name='color'>%ls</attr></property><item id='1'>"
                    L"<bounding-box x='%.6f' y='%.6f' cx='%.6f' cy='%.6f' /><content>"
                    L"<image mime-type='image/jpeg'>#%d/content</image></content></item></page>",
                    static_cast<int>(k + 1), page.cx, page.cy, static_cast<const wchar_t*>(colour), box.left,
                    box.top, box.Width(), box.Height(), static_cast<int>(k));
        slots += static_cast<const wchar_t*>(slot);
        pages += static_cast<const wchar_t*>(text);
    }
    return L"<?xml version='1.0' encoding='utf-8' ?><template><cluster id='1'><dynObjects>" + slots +
           L"</dynObjects>" + pages + L"</cluster></template>";
}

TdocDocument* Create(const graphtypes::TSize_T<LONG>& attachment, DWORD background,
                     const TString& itemDataPath, const std::vector<TFileSaveData::TItem>& items) {
    const graphtypes::TSize_T<LONG> page = PageSize(attachment);
    std::vector<graphtypes::TRect_T<double>> boxes;
    for (const TFileSaveData::TItem& item : items)
        boxes.push_back(PictureBox(page, item));
    if (boxes.empty())
        boxes.emplace_back(0, 0, page.cx, page.cy);
    const std::wstring text = TemplateText(page, background, boxes);
    const std::unique_ptr<TdocDataSource> layout(
        TdocDataSource::Create2(text.c_str(), static_cast<LONG>(text.size())));
    const std::unique_ptr<TdocDataSource> pictures(TdocDataSource::Create(itemDataPath));
    if (!layout || !pictures)
        return nullptr;
    return TdocDataSource::CreateDocumentFromLTF2(*layout, *pictures);
}

} // namespace MailPreviewDocument

#include "MailPreviewDocument.h"

#include "TdocDataSource.h"

#include <memory>

namespace MailPreviewDocument {

std::wstring TemplateText(const graphtypes::TSize_T<LONG>& page, DWORD background) {
    TString colour;
    colour.Format(L"#%02x%02x%02x%02x", background & 0xFF, (background >> 8) & 0xFF,
                  (background >> 16) & 0xFF, (background >> 24) & 0xFF);
    TString text;
    text.Format(L"<?xml version='1.0' encoding='utf-8' ?><template><cluster id='1'><dynObjects>"
                L"<mm-object id='0' type='image'/></dynObjects><page id='1' cx='%d' cy='%d'>"
                L"<property name='content-alignment'><attr name='vertical'>c</attr>"
                L"<attr name='horizontal'>c</attr></property><property name='background'>"
                L"<attr name='color'>%ls</attr></property><item id='1'>"
                L"<bounding-box x='0' y='0' cx='%d' cy='%d' /><content>"
                L"<image mime-type='image/jpeg'>#0/content</image></content></item></page></cluster>"
                L"</template>",
                page.cx, page.cy, static_cast<const wchar_t*>(colour), page.cx, page.cy);
    return std::wstring(static_cast<const wchar_t*>(text));
}

TdocDocument* Create(const graphtypes::TSize_T<LONG>& attachment, DWORD background,
                     const TString& itemDataPath) {
    const graphtypes::TSize_T<LONG> page = attachment.cx > 0 || attachment.cy > 0
                                               ? attachment
                                               : graphtypes::TSize_T<LONG>(kFullSizeWidth, kFullSizeHeight);
    const std::wstring text = TemplateText(page, background);
    const std::unique_ptr<TdocDataSource> layout(
        TdocDataSource::Create2(text.c_str(), static_cast<LONG>(text.size())));
    const std::unique_ptr<TdocDataSource> pictures(TdocDataSource::Create(itemDataPath));
    if (!layout || !pictures)
        return nullptr;
    return TdocDataSource::CreateDocumentFromLTF2(*layout, *pictures);
}

} // namespace MailPreviewDocument

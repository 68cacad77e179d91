#include "TdocObject.h"

#include <cerrno>
#include <cwchar>
#include <vector>

namespace {

// The first buffer holds this many characters besides the terminator.
constexpr LONG kFirstReadCount = 255;

} // namespace

TdocObject::~TdocObject() {
    Release();
}

void TdocObject::Release() {
    if (m_handle != kDocNoHandle && docReleaseHandle(m_handle) == 1)
        m_handle = kDocNoHandle;
}

LONG TdocObject::GetStringProperty(const wchar_t* path, TString& text, BYTE flag) const {
    std::vector<wchar_t> buffer(kFirstReadCount + 1);
    LONG count = kFirstReadCount;
    LONG result = docGetPropertyValue(m_handle, path, buffer.data(), &count, flag);
    if (result == 1 && count > kFirstReadCount) {
        const LONG room = count;
        buffer.assign(static_cast<std::size_t>(room) + 1, L'\0');
        result = docGetPropertyValue(m_handle, path, buffer.data(), &count, flag);
        // A value that grew between the two calls was not copied.
        if (result == 1 && count > room)
            return 0;
    }
    if (result == 1)
        text = TString(buffer.data(), count);
    return result;
}

LONG TdocObject::GetLongProperty() const {
    TString text;
    if (GetStringProperty(L"@id", text, 0) != 1)
        return -1;
    // Read as a 32-bit wcstol does: values beyond the range stop at its ends.
    const long long value = std::wcstoll(text, nullptr, 10);
    if (value > 0x7FFFFFFF)
        return 0x7FFFFFFF;
    if (value < -0x7FFFFFFF - 1)
        return -0x7FFFFFFF - 1;
    return static_cast<LONG>(value);
}

bool TdocObject::GetDoubleProperty(const wchar_t* path, double& value) const {
    TString text;
    if (GetStringProperty(path, text, 0) != 1)
        return false;
    value = std::wcstod(text, nullptr);
    return true;
}

bool TdocObject::GetBoundingBox(graphtypes::TRect_T<double>& box) const {
    double width = 0, height = 0;
    if (!GetDoubleProperty(L"bounding-box/@x", box.left) || !GetDoubleProperty(L"bounding-box/@y", box.top) ||
        !GetDoubleProperty(L"bounding-box/@cx", width) || !GetDoubleProperty(L"bounding-box/@cy", height))
        return false;
    box.right = box.left + width;
    box.bottom = box.top + height;
    return true;
}

bool TdocObject::GetSize(graphtypes::TSize_T<double>& size) const {
    double width = 0, height = 0;
    if (!GetDoubleProperty(L"@cx", width) || !GetDoubleProperty(L"@cy", height))
        return false;
    size = graphtypes::TSize_T<double>(width, height);
    return true;
}

TdocDocument* TdocDocument::CreateFromLDF(const TString& path) {
    DocHandle handle = kDocNoHandle;
    return docCreateDocumentFromLDF(path, &handle) == 1 ? new TdocDocument(handle) : nullptr;
}

TdocDocument* TdocDocument::CreateFromLTF(const TString& templatePath, const TString& bundlePath) {
    DocHandle handle = kDocNoHandle;
    return docCreateDocumentFromLTF(templatePath, bundlePath, &handle) == 1 ? new TdocDocument(handle)
                                                                            : nullptr;
}

TdocDocument* TdocDocument::CreateFromLTF2(DocHandle templateSource, DocHandle bundleSource) {
    DocHandle handle = kDocNoHandle;
    return docCreateDocumentFromLTF2(templateSource, bundleSource, &handle) == 1 ? new TdocDocument(handle)
                                                                                 : nullptr;
}

TdocDocument* TdocDocument::CreateFromLDF2(DocHandle source) {
    DocHandle handle = kDocNoHandle;
    return docCreateDocumentFromLDF2(source, &handle) == 1 ? new TdocDocument(handle) : nullptr;
}

LONG TdocDocument::ApplyTransform(const TString& stylesheet, const TString& parameters) {
    return docApplyTransform(GetHandle(), stylesheet, parameters);
}

LONG TdocDocument::SaveLDF(const TString& path) const {
    return docSaveLDF(GetHandle(), path);
}

LONG TdocDocument::GetPageCount() const {
    LONG count = 0;
    return docGetDocNbPages(GetHandle(), &count) == 1 && count > 0 ? count : 0;
}

TdocPage* TdocDocument::GetPage(LONG index) const {
    DocHandle handle = kDocNoHandle;
    return docGetPageByIndex(GetHandle(), index, &handle) == 1 ? new TdocPage(handle) : nullptr;
}

TdocItem* TdocPage::GetItem(LONG index) const {
    DocHandle handle = kDocNoHandle;
    return docGetItem(GetHandle(), index, &handle) == 1 ? new TdocItem(handle) : nullptr;
}

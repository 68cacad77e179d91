#include "TiProItemImage.h"

#include "plugin_framework/TSyncObject.h"

TiProItemImage* TiProItemImage::CreateFromNUID(const TString& itemId, const IproCodecTable* codec,
                                               TSyncObject* abort) {
    IproHandle handle = kIproNoHandle;
    if (iproCreateImageFromNUID(itemId, codec, abort, &handle) != 1 || handle == kIproNoHandle)
        return nullptr;
    return new TiProItemImage(handle);
}

TiProItemImage* TiProItemImage::CreateFromNUID(const TString& itemId, const IproCodecTable* codec,
                                               TSyncObject* abort,
                                               const graphtypes::TSize_T<LONG>& fitInside) {
    IproHandle handle = kIproNoHandle;
    if (iproCreateImageFromNUID2(itemId, codec, abort, nullptr, fitInside.cx, fitInside.cy, &handle) != 1 ||
        handle == kIproNoHandle)
        return nullptr;
    return new TiProItemImage(handle);
}

LONG TiProItemImage::Save(const TString& path, LONG flags, TiProCodecParameters* parameters) const {
    const IproCodecParamList* list = nullptr;
    if (parameters)
        parameters->Flatten(list);
    return iproSaveImage(m_handle, path, flags, list);
}

LONG TiProItemImage::ReleaseHandle() {
    if (m_handle == kIproNoHandle)
        return 0;
    const LONG result = iproReleaseHandle(m_handle);
    if (result == 1)
        m_handle = kIproNoHandle;
    return result;
}

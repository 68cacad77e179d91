#include "PngResourceImage.h"

#include "FileData.h"
#include "TFilePath.h"
#include "TResource.h"

#include <memory>

TiProImage* LoadPngResourceImage(HINSTANCE module, UINT id) {
    TResource resources = *TResource::Instance();
    resources.SetModule(module);
    resources.SetType(L"PNG");
    BYTE* raw = nullptr;
    DWORD size = 0;
    if (!module || !resources.LoadRaw(id, raw, size))
        return nullptr;
    const std::unique_ptr<BYTE[]> bytes(raw);
    TFilePath location;
    if (!MakeUniqueFileName(L"tmp", L"png", location))
        return nullptr;
    TiProImage* image = nullptr;
    if (WriteBinaryFile(location, bytes.get(), size))
        image = TiProImage::CreateFromFile(location.GetPath());
    location.Delete();
    return image;
}

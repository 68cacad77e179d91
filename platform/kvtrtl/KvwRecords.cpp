#include "KvwRecords.h"

#include <cstring>

void CKvwFilePath::Initialize(const std::string& folderText, const std::string& fileNameText,
                              float scaleValue, DWORD colorSpaceCode, LONG qualityLevel, LONG widthValue,
                              LONG heightValue) {
    folder = folderText;
    fileName = fileNameText;
    scale = scaleValue;
    colorSpace = colorSpaceCode;
    quality = qualityLevel;
    width = widthValue;
    height = heightValue;
}

void CKvwItemProperty::CopyTo(BYTE* out) const {
    for (std::size_t i = 0; i < sizeof(DWORD); ++i)
        out[i] = static_cast<BYTE>(type >> (8 * i));
    if (!value.empty())
        std::memcpy(out + sizeof(DWORD), value.data(), value.size());
}

CKvwProfileImage::~CKvwProfileImage() {
    if (image)
        image->Release();
}

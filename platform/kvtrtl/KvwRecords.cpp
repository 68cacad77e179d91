#include "KvwRecords.h"

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

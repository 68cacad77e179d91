#include "SavedPicture.h"

#include "plugin_framework/TiProObjects.h"

#include "platform/win/utf16.h"
#include "platform/zizoraz/IproHandles.h"
#include "platform/zizoraz/IproImageFile.h"

#include <cstdio>
#include <filesystem>

std::optional<IproPixels> kvtest::SaveAndReadBack(const IproPixels& pixels, const std::string& name) {
    const std::filesystem::path shown = std::filesystem::path(KV_TEST_OUTPUT_DIR) / name;
    std::filesystem::create_directories(shown.parent_path());
    const std::wstring path = Utf::Utf8ToWide(shown.string());
    if (!IproImageFile::Save(pixels, path.c_str(), {}, true))
        return std::nullopt;
    std::printf("the picture is in %s\n", shown.c_str());
    TiProImage* reloaded = TiProImage::CreateFromFile(path.c_str());
    if (!reloaded)
        return std::nullopt;
    std::optional<IproPixels> read;
    if (std::shared_ptr<CIproImage> image = IproHandles::FindImage(reloaded->GetHandle())) {
        std::lock_guard<std::mutex> guard(image->lock);
        read = image->pixels;
    }
    reloaded->Release();
    delete reloaded;
    return read;
}

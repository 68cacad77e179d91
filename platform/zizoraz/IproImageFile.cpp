#include "IproImageFile.h"

#include "IproJpegCodec.h"
#include "IproPngCodec.h"
#include "IproResample.h"

#include "platform/win/WinFileIO.h"

#include <algorithm>
#include <cmath>
#include <cwctype>

namespace {

// More entries than any caller sends mark a list that is not one.
constexpr DWORD kMaxParams = 64;

} // namespace

bool IproImageFile::Decode(const std::uint8_t* data, std::size_t size, IproPixels& out) {
    if (IproPngCodec::HasSignature(data, size))
        return IproPngCodec::Decode(data, size, out);
    if (IproJpegCodec::HasSignature(data, size))
        return IproJpegCodec::Decode(data, size, out);
    return false;
}

bool IproImageFile::Load(const wchar_t* path, IproPixels& out) {
    std::vector<std::uint8_t> bytes;
    return WinFileIO::ReadWholeFile(WinFileIO::NativePath(path), kMaxFileBytes, bytes) &&
           Decode(bytes.data(), bytes.size(), out);
}

bool IproImageFile::ReadSaveOptions(const IproCodecParamList* params, SaveOptions& options) {
    if (!params)
        return true;
    if (params->size != sizeof(IproCodecParamList) || params->count > kMaxParams ||
        (params->count > 0 && !params->entries))
        return false;
    for (DWORD i = 0; i < params->count; ++i) {
        const IproCodecParam* entry = params->entries[i];
        if (!entry || !entry->value)
            return false;
        switch (entry->type) {
        case IPRO_PARAM_SCALE:
            options.scale = *reinterpret_cast<const float*>(entry->value);
            if (!std::isfinite(options.scale) || options.scale <= 0)
                return false;
            break;
        case IPRO_PARAM_QUALITY:
            options.quality = *reinterpret_cast<const LONG*>(entry->value);
            break;
        case IPRO_PARAM_PNG_FAST:
            options.pngCompression = *reinterpret_cast<const LONG*>(entry->value) == 1
                                         ? IproPngCodec::Compression::kFast
                                         : IproPngCodec::Compression::kDefault;
            break;
        default:
            break;
        }
    }
    return true;
}

IproImageFile::Format IproImageFile::FormatOfPath(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"/\\");
    const std::size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator))
        return Format::kNone;
    std::wstring extension = path.substr(dot + 1);
    for (wchar_t& c : extension)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    if (extension == L"png")
        return Format::kPng;
    if (extension == L"jpg" || extension == L"jpeg")
        return Format::kJpeg;
    return Format::kNone;
}

bool IproImageFile::Encode(const IproPixels& pixels, Format format, const SaveOptions& options,
                           std::vector<std::uint8_t>& out) {
    const IproPixels* source = &pixels;
    IproPixels scaled;
    if (options.scale != 1.0f) {
        const double width = std::max(1.0, std::round(pixels.width * static_cast<double>(options.scale)));
        const double height = std::max(1.0, std::round(pixels.height * static_cast<double>(options.scale)));
        if (!IproLimits::Allowed(static_cast<std::int64_t>(std::min(width, 1e9)),
                                 static_cast<std::int64_t>(std::min(height, 1e9))) ||
            !IproResample::Resize(pixels, static_cast<LONG>(width), static_cast<LONG>(height), scaled))
            return false;
        source = &scaled;
    }
    switch (format) {
    case Format::kPng:
        return IproPngCodec::Encode(*source, out, options.pngCompression);
    case Format::kJpeg:
        return IproJpegCodec::Encode(*source, options.quality, out);
    case Format::kNone:
        break;
    }
    return false;
}

bool IproImageFile::Save(const IproPixels& pixels, const wchar_t* path, const SaveOptions& options,
                         bool replace) {
    if (!path)
        return false;
    std::vector<std::uint8_t> bytes;
    return Encode(pixels, FormatOfPath(path), options, bytes) && WriteFile(bytes, path, replace);
}

bool IproImageFile::WriteFile(const std::vector<std::uint8_t>& bytes, const wchar_t* path, bool replace) {
    return path &&
           WinFileIO::WriteWholeFile(WinFileIO::NativePath(path), bytes.data(), bytes.size(), replace);
}

// Image files of the canvas library: the decoder chosen by a file's first bytes, the encoder by its
// extension, and the codec parameters of a save.
#pragma once

#include "IproPixels.h"
#include "IproPngCodec.h"
#include "zIzoRaz.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace IproImageFile {

// No image file larger than this is read.
constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;
constexpr int kDefaultQuality = 90;

enum class Format { kNone, kPng, kJpeg };

// PNG or JPEG by the first bytes; false for anything else and for a file its decoder refuses.
bool Decode(const std::uint8_t* data, std::size_t size, IproPixels& out);
bool Load(const wchar_t* path, IproPixels& out);

// What a save is asked to do beside writing the pixels.
struct SaveOptions {
    float scale = 1.0f;
    int quality = kDefaultQuality;
    IproPngCodec::Compression pngCompression = IproPngCodec::Compression::kDefault;
};
// False for a list of the wrong size, a null entry or value, or a scale that is not finite and above 0.
bool ReadSaveOptions(const IproCodecParamList* params, SaveOptions& options);
// The format an extension names ("png", "jpg", "jpeg", any letter case).
Format FormatOfPath(const std::wstring& path);
// The file's bytes: the pixels scaled as the options say and encoded in the format.
bool Encode(const IproPixels& pixels, Format format, const SaveOptions& options,
            std::vector<std::uint8_t>& out);
// Encodes and writes in one step that leaves no partial file; without replace, an existing file fails.
bool Save(const IproPixels& pixels, const wchar_t* path, const SaveOptions& options, bool replace);
// Writes a file's encoded bytes as Save does.
bool WriteFile(const std::vector<std::uint8_t>& bytes, const wchar_t* path, bool replace);

} // namespace IproImageFile

// The uploader's result codes (each non-zero code is also the id of its text in the language library)
// and MapResult, which turns a service result into one.
#pragma once

#include <cstdint>

namespace KvUpload {

constexpr std::int32_t kOk = 0;
constexpr std::int32_t kCancelled = 4098; // service result -9
constexpr std::int32_t kOutOfMemory = 4099;
constexpr std::int32_t kNotInitialised = 4104; // initialisation failed, or a code without text
constexpr std::int32_t kUnknownAlbum = 31264;
constexpr std::int32_t kServiceFirst = 31265; // service results -1 .. -8 give 31265 .. 31272
constexpr std::int32_t kBadAlbumCount = 31265;
constexpr std::int32_t kServiceFailed = 31273; // service result -100, and every other failure
constexpr std::int32_t kNoSpace = 31274;
constexpr std::int32_t kBadPhoto = 31275; // the file cannot be examined or is kPhotoLimit bytes or more

// The text ids of the language library that are not result codes.
constexpr std::uint32_t kConnectionText = 31205;
constexpr std::uint32_t kUploaderName = 31279;

constexpr std::int64_t kPhotoLimit = 0x300000;

} // namespace KvUpload

// 0 -> 0; -1 .. -8 -> 31265 .. 31272; -9 -> 4098; any other negative result -> 31273 (so that no failure
// reads as success); positive results -> 0.
std::int32_t MapResult(std::int32_t serviceResult);

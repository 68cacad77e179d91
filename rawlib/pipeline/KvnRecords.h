// The size-prefixed records of the exported filter-chain object. Each begins with its own size in bytes,
// which the object checks against sizeof: the records that carry a pointer are larger on this target.
#pragma once

#include "platform/win/wintypes.h"

#include <cstddef>

inline constexpr int kKvnPathField = 260;

struct strKvnModeParam {
    DWORD size = sizeof(strKvnModeParam);
    DWORD developmentMode = 0; // 0..3, 0 keeps the current one
    DWORD scalingMethod = 0;   // 0..3, 0 keeps
    DWORD cacheMode = 0;       // 0..1
    DWORD nativeOrder = 0;     // 0..2, 0 keeps; 2 on, 1 off
};
static_assert(sizeof(strKvnModeParam) == 20);

// The output-profile request that strKvnImageInfoParam may point at.
struct strKvnProfileRequest {
    LONG unused = 0;
    LONG renderingIntent = 0; // 1..4, 0 keeps
    LONG colorClass = 0;      // non-zero replaces the object's colour class
    char path[kKvnPathField] = {};
};
static_assert(sizeof(strKvnProfileRequest) == 272);

struct strKvnImageInfoParam {
    DWORD size = sizeof(strKvnImageInfoParam);
    LONG width = 0;
    LONG height = 0;
    LONG bytesPerChannel = 0;
    LONG orientation = 1; // EXIF orientation code 1..8
    LONG left = 0, top = 0, right = 0, bottom = 0;
    strKvnProfileRequest* profile = nullptr;
};
static_assert(offsetof(strKvnImageInfoParam, profile) == 40);

struct strKvnNCParam {
    DWORD size = sizeof(strKvnNCParam);
    LONG item = 0;      // 1 colour mode, 2 settings class, 3 exposure value
    LONG valueType = 0; // 1 LONG, 2 double
    LONG valueSize = 0; // 4 or 8
    void* value = nullptr;
};

struct strKvnRawOption {
    DWORD size = sizeof(strKvnRawOption);
    LONG type = 0; // 1..4
    void* data = nullptr;
};

// The typed parts of strKvnRawOption.
struct strKvnWhiteBalanceOption {
    DWORD size = sizeof(strKvnWhiteBalanceOption);
    LONG preset = 0;
    LONG temperature = 0; // kelvin
};
static_assert(sizeof(strKvnWhiteBalanceOption) == 12);

struct strKvnExposureOption {
    DWORD size = sizeof(strKvnExposureOption);
    DWORD unused = 0;
    double value = 0.0;
};
static_assert(sizeof(strKvnExposureOption) == 16);

struct strKvnFlagOption {
    DWORD size = sizeof(strKvnFlagOption);
    BYTE flag = 0;
};
static_assert(sizeof(strKvnFlagOption) == 8);

namespace KvnRawOption {
inline constexpr LONG kUnsupported = 1;
inline constexpr LONG kWhiteBalance = 2;
inline constexpr LONG kExposure = 3;
inline constexpr LONG kCameraSettings = 4;

// The white-balance presets an override may name; any other code is stored as 0.
inline constexpr LONG MapPreset(LONG preset) {
    switch (preset) {
    case 256:
    case 512:
    case 513:
    case 514:
    case 768:
    case 1024:
    case 1280:
        return preset;
    default:
        return 0;
    }
}
} // namespace KvnRawOption

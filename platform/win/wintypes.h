// The Windows integer widths the system's formats and formulas are written in. LONG, DWORD and BOOL are
// 32-bit here as on the original platform; C++ `long` (64-bit on this target) is never used for them.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;

// Message words carry pointers as well as numbers, so they are pointer-sized.
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// Kernel object handles are 32-bit ids that carry a generation, so a closed handle fails instead of
// reaching whatever object took its place. 0 is never issued.
using HANDLE = std::uint32_t;

// A loaded module (library or program); null stands for the program itself.
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Device-independent bitmap header as the display path expects it in front of a tile's pixels.
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER keeps its stored size");

constexpr DWORD BI_RGB = 0;

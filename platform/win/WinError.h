// The Windows system error codes that the stand-in functions of this layer return.
#pragma once

#include "platform/win/wintypes.h"

// The codes WinKernel.h has too: whichever header comes first defines them (the values are the same).
#ifndef KV_WIN_SHARED_ERROR_CODES
#define KV_WIN_SHARED_ERROR_CODES
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
#endif
constexpr LONG ERROR_INVALID_DATA = 13;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_MORE_DATA = 234;

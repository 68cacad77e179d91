// The system's message texts for the error codes of this layer, as FormatMessage gives them: one English
// sentence each, ending with the line end the original texts carry. Only system texts are kept (no message
// resources of modules), and since they hold no inserts every text is given as it stands.
#pragma once

#include "wintypes.h"

#include <cstdarg>

using HLOCAL = void*;

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

// With FORMAT_MESSAGE_FROM_SYSTEM: the text of the code, in any language asked for. With
// FORMAT_MESSAGE_ALLOCATE_BUFFER, buffer is really a wchar_t** that receives a new text (at least size
// characters) for LocalFree; otherwise the text and its terminator must fit into size characters. The
// result is the text's length without the terminator; 0 (with the last error set) for an unknown code, a
// source other than the system, a text that does not fit, or a null buffer.
DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId, wchar_t* buffer,
                     DWORD size, va_list* arguments);
// Frees what FormatMessageW allocated; null on success, as on the original platform.
HLOCAL LocalFree(HLOCAL memory);

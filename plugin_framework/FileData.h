// Whole-file reads and writes of the framework, the MIME types it knows, and base64 data saved as a file.
// Arrays that the reads hand out belong to the caller, who frees them with delete[]. A file that cannot be
// opened leaves every out value untouched.
#pragma once

#include "TFilePath.h"

#include <cstdio>

// The file opened with the C library (the path as the file system takes it); null for an empty path.
FILE* OpenFile(const TFilePath& location, const char* mode);

// The whole file and a terminator; true when all its bytes were read.
bool ReadTextFile(const TFilePath& location, char*& text);
// The file as UTF-16 units in this machine's order, without a leading byte-order mark; with swap, a file
// that starts with a big-endian mark has the bytes of every unit exchanged. True once the file was opened.
bool ReadUnicodeTextFile(const TFilePath& location, wchar_t*& text, bool swap);
bool ReadBinaryFile(const TFilePath& location, BYTE*& data, DWORD& size);

// True when every byte was written.
bool WriteTextFile(const TFilePath& location, const char* text);
bool WriteBinaryFile(const TFilePath& location, const void* data, DWORD size);
// The text's UTF-16 units in this machine's order, without a mark or a terminator; true once the file was
// opened.
bool WriteUnicodeTextFile(const TFilePath& location, const wchar_t* text);
// The string's UTF-16 units, without a mark or a terminator; true when all were written.
bool WriteStringFile(const TString& text, const TFilePath& location);

// "image/jpeg" -> "jpg", "image/bmp" -> "bmp", "image/gif" -> "gif", "image/tiff" -> "tiff", compared
// exactly; the extension is emptied first and false is the answer for any other type.
bool MimeTypeToExtension(const wchar_t* mimeType, TString& extension);
// Decodes the base64 text into a new numbered file "tre.<extension>" of the module's temporary folder; the
// file gets the decoded bytes only, without the zeros that the padding stands for. False for an unknown
// type or when the file cannot be made or written; the path is set only on success.
bool SaveBase64ToTempFile(const wchar_t* text, LONG count, const wchar_t* mimeType, TString& path);

// Simple MAPI as the system calls it: the published message and attachment records, the result codes
// and flags, and the one entry point of the MAPI32 library, which the system binds at run time by name.
#pragma once

#include "platform/win/wintypes.h"

#include <cstdint>

using LHANDLE = std::uintptr_t;
using FLAGS = ULONG;

struct MapiFileDesc {
    ULONG ulReserved;
    ULONG flFlags;
    ULONG nPosition; // 0xFFFFFFFF: no position in the note text
    char* lpszPathName;
    char* lpszFileName; // the name the attachment is shown with; null: the path's last component
    void* lpFileType;
};

struct MapiRecipDesc {
    ULONG ulReserved;
    ULONG ulRecipClass;
    char* lpszName;
    char* lpszAddress;
    ULONG ulEIDSize;
    void* lpEntryID;
};

struct MapiMessage {
    ULONG ulReserved;
    char* lpszSubject;
    char* lpszNoteText;
    char* lpszMessageType;
    char* lpszDateReceived;
    char* lpszConversationID;
    FLAGS flFlags;
    MapiRecipDesc* lpOriginator;
    ULONG nRecipCount;
    MapiRecipDesc* lpRecips;
    ULONG nFileCount;
    MapiFileDesc* lpFiles;
};

constexpr FLAGS MAPI_LOGON_UI = 0x00000001;
constexpr FLAGS MAPI_DIALOG = 0x00000008;

constexpr ULONG SUCCESS_SUCCESS = 0;
constexpr ULONG MAPI_USER_ABORT = 1;
constexpr ULONG MAPI_E_FAILURE = 2;
constexpr ULONG MAPI_E_LOGIN_FAILURE = 3;
constexpr ULONG MAPI_E_INSUFFICIENT_MEMORY = 5;
constexpr ULONG MAPI_E_TOO_MANY_FILES = 9;
constexpr ULONG MAPI_E_TOO_MANY_RECIPIENTS = 10;
constexpr ULONG MAPI_E_ATTACHMENT_NOT_FOUND = 11;
constexpr ULONG MAPI_E_ATTACHMENT_OPEN_FAILURE = 12;
constexpr ULONG MAPI_E_UNKNOWN_RECIPIENT = 14;
constexpr ULONG MAPI_E_BAD_RECIPTYPE = 15;
constexpr ULONG MAPI_E_TEXT_TOO_LARGE = 18;
constexpr ULONG MAPI_E_INVALID_RECIPS = 21;
constexpr ULONG MAPI_E_NOT_SUPPORTED = 25;

using LPMAPISENDMAIL = ULONG (*)(LHANDLE session, std::uintptr_t uiParam, MapiMessage* message, FLAGS flags,
                                 ULONG reserved);

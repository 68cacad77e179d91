// The upload-service client: its records and its eight calls, over HTTP. The connection string is the
// service's base address ("http://host:port/v1"); requests are form-encoded and replies are key=value
// lines (ZvReply.h). Every call takes the caller's connection record and answers 0 or a negative result.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Written by the caller (connection, user, password: NUL-terminated texts) and kept by the client
// (`state` and `session`) for as long as the caller keeps the record.
struct PiConnection {
    char state[8];        // state[0] is 1 while a session is open
    char connection[256]; // the service's base address
    char user[256];
    char password[256];
    char session[20]; // the session token, NUL-terminated
};

// An album as the service lists it; texts are NUL-terminated within their fields.
struct PiAlbum {
    char key[16];
    char name[256];
    char description[264];
};

// A photo to upload with its texts; the client keeps the uploaded photo's id in `photo`.
struct PiUpload {
    char photo[64];
    char reserved[464];
    char thirdText[256];
    char secondText[256];
    char firstText[308];
};

// Polled while a photo is sent: non-zero stops the upload. The argument is the connection record.
using PiAbortProc = std::int32_t (*)(void* context);
// Bytes of the photo sent so far and its size, from (0, size) to (size, size).
using PiProgressProc = void (*)(void* context, std::int32_t done, std::int32_t total);

enum PiResult : std::int32_t {
    kPiOk = 0,
    kPiTransportFailed = -1, // no connection, or the connection broke before a whole reply
    kPiCredentialsRefused = -2,
    kPiNotConnected = -3, // no session, or the service no longer knows it
    kPiNotFound = -4,
    kPiNoRoom = -5,
    kPiRefused = -6, // any other refusal of the request
    kPiServiceFailed = -7,
    kPiMalformedReply = -8,
    kPiAborted = -9,
    kPiFailed = -100, // local failures: bad arguments, an unreadable file, no memory
};

// Opens a session for the record's user and password with the service at `connection` (kept in the
// record); a session open before is dropped first. `reserved` is 0.
std::int32_t PiConnect(PiConnection* record, const char* connection, std::int32_t reserved);
// Ends the session; 0 without one.
std::int32_t PiDisconnect(PiConnection* record);
// The number of albums (at most kPiAlbumLimit), or a negative result.
std::int32_t PiGetAlbumCount(PiConnection* record);
// Fills up to `count` records with the albums in the service's order and zeroes the rest.
std::int32_t PiGetAlbumList(PiConnection* record, PiAlbum* albums, std::int32_t count);
// Creates the album named in the record; its key is then in the record.
std::int32_t PiAlbumNew(PiConnection* record, PiAlbum* album);
// The room left on the service in units of 1000 bytes, or a negative result (kPiNoRoom when the service
// reports less than nothing).
std::int32_t PiGetSpaceLeft(PiConnection* record);
// Sends the file at `path` with the record's texts; the photo's id is then in the record.
std::int32_t PiPhotoUpload(PiConnection* record, PiUpload* upload, const char* path, PiAbortProc abort,
                           PiProgressProc progress);
// Adds the uploaded photo to the album with the record's key.
std::int32_t PiAlbumAddPhoto(PiConnection* record, const PiAlbum* album, const PiUpload* upload);

} // extern "C"

constexpr std::int32_t kPiAlbumLimit = 10000;

static_assert(sizeof(PiConnection) == 796 && offsetof(PiConnection, connection) == 8 &&
                  offsetof(PiConnection, user) == 264 && offsetof(PiConnection, password) == 520 &&
                  offsetof(PiConnection, session) == 776,
              "the connection record keeps its layout");
static_assert(sizeof(PiAlbum) == 536 && offsetof(PiAlbum, name) == 16 &&
                  offsetof(PiAlbum, description) == 272,
              "the album record keeps its layout");
static_assert(sizeof(PiUpload) == 1348 && offsetof(PiUpload, thirdText) == 528 &&
                  offsetof(PiUpload, secondText) == 784 && offsetof(PiUpload, firstText) == 1040,
              "the upload record keeps its layout");

// The exports of libAlbumlift.so, the web-album uploader: connect to the upload service that its language
// library names, list and create albums, upload photos with their texts, follow the progress and abort.
// Results are the codes of KvUploadResult.h (0 for success). The library starts at its first export (it
// reads "CommonFilesDir" and loads "Korvel\Uploader\KvtAlbumliftLang.dll" from there); when that fails,
// every export answers 4104 (null, 0 or nothing where it has no result code).
#pragma once

#include <cstdint>
#include <string>

#define KV_ALBUMLIFT_API __attribute__((visibility("default")))

// The parameters of NewAlbum, UploadPhoto and GetAlbumName. Made by CreateObject (or the constructor) and
// destroyed by DestroyObject.
class KV_ALBUMLIFT_API KvUploadParms {
public:
    KvUploadParms();

    std::string s1; // UploadPhoto: the photo file's path; NewAlbum: the album's name
    std::string s2; // UploadPhoto: the first text (at most 255 bytes are sent)
    std::string s3; // UploadPhoto: the second text (at most 20 bytes are sent)
    std::string s4; // UploadPhoto: the third text (at most 255 bytes are sent); NewAlbum: the description
    std::string s5; // UploadPhoto: the key of the target album; NewAlbum: receives the new album's key
    std::string s6; // handed to the uploader by UploadPhoto, not used
    std::int32_t index = 0;   // GetAlbumName: the album's index in the list
    std::uint32_t spare1 = 0; // not used
    std::int32_t spare2 = 0;  // not used
};

extern "C" {

// Creates the uploader (a previous one ends its session and is kept until the library unloads, so that
// the album texts it handed out stay readable) and reads the service's connection string: 0, 4104 when
// that fails (the uploader is kept for GetErrorString), 4099 when there is no memory.
KV_ALBUMLIFT_API std::int32_t Initialize();
// Opens a session; user name and password are sent lower-cased. The third word is ignored.
KV_ALBUMLIFT_API std::int32_t Connect(const char* user, const char* password, std::uintptr_t ignored);
KV_ALBUMLIFT_API std::int32_t KvDisconnect();
// Deletes the uploader.
KV_ALBUMLIFT_API void Close();
// Creates the album s1 with the description s4; its key goes to s5.
KV_ALBUMLIFT_API std::int32_t NewAlbum(KvUploadParms* parms);
// Uploads the photo s1 with the texts s2, s3 and s4 into the album with key s5 (a key from the list that
// GetAlbumList read last).
KV_ALBUMLIFT_API std::int32_t UploadPhoto(KvUploadParms* parms);
// The progress of the upload running or run last: bytes sent and the photo's size.
KV_ALBUMLIFT_API void GetProgress(std::int32_t* done, std::int32_t* total);
// Stops the upload that runs, and every later one until the next Connect. Always 0.
KV_ALBUMLIFT_API std::int32_t DoAbort();
// Reads the album list afresh: 0, 31265 for an unusable count, 4099 without memory, or the service's
// own (negative) result of the list call, which leaves the list empty.
KV_ALBUMLIFT_API std::int32_t GetAlbumList(std::uintptr_t ignored);
KV_ALBUMLIFT_API std::int32_t GetAlbumCount();
// The name and the key of an album of the list; null for an index outside it. The texts stay valid until
// the list is read again or the uploader is closed.
KV_ALBUMLIFT_API const char* GetAlbumName(KvUploadParms* parms);
KV_ALBUMLIFT_API const char* GetAlbumID(std::int32_t index);
// The text of a result code: 0, or 4104 when there is none.
KV_ALBUMLIFT_API std::int32_t GetErrorString(std::int32_t code, std::string* text);
// 1, 0x10000000 and the uploader's name; 0.
KV_ALBUMLIFT_API std::int32_t GetInformation(std::int32_t* kind, std::int32_t* flags, std::string* name);
KV_ALBUMLIFT_API std::int32_t CreateObject(KvUploadParms** parms);
KV_ALBUMLIFT_API void DestroyObject(KvUploadParms* parms);
// The folder and key operations do nothing and answer 0.
KV_ALBUMLIFT_API std::int32_t GetAlbumKey(std::uintptr_t ignored, std::uintptr_t ignoredToo);
KV_ALBUMLIFT_API std::int32_t KvGetFolderName(std::uintptr_t ignored);
KV_ALBUMLIFT_API std::int32_t GetFolderList();
KV_ALBUMLIFT_API std::int32_t NewFolder();

} // extern "C"

// The flat exports: each starts the library if it has not started yet and forwards to the uploader.
// Nothing is thrown across them.
#include "album_uploader/Albumlift.h"

#include "album_uploader/CAlbumliftApp.h"
#include "album_uploader/KvUploadResult.h"

#include <new>

namespace {

constexpr std::int32_t kInformationKind = 1;
constexpr std::int32_t kInformationFlags = 0x10000000;

// The uploader when the library has started and one exists, else null.
CPiUploader* Uploader() {
    CAlbumliftApp& app = CAlbumliftApp::Instance();
    return app.Started() ? app.Uploader() : nullptr;
}

template <class Call>
std::int32_t Guarded(Call call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return KvUpload::kOutOfMemory;
    } catch (...) {
        return KvUpload::kNotInitialised;
    }
}

} // namespace

extern "C" {

std::int32_t Initialize() {
    return Guarded([] {
        CAlbumliftApp& app = CAlbumliftApp::Instance();
        return app.Started() ? app.InitializeUploader() : KvUpload::kNotInitialised;
    });
}

std::int32_t Connect(const char* user, const char* password, std::uintptr_t) {
    return Guarded([&] {
        CPiUploader* uploader = Uploader();
        return uploader ? uploader->Connect(user, password) : KvUpload::kNotInitialised;
    });
}

std::int32_t KvDisconnect() {
    return Guarded([] {
        CPiUploader* uploader = Uploader();
        return uploader ? uploader->Disconnect() : KvUpload::kNotInitialised;
    });
}

void Close() {
    CAlbumliftApp& app = CAlbumliftApp::Instance();
    if (app.Started())
        app.CloseUploader();
}

std::int32_t NewAlbum(KvUploadParms* parms) {
    return Guarded([&] {
        CPiUploader* uploader = Uploader();
        return uploader && parms ? uploader->NewAlbum(parms->s1, parms->s4, &parms->s5)
                                 : KvUpload::kNotInitialised;
    });
}

std::int32_t UploadPhoto(KvUploadParms* parms) {
    return Guarded([&] {
        CPiUploader* uploader = Uploader();
        return uploader && parms
                   ? uploader->UploadPhoto(parms->s1, parms->s2, parms->s4, parms->s3, parms->s5, parms->s6)
                   : KvUpload::kNotInitialised;
    });
}

void GetProgress(std::int32_t* done, std::int32_t* total) {
    if (CPiUploader* uploader = Uploader())
        uploader->GetProgress(done, total);
}

std::int32_t DoAbort() {
    if (CPiUploader* uploader = Uploader())
        uploader->Abort();
    return 0;
}

std::int32_t GetAlbumList(std::uintptr_t) {
    return Guarded([] {
        CPiUploader* uploader = Uploader();
        return uploader ? uploader->RefreshAlbumList() : KvUpload::kNotInitialised;
    });
}

std::int32_t GetAlbumCount() {
    CPiUploader* uploader = Uploader();
    return uploader ? uploader->GetAlbumCount() : 0;
}

const char* GetAlbumName(KvUploadParms* parms) {
    CPiUploader* uploader = Uploader();
    return uploader && parms ? uploader->GetAlbumName(parms->index) : nullptr;
}

const char* GetAlbumID(std::int32_t index) {
    CPiUploader* uploader = Uploader();
    return uploader ? uploader->GetAlbumID(index) : nullptr;
}

std::int32_t GetErrorString(std::int32_t code, std::string* text) {
    return Guarded([&] {
        CPiUploader* uploader = Uploader();
        return uploader ? uploader->GetErrorString(code, text) : KvUpload::kNotInitialised;
    });
}

std::int32_t GetInformation(std::int32_t* kind, std::int32_t* flags, std::string* name) {
    return Guarded([&] {
        CAlbumliftApp& app = CAlbumliftApp::Instance();
        if (!app.Started())
            return KvUpload::kNotInitialised;
        if (kind)
            *kind = kInformationKind;
        if (flags)
            *flags = kInformationFlags;
        std::string text;
        if (name && app.LoadText(KvUpload::kUploaderName, text))
            *name = std::move(text);
        return KvUpload::kOk;
    });
}

std::int32_t CreateObject(KvUploadParms** parms) {
    return Guarded([&] {
        if (!parms || !CAlbumliftApp::Instance().Started())
            return KvUpload::kNotInitialised;
        *parms = new (std::nothrow) KvUploadParms;
        return *parms ? KvUpload::kOk : KvUpload::kOutOfMemory;
    });
}

void DestroyObject(KvUploadParms* parms) {
    delete parms;
}

std::int32_t GetAlbumKey(std::uintptr_t, std::uintptr_t) {
    CPiUploader* uploader = Uploader();
    return uploader ? uploader->GetAlbumKey() : 0;
}

std::int32_t KvGetFolderName(std::uintptr_t) {
    return 0;
}

std::int32_t GetFolderList() {
    CPiUploader* uploader = Uploader();
    return uploader ? uploader->GetFolderList() : 0;
}

// One function under both names.
std::int32_t NewFolder() __attribute__((alias("GetFolderList")));

} // extern "C"

// The uploader interface the exports forward to, in the order of its operations. The abort flag and the
// progress pair are process-wide: the service's callbacks write them while an upload runs, and other
// threads read them through GetProgress and set the flag through Abort.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class CPiUploader {
public:
    CPiUploader() { s_abort.store(0, std::memory_order_relaxed); }
    virtual ~CPiUploader() = default;
    CPiUploader(const CPiUploader&) = delete;
    CPiUploader& operator=(const CPiUploader&) = delete;

    virtual std::int32_t Connect(const char* user, const char* password) = 0;
    virtual std::int32_t Disconnect() = 0;
    virtual std::int32_t Initialize() = 0;
    virtual void Close() {}
    virtual void GetProgress(std::int32_t* done, std::int32_t* total) const;
    virtual void SetProgress(std::int32_t done, std::int32_t total);
    // The folder operations have nothing to do.
    virtual std::int32_t GetFolderList() { return 0; }
    virtual std::int32_t GetAlbumKey() { return 0; }
    virtual const char* GetAlbumName(std::int32_t index) const = 0;
    virtual std::int32_t GetAlbumCount() const { return 0; }
    virtual std::int32_t RefreshAlbumList() { return 0; }
    virtual const char* GetAlbumID(std::int32_t index) const { return nullptr; }
    virtual std::int32_t Abort() = 0;
    virtual std::int32_t GetErrorString(std::int32_t code, std::string* text) const = 0;
    virtual std::int32_t UploadPhoto(const std::string& path, const std::string& firstText,
                                     const std::string& thirdText, const std::string& secondText,
                                     const std::string& albumKey, const std::string& unused) = 0;
    virtual std::int32_t NewAlbum(const std::string& name, const std::string& description,
                                  std::string* key) = 0;

protected:
    // Atomic, so the callbacks and the readers on other threads never race; relaxed, because the values
    // stand alone (the pair may be read between its two stores).
    static std::atomic<std::int32_t> s_abort;
    static std::atomic<std::int32_t> s_progressDone;
    static std::atomic<std::int32_t> s_progressTotal;
};

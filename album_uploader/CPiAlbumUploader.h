// The uploader over the upload-service client: it keeps the client's connection record, the connection
// string and the albums the service listed last.
#pragma once

#include "album_uploader/CPiUploader.h"
#include "album_uploader/IKvTextSource.h"
#include "platform/zavoz/ZaVoz.h"

#include <vector>

class CPiAlbumUploader : public CPiUploader {
public:
    // The texts must outlive the uploader.
    explicit CPiAlbumUploader(const IKvTextSource& texts);

    std::int32_t Connect(const char* user, const char* password) override;
    std::int32_t Disconnect() override;
    // 1 when the connection string is there and shorter than its field; else KvUpload::kNotInitialised.
    std::int32_t Initialize() override;
    const char* GetAlbumName(std::int32_t index) const override;
    std::int32_t GetAlbumCount() const override;
    std::int32_t RefreshAlbumList() override;
    const char* GetAlbumID(std::int32_t index) const override;
    std::int32_t Abort() override;
    std::int32_t GetErrorString(std::int32_t code, std::string* text) const override;
    std::int32_t UploadPhoto(const std::string& path, const std::string& firstText,
                             const std::string& thirdText, const std::string& secondText,
                             const std::string& albumKey, const std::string& unused) override;
    std::int32_t NewAlbum(const std::string& name, const std::string& description, std::string* key) override;

private:
    static std::int32_t AbortRequested(void* context);
    static void StoreProgress(void* context, std::int32_t done, std::int32_t total);
    bool IsCachedKey(const std::string& key) const;

    const IKvTextSource& m_texts;
    PiConnection m_connection{};
    char m_connectionString[256] = {};
    std::vector<PiAlbum> m_albums;
};

#include "CPiAlbumUploader.h"

#include "album_uploader/KvUploadResult.h"
#include "album_uploader/KvUploadText.h"
#include "platform/win/WinPath.h"

#include <cstring>
#include <new>
#include <sys/stat.h>

namespace {

// What the service is sent of each text, in bytes (its record fields are byte fields).
constexpr std::size_t kCredentialBytes = 255;
constexpr std::size_t kFirstTextBytes = 255;
constexpr std::size_t kSecondTextBytes = 20;
constexpr std::size_t kThirdTextBytes = 255;
constexpr std::size_t kAlbumNameBytes = 255;
constexpr std::size_t kAlbumDescriptionBytes = 263;

// The size of the photo file; false when it cannot be examined or is not a plain file (a folder or a pipe
// would only fail or block later, while being sent).
bool PhotoSize(const std::string& path, std::int64_t& size) {
    struct stat info {};
    if (stat(WinPath::ToNative(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    size = info.st_size;
    return true;
}

// The service's texts are terminated within their fields, whatever the service wrote.
void Terminate(PiAlbum& album) {
    album.key[sizeof album.key - 1] = '\0';
    album.name[sizeof album.name - 1] = '\0';
    album.description[sizeof album.description - 1] = '\0';
}

} // namespace

CPiAlbumUploader::CPiAlbumUploader(const IKvTextSource& texts) : m_texts(texts) {}

std::int32_t CPiAlbumUploader::Initialize() {
    std::string connection;
    if (!m_texts.LoadText(KvUpload::kConnectionText, connection))
        return KvUpload::kNotInitialised;
    // A cut address would be another address, which would then receive the user's credentials.
    if (connection.size() >= sizeof m_connectionString)
        return KvUpload::kNotInitialised;
    std::memset(&m_connection, 0, sizeof m_connection);
    std::memcpy(m_connection.connection, connection.data(), connection.size());
    std::memset(m_connectionString, 0, sizeof m_connectionString);
    std::memcpy(m_connectionString, connection.data(), connection.size());
    return 1;
}

std::int32_t CPiAlbumUploader::Connect(const char* user, const char* password) {
    // Lower-cased first: that may change the length, and the cut must be made on what is sent.
    KvUploadText::CopyInto(m_connection.user, KvUploadText::LowerCase(user ? user : ""), kCredentialBytes);
    KvUploadText::CopyInto(m_connection.password, KvUploadText::LowerCase(password ? password : ""),
                           kCredentialBytes);
    s_abort.store(0, std::memory_order_relaxed);
    return MapResult(PiConnect(&m_connection, m_connectionString, 0));
}

std::int32_t CPiAlbumUploader::Disconnect() {
    return MapResult(PiDisconnect(&m_connection));
}

std::int32_t CPiAlbumUploader::NewAlbum(const std::string& name, const std::string& description,
                                        std::string* key) {
    PiAlbum album{};
    KvUploadText::CopyInto(album.name, name, kAlbumNameBytes);
    KvUploadText::CopyInto(album.description, description, kAlbumDescriptionBytes);
    const std::int32_t result = PiAlbumNew(&m_connection, &album);
    if (result == 0 && key) {
        Terminate(album);
        key->assign(KvUploadText::FieldText(album.key));
    }
    return MapResult(result);
}

std::int32_t CPiAlbumUploader::RefreshAlbumList() {
    m_albums.clear();
    const std::int32_t count = PiGetAlbumCount(&m_connection);
    if (count == 0)
        return KvUpload::kOk;
    // The count is the service's word: one beyond what any list may hold is as unusable as a negative one.
    if (count < 0 || count > kPiAlbumLimit)
        return KvUpload::kBadAlbumCount;
    std::vector<PiAlbum> albums;
    try {
        albums.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return KvUpload::kOutOfMemory;
    }
    const std::int32_t result = PiGetAlbumList(&m_connection, albums.data(), count);
    // Records of a failed list are at best partial: the cache stays empty, and the result goes back as it
    // came.
    if (result == 0) {
        for (PiAlbum& album : albums)
            Terminate(album);
        m_albums = std::move(albums);
    }
    return result;
}

std::int32_t CPiAlbumUploader::GetAlbumCount() const {
    return static_cast<std::int32_t>(m_albums.size());
}

const char* CPiAlbumUploader::GetAlbumName(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= m_albums.size())
        return nullptr;
    return m_albums[static_cast<std::size_t>(index)].name;
}

const char* CPiAlbumUploader::GetAlbumID(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= m_albums.size())
        return nullptr;
    return m_albums[static_cast<std::size_t>(index)].key;
}

std::int32_t CPiAlbumUploader::Abort() {
    s_abort.store(1, std::memory_order_relaxed);
    return 0;
}

std::int32_t CPiAlbumUploader::GetErrorString(std::int32_t code, std::string* text) const {
    std::string found;
    if (!m_texts.LoadText(static_cast<std::uint32_t>(code), found))
        return KvUpload::kNotInitialised;
    if (text)
        *text = std::move(found);
    return KvUpload::kOk;
}

bool CPiAlbumUploader::IsCachedKey(const std::string& key) const {
    for (const PiAlbum& album : m_albums)
        if (KvUploadText::FieldText(album.key) == key)
            return true;
    return false;
}

std::int32_t CPiAlbumUploader::UploadPhoto(const std::string& path, const std::string& firstText,
                                           const std::string& thirdText, const std::string& secondText,
                                           const std::string& albumKey, const std::string&) {
    const std::int32_t space = PiGetSpaceLeft(&m_connection);
    if (space < 0)
        return KvUpload::kNoSpace;
    std::int64_t size = 0;
    if (!PhotoSize(path, size) || size >= KvUpload::kPhotoLimit)
        return KvUpload::kBadPhoto;
    // In 64 bits: the room in bytes passes 32 bits from 4,294,968 units on.
    if (size > static_cast<std::int64_t>(space) * 1000)
        return KvUpload::kNoSpace;

    PiUpload upload{};
    KvUploadText::CopyInto(upload.firstText, firstText, kFirstTextBytes);
    KvUploadText::CopyInto(upload.secondText, secondText, kSecondTextBytes);
    KvUploadText::CopyInto(upload.thirdText, thirdText, kThirdTextBytes);
    const std::int32_t uploaded =
        MapResult(PiPhotoUpload(&m_connection, &upload, path.c_str(), AbortRequested, StoreProgress));
    if (uploaded != KvUpload::kOk)
        return uploaded;
    // The key is checked after the photo is sent: an upload failure or an abort is what the caller hears
    // first, and a photo for an unknown album is kept by the service.
    if (!IsCachedKey(albumKey))
        return KvUpload::kUnknownAlbum;
    PiAlbum album{};
    KvUploadText::CopyInto(album.key, albumKey, sizeof album.key - 1);
    return MapResult(PiAlbumAddPhoto(&m_connection, &album, &upload));
}

std::int32_t CPiAlbumUploader::AbortRequested(void*) {
    return s_abort.load(std::memory_order_relaxed);
}

void CPiAlbumUploader::StoreProgress(void*, std::int32_t done, std::int32_t total) {
    s_progressDone.store(done, std::memory_order_relaxed);
    s_progressTotal.store(total, std::memory_order_relaxed);
}

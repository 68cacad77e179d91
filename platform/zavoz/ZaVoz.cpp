// The eight calls: each checks its records, makes one request (two for the album list, which is read
// afresh) and turns the reply into the record's fields.
#include "platform/zavoz/ZaVoz.h"

#include "platform/win/WinPath.h"
#include "platform/win/utf16.h"
#include "platform/zavoz/CZvTransfer.h"
#include "platform/zavoz/ZvReply.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace {

// A NUL-terminated text of a record field; a field without a NUL ends with the field.
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return std::string_view(field, strnlen(field, N));
}

// Copies the text into the field, cut at a character boundary so that its terminator fits.
template <std::size_t N>
void SetField(char (&field)[N], std::string_view text) {
    const std::size_t length = Utf::Utf8PrefixLength(text, N - 1);
    std::memcpy(field, text.data(), length);
    std::memset(field + length, 0, N - length);
}

bool Connected(const PiConnection& record) {
    return record.state[0] == 1 && record.session[0] != '\0';
}

void DropSession(PiConnection& record) {
    std::memset(record.state, 0, sizeof record.state);
    std::memset(record.session, 0, sizeof record.session);
}

std::string Url(const PiConnection& record, const std::string& path) {
    std::string base(FieldText(record.connection));
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + path;
}

CZvTransfer::Request SessionRequest(const PiConnection& record, const char* method, const std::string& path) {
    CZvTransfer::Request request;
    request.method = method;
    request.url = Url(record, path);
    request.session = std::string(FieldText(record.session));
    return request;
}

// Sends the request; the reply's body is read only for a 2xx status.
std::int32_t Exchange(const CZvTransfer::Request& request, CZvTransfer::Reply& reply, bool login = false) {
    const std::int32_t sent = CZvTransfer::Perform(request, reply);
    return sent != kPiOk ? sent : CZvTransfer::ResultOfStatus(reply.status, login);
}

std::int32_t ListAlbums(PiConnection* record, std::vector<ZvReply::Album>& albums) {
    if (!record || !Connected(*record))
        return kPiNotConnected;
    CZvTransfer::Reply reply;
    const std::int32_t result = Exchange(SessionRequest(*record, "GET", "/albums"), reply);
    return result != kPiOk ? result : ZvReply::ReadAlbums(reply.body, albums);
}

// Every call turns failures of its own (no memory) into results; nothing is thrown to the caller.
template <class Call>
std::int32_t Guarded(Call call) {
    try {
        return call();
    } catch (...) {
        return kPiFailed;
    }
}

} // namespace

std::int32_t PiConnect(PiConnection* record, const char* connection, std::int32_t) {
    return Guarded([&]() -> std::int32_t {
        if (!record || !connection || std::strlen(connection) >= sizeof record->connection)
            return kPiFailed;
        DropSession(*record);
        SetField(record->connection, connection);
        CZvTransfer::Request request;
        request.method = "POST";
        request.url = Url(*record, "/session");
        request.form = {{"user", std::string(FieldText(record->user))},
                        {"password", std::string(FieldText(record->password))}};
        CZvTransfer::Reply reply;
        std::int32_t result = Exchange(request, reply, true);
        std::string token;
        if (result == kPiOk)
            result = ZvReply::ReadToken(reply.body, token);
        if (result != kPiOk)
            return result;
        SetField(record->session, token);
        record->state[0] = 1;
        return kPiOk;
    });
}

std::int32_t PiDisconnect(PiConnection* record) {
    return Guarded([&]() -> std::int32_t {
        if (!record)
            return kPiFailed;
        if (!Connected(*record))
            return kPiOk;
        const CZvTransfer::Request request = SessionRequest(*record, "DELETE", "/session");
        DropSession(*record);
        CZvTransfer::Reply reply;
        return Exchange(request, reply);
    });
}

std::int32_t PiGetAlbumCount(PiConnection* record) {
    return Guarded([&]() -> std::int32_t {
        std::vector<ZvReply::Album> albums;
        const std::int32_t result = ListAlbums(record, albums);
        return result != kPiOk ? result : static_cast<std::int32_t>(albums.size());
    });
}

std::int32_t PiGetAlbumList(PiConnection* record, PiAlbum* albums, std::int32_t count) {
    return Guarded([&]() -> std::int32_t {
        if (count < 0 || (count > 0 && !albums))
            return kPiFailed;
        std::vector<ZvReply::Album> listed;
        const std::int32_t result = ListAlbums(record, listed);
        if (result != kPiOk)
            return result;
        for (std::int32_t i = 0; i < count; ++i) {
            PiAlbum& album = albums[i];
            std::memset(&album, 0, sizeof album);
            if (static_cast<std::size_t>(i) >= listed.size())
                continue;
            SetField(album.key, listed[i].key);
            SetField(album.name, listed[i].name);
            SetField(album.description, listed[i].description);
        }
        return kPiOk;
    });
}

std::int32_t PiAlbumNew(PiConnection* record, PiAlbum* album) {
    return Guarded([&]() -> std::int32_t {
        if (!record || !album)
            return kPiFailed;
        if (!Connected(*record))
            return kPiNotConnected;
        CZvTransfer::Request request = SessionRequest(*record, "POST", "/albums");
        request.form = {{"name", std::string(FieldText(album->name))},
                        {"description", std::string(FieldText(album->description))}};
        CZvTransfer::Reply reply;
        std::int32_t result = Exchange(request, reply);
        std::string key;
        if (result == kPiOk)
            result = ZvReply::ReadKey(reply.body, key);
        if (result == kPiOk)
            SetField(album->key, key);
        return result;
    });
}

std::int32_t PiGetSpaceLeft(PiConnection* record) {
    return Guarded([&]() -> std::int32_t {
        if (!record)
            return kPiFailed;
        if (!Connected(*record))
            return kPiNotConnected;
        CZvTransfer::Reply reply;
        std::int32_t result = Exchange(SessionRequest(*record, "GET", "/space"), reply);
        std::int64_t space = 0;
        if (result == kPiOk)
            result = ZvReply::ReadSpace(reply.body, space);
        if (result != kPiOk)
            return result;
        return space < 0 ? kPiNoRoom : static_cast<std::int32_t>(space);
    });
}

std::int32_t PiPhotoUpload(PiConnection* record, PiUpload* upload, const char* path, PiAbortProc abort,
                           PiProgressProc progress) {
    return Guarded([&]() -> std::int32_t {
        if (!record || !upload || !path)
            return kPiFailed;
        if (!Connected(*record))
            return kPiNotConnected;
        if (abort && abort(record) != 0)
            return kPiAborted;
        const std::string file = WinPath::ToNative(path);
        struct stat info {};
        if (stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > INT32_MAX)
            return kPiFailed;
        CZvTransfer::Request request = SessionRequest(*record, "POST", "/photos");
        request.filePath = file;
        request.fileSize = info.st_size;
        request.form = {{"text1", std::string(FieldText(upload->firstText))},
                        {"text2", std::string(FieldText(upload->secondText))},
                        {"text3", std::string(FieldText(upload->thirdText))}};
        request.abort = abort;
        request.progress = progress;
        request.context = record;
        const auto size = static_cast<std::int32_t>(info.st_size);
        if (progress)
            progress(record, 0, size);
        CZvTransfer::Reply reply;
        std::int32_t result = Exchange(request, reply);
        std::string photo;
        if (result == kPiOk)
            result = ZvReply::ReadPhoto(reply.body, photo);
        if (result != kPiOk)
            return result;
        SetField(upload->photo, photo);
        if (progress)
            progress(record, size, size);
        return kPiOk;
    });
}

std::int32_t PiAlbumAddPhoto(PiConnection* record, const PiAlbum* album, const PiUpload* upload) {
    return Guarded([&]() -> std::int32_t {
        if (!record || !album || !upload)
            return kPiFailed;
        if (!Connected(*record))
            return kPiNotConnected;
        const std::string key(FieldText(album->key));
        const std::string photo(FieldText(upload->photo));
        if (key.empty() || photo.empty())
            return kPiNotFound;
        CZvTransfer::Request request =
            SessionRequest(*record, "POST", "/albums/" + CZvTransfer::Escape(key) + "/photos");
        request.form = {{"photo", photo}};
        CZvTransfer::Reply reply;
        return Exchange(request, reply);
    });
}

// The library's calls: each looks its handle up, works on the document under the document's lock, and
// answers 1 or 0; nothing thrown inside (memory shortage) gets past a call.
#include "davuzOzi.h"

#include "CUtlXmlDocument.h"

#include "platform/win/StandInLibrary.h"
#include "platform/win/WinFileIO.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <sys/stat.h>

namespace {

struct UtlDocument {
    std::unique_ptr<CUtlXmlDocument> tree;
    std::wstring path;
};

StandInLibrary<UtlDocument>& Library() {
    static auto* library = new StandInLibrary<UtlDocument>;
    return *library;
}

template <class Body>
LONG Call(const char* name, UtlHandle first, Body body) {
    Library().Observe(name, first);
    try {
        return body() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// Nothing is at the path at all (as opposed to a file that is there but cannot be read).
bool IsAbsent(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) != 0 && errno == ENOENT;
}

} // namespace

LONG utlStartup() {
    return Call("utlStartup", kUtlNoHandle, [] {
        Library().Startup();
        return true;
    });
}

LONG utlShutdown() {
    return Call("utlShutdown", kUtlNoHandle, [] { return Library().Shutdown(); });
}

LONG utlCreateXmlDoc(const wchar_t* path, UtlHandle* document) {
    return Call("utlCreateXmlDoc", kUtlNoHandle, [&] {
        if (document)
            *document = kUtlNoHandle;
        if (!document || !path || !*path || !Library().Started())
            return false;
        const std::string native = WinFileIO::NativePath(path);
        auto opened = std::make_shared<UtlDocument>();
        opened->path = path;
        if (IsAbsent(native)) {
            opened->tree = CUtlXmlDocument::Empty();
        } else {
            std::vector<std::uint8_t> bytes;
            if (!WinFileIO::ReadWholeFile(native, CUtlXmlDocument::kMaxFileBytes, bytes))
                return false;
            opened->tree = CUtlXmlDocument::Parse(bytes.data(), bytes.size());
        }
        if (!opened->tree)
            return false;
        const UtlHandle handle = Library().Add(std::move(opened));
        if (handle == 0)
            return false;
        *document = handle;
        return true;
    });
}

LONG utlGetXmlNodeValue(UtlHandle document, const wchar_t* key, wchar_t* buffer, LONG* size) {
    return Call("utlGetXmlNodeValue", document, [&] {
        std::shared_ptr<UtlDocument> source = Library().Find(document);
        if (!source || !key || !size || *size < 0)
            return false;
        const std::optional<std::wstring> value = source->tree->GetValue(key);
        if (!value || value->size() >= static_cast<std::size_t>(std::numeric_limits<LONG>::max())) {
            *size = 0;
            return false;
        }
        const LONG needed = static_cast<LONG>(value->size()) + 1;
        const bool fits = buffer && needed <= *size;
        if (fits) {
            std::copy(value->begin(), value->end(), buffer);
            buffer[value->size()] = L'\0';
        }
        *size = needed;
        return fits;
    });
}

LONG utlSetXmlNodeValue(UtlHandle document, const wchar_t* key, const wchar_t* value) {
    return Call("utlSetXmlNodeValue", document, [&] {
        std::shared_ptr<UtlDocument> target = Library().Find(document);
        return target && target->tree->SetValue(key, value);
    });
}

LONG utlSaveXmlDoc(UtlHandle document, const wchar_t* path) {
    return Call("utlSaveXmlDoc", document, [&] {
        std::shared_ptr<UtlDocument> source = Library().Find(document);
        if (!source)
            return false;
        const std::wstring target = path ? std::wstring(path) : source->path;
        std::vector<std::uint8_t> bytes;
        if (target.empty() || !source->tree->Serialize(bytes))
            return false;
        return WinFileIO::WriteWholeFile(WinFileIO::NativePath(target.c_str()), bytes.data(), bytes.size(),
                                         true);
    });
}

LONG utlReleaseHandle(UtlHandle handle) {
    return Call("utlReleaseHandle", handle, [&] { return Library().Release(handle); });
}

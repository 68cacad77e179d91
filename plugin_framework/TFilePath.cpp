#include "TFilePath.h"

#include "TModuleValues.h"

#include "platform/win/WinDebug.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinModule.h"
#include "platform/win/WinPath.h"
#include "platform/win/utf16.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'/' || c == L'\\';
}

int LastSeparator(const TString& path) {
    for (int i = path.GetLength() - 1; i >= 0; --i) {
        if (IsSeparator(static_cast<const wchar_t*>(path)[i]))
            return i;
    }
    return -1;
}

TString WithoutFinalSeparator(const TString& path) {
    TString trimmed = path;
    while (trimmed.GetLength() > 1 &&
           IsSeparator(static_cast<const wchar_t*>(trimmed)[trimmed.GetLength() - 1]))
        trimmed = trimmed.Left(trimmed.GetLength() - 1);
    return trimmed;
}

TString WithFinalSeparator(const TString& path) {
    if (path.IsEmpty() || IsSeparator(static_cast<const wchar_t*>(path)[path.GetLength() - 1]))
        return path;
    return path + kPathSeparator;
}

bool StartsWith(const TString& text, const wchar_t* start) {
    return std::wcsncmp(text, start, std::wcslen(start)) == 0;
}

// Makes the file at the native path, which must not exist, and tells which file it made; the errno of a
// failure is kept for the caller.
bool ClaimNative(const std::string& native, struct stat* made = nullptr) {
    const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool known = !made || fstat(fd, made) == 0;
    close(fd);
    return known;
}

bool Claim(const TString& path) {
    return ClaimNative(TFilePathDetail::NativePath(path));
}

// A base or an extension of a unique name names a file in the temporary folder, never a way out of it.
bool IsPlainNamePart(const TString& part) {
    return part.FindOneOf(L"/\\") < 0 && part.Find(L"..") < 0;
}

// The files this module made under the last-resort name "<base>_000.<extension>", by native path: when
// every name is taken, such a file is removed to claim its name again, but only while it is still the file
// that was made (not one that replaced it, nor another found by the case-insensitive name match).
struct MadeFile {
    dev_t device;
    ino_t inode;
};
struct LastResortFiles {
    std::mutex lock;
    std::map<std::string, MadeFile> made;
};

// Never destroyed: a worker that outlives the module's static objects may still ask for a name.
LastResortFiles& LastResort() {
    static LastResortFiles* files = new LastResortFiles;
    return *files;
}

bool ClaimLastResort(const std::string& native) {
    LastResortFiles& files = LastResort();
    std::lock_guard<std::mutex> guard(files.lock);
    struct stat made {};
    if (!ClaimNative(native, &made)) {
        if (errno != EEXIST)
            return false;
        auto it = files.made.find(native);
        struct stat now {};
        if (it == files.made.end() || lstat(native.c_str(), &now) != 0 || !S_ISREG(now.st_mode) ||
            now.st_dev != it->second.device || now.st_ino != it->second.inode)
            return false;
        if (unlink(native.c_str()) != 0 || !ClaimNative(native, &made))
            return false;
    }
    files.made[native] = MadeFile{made.st_dev, made.st_ino};
    return true;
}

// Deleting a tree goes no deeper than this, so a hostile tree cannot exhaust the stack or the descriptors.
constexpr int kMaxTreeDepth = 128;

// Empties the folder open as fd; false when something in it could not be removed.
bool DeleteContents(int fd, bool recursive, int depth) {
    const int listFd = dup(fd);
    if (listFd < 0)
        return false;
    DIR* dir = fdopendir(listFd);
    if (!dir) {
        close(listFd);
        return false;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);

    bool all = true;
    for (const std::string& name : names) {
        struct stat info {};
        if (fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            all = false;
            continue;
        }
        if (!S_ISDIR(info.st_mode)) {
            // Files and links of every kind: the link goes, never what it points at.
            all = unlinkat(fd, name.c_str(), 0) == 0 && all;
            continue;
        }
        if (!recursive || depth >= kMaxTreeDepth) {
            all = false;
            continue;
        }
        // O_NOFOLLOW: an entry swapped for a link since fstatat cannot take the descent elsewhere.
        const int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
            all = false;
            continue;
        }
        all = DeleteContents(sub, recursive, depth + 1) && all;
        close(sub);
        all = unlinkat(fd, name.c_str(), AT_REMOVEDIR) == 0 && all;
    }
    return all;
}

std::atomic<LONG> g_jpgCounter{0};

} // namespace

std::string TFilePathDetail::NativePath(const TString& path) {
    const std::wstring_view wide(path, static_cast<std::size_t>(path.GetLength()));
    return WinPath::ToNative(Utf::WideToUtf8(wide));
}

void TFilePath::Set(const TString& path) {
    m_kind = 0;
    m_path = path;
}

TString TFilePath::GetPath() const {
    return m_kind == 0 ? m_path : TString();
}

bool TFilePath::GetFileName(TString& name) const {
    const TString path = GetPath();
    const int separator = LastSeparator(path);
    if (separator < 0) {
        name.Empty();
        return false;
    }
    name = path.Mid(separator + 1);
    return true;
}

bool TFilePath::Exists() const {
    const TString path = GetPath();
    if (path.IsEmpty())
        return false;
    FILE* file = std::fopen(TFilePathDetail::NativePath(path).c_str(), "rb");
    if (!file)
        return false;
    std::fclose(file);
    return true;
}

bool TFilePath::IsFolder() const {
    const TString path = WithoutFinalSeparator(GetPath());
    if (path.IsEmpty())
        return false;
    struct stat info {};
    return stat(TFilePathDetail::NativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool TFilePath::CreateFolder() const {
    return EnsureFolder(*this);
}

bool TFilePath::Delete() const {
    if (IsFolder())
        return DeleteFolderTree(*this, true);
    const TString path = GetPath();
    return !path.IsEmpty() && unlink(TFilePathDetail::NativePath(path).c_str()) == 0;
}

TString GetFolderPart(const TString& path) {
    const int separator = LastSeparator(path);
    return separator < 0 ? TString() : path.Left(separator + 1);
}

TString GetFileName(const TString& path) {
    const int separator = LastSeparator(path);
    return separator < 0 ? path : path.Mid(separator + 1);
}

bool GetModuleFolder(TFilePath& folder, HMODULE module) {
    if (!module)
        return false;
    // The whole name or nothing: a cut path would name another folder.
    std::vector<wchar_t> buffer(512);
    DWORD length;
    for (;;) {
        length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return false;
        if (length < buffer.size())
            break;
        if (buffer.size() >= 65536)
            return false;
        buffer.resize(buffer.size() * 2);
    }
    const TString path(buffer.data(), static_cast<int>(length));
    const int separator = LastSeparator(path);
    if (separator < 0)
        return false;
    folder.Set(path.Left(separator + 1));
    return true;
}

bool GetTempFolder(TFilePath& folder) {
    const DWORD needed = GetTempPathW(0, nullptr);
    if (needed == 0)
        return false;
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size())
        return false;
    folder.Set(WithFinalSeparator(TString(buffer.data(), static_cast<int>(length))));
    return true;
}

bool EnsureFolder(const TFilePath& location) {
    const TString path = WithoutFinalSeparator(location.GetPath());
    if (path.IsEmpty())
        return false;
    const std::string native = TFilePathDetail::NativePath(path);
    struct stat info {};
    if (stat(native.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    if (mkdir(native.c_str(), 0777) == 0)
        return true;
    return errno == EEXIST && stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool GetPluginTempFolder(TFilePath& folder) {
    TFilePath temp;
    if (!GetTempFolder(temp))
        return false;
    const TString root = WithoutFinalSeparator(temp.GetPath());
    TString maker;
    maker.Format(L"%ls%lc%ls%lc", static_cast<const wchar_t*>(root), kPathSeparator, L"Korvel",
                 kPathSeparator);
    TFilePath makerFolder;
    makerFolder.Set(maker);
    EnsureFolder(makerFolder);
    TString own;
    own.Format(L"%ls%ls%lc", static_cast<const wchar_t*>(maker), g_moduleValues.tempFolderName,
               kPathSeparator);
    folder.Set(own);
    EnsureFolder(folder);
    return true;
}

bool MakePluginTempFileLocation(const TString& fileName, TFilePath& location) {
    TFilePath folder;
    if (!GetPluginTempFolder(folder))
        return false;
    location.Set(WithFinalSeparator(folder.GetPath()) + fileName);
    return true;
}

bool MakeUniqueFileName(const TString& base, const TString& extension, TFilePath& location) {
    TFilePath folder;
    if (!IsPlainNamePart(base) || !IsPlainNamePart(extension) || !GetPluginTempFolder(folder))
        return MakeUniqueFileNameIn(TString(), base, extension, location);
    return MakeUniqueFileNameIn(folder.GetPath(), base, extension, location);
}

bool MakeUniqueFileNameIn(const TString& folderPath, const TString& base, const TString& extension,
                          TFilePath& location) {
    if (!IsPlainNamePart(base) || !IsPlainNamePart(extension)) {
        OutputDebugStringA("MakeUniqueFileName: a name with a separator or \"..\" is refused\n");
        return false;
    }
    if (folderPath.IsEmpty())
        return false;
    TFilePath folder;
    folder.Set(folderPath);
    const TString first = WithFinalSeparator(folder.GetPath()) + base + L"." + extension;
    if (Claim(first)) {
        location.Set(first);
        return true;
    }
    if (errno != EEXIST)
        return false;
    const TString root = WithoutFinalSeparator(folder.GetPath());
    auto numbered = [&](int n) {
        TString name;
        name.Format(L"%ls%lc%ls_%03d.%ls", static_cast<const wchar_t*>(root), kPathSeparator,
                    static_cast<const wchar_t*>(base), n, static_cast<const wchar_t*>(extension));
        return name;
    };
    for (int n = 1; n <= 1000; ++n) {
        const TString name = numbered(n);
        if (Claim(name)) {
            location.Set(name);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    const TString last = numbered(0);
    if (!ClaimLastResort(TFilePathDetail::NativePath(last))) {
        OutputDebugStringA("MakeUniqueFileName: no free name is left\n");
        return false;
    }
    location.Set(last);
    return true;
}

bool DeleteFolderTree(const TFilePath& location, bool recursive) {
    const TString path = WithoutFinalSeparator(location.GetPath());
    if (path.IsEmpty())
        return false;
    const std::string native = TFilePathDetail::NativePath(path);
    struct stat info {};
    if (lstat(native.c_str(), &info) != 0)
        return false;
    if (S_ISLNK(info.st_mode))
        return unlink(native.c_str()) == 0;
    const int fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DeleteContents(fd, recursive, 0);
    close(fd);
    return rmdir(native.c_str()) == 0;
}

bool ListFilesByExtension(const TFilePath& folder, const TString& extension, std::vector<TString>& names) {
    const TString path = WithoutFinalSeparator(folder.GetPath());
    DIR* dir = path.IsEmpty() ? nullptr : opendir(TFilePathDetail::NativePath(path).c_str());
    if (!dir)
        return true;
    while (dirent* entry = readdir(dir)) {
        const TString name(entry->d_name);
        if (name == L"." || name == L"..")
            continue;
        const int dot = name.ReverseFind(L'.');
        if (dot >= 0 && name.Mid(dot + 1).CompareNoCase(extension) == 0)
            names.push_back(name);
    }
    closedir(dir);
    return true;
}

bool IsRelativePath(const TString& path) {
    if (path.IsEmpty() || IsSeparator(static_cast<const wchar_t*>(path)[0]))
        return false;
    return !(path.GetLength() > 1 && static_cast<const wchar_t*>(path)[1] == L':');
}

TString GetExtension(const TString& fileName) {
    const int dot = fileName.ReverseFind(L'.');
    return dot < 0 ? TString() : fileName.Mid(dot + 1);
}

TString GetExtension(const wchar_t* fileName) {
    return GetExtension(TString(fileName ? fileName : L""));
}

TString CombinePath(const TString& relative, const TString& base) {
    if (!StartsWith(relative, L"."))
        return base + relative;
    if (!StartsWith(relative, L".."))
        return base + relative.Mid(2);
    TString folder = base.Left(base.GetLength() - 1);
    TString rest = relative;
    while (StartsWith(rest, L"..")) {
        const int separator = LastSeparator(folder);
        if (separator < 0)
            return TString();
        folder = folder.Left(separator);
        rest = rest.Mid(3);
    }
    return folder + kPathSeparator + rest;
}

TString FileUrlToPath(const TString& text) {
    if (text.IsEmpty())
        return TString();
    const int scheme = text.Find(L"://");
    if (scheme >= 0 && StartsWith(text, L"file"))
        return text.Mid(scheme + 3);
    return text;
}

TString PathToFileUrl(const wchar_t* path) {
    if (!path)
        return TString();
    const TString text(path);
    if (text.Find(L"://") >= 0)
        return text;
    // An absolute path brings its own first slash.
    if (!text.IsEmpty() && IsSeparator(path[0]))
        return TString(L"file://") + text;
    return TString(L"file:///") + text;
}

bool MakeUniqueJpgLocation(const TFilePath& source, TFilePath& location) {
    TFilePath folder;
    if (!GetPluginTempFolder(folder))
        return false;
    TString name = GetFileName(source.GetPath());
    const int dot = name.ReverseFind(L'.');
    if (dot >= 0)
        name = name.Left(dot);
    const TString stem = WithFinalSeparator(folder.GetPath()) + name;
    TString candidate = stem + L".jpg";
    // Bounded, so that an unusable folder or a flood of names cannot keep this going.
    for (int attempt = 0; attempt < 100000; ++attempt) {
        if (Claim(candidate)) {
            location.Set(candidate);
            return true;
        }
        if (errno != EEXIST)
            return false;
        TString number;
        number.Format(L"_%04d", static_cast<int>(++g_jpgCounter));
        candidate = stem + number + L".jpg";
    }
    return false;
}

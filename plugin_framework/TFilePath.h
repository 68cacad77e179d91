// File locations and the path services of the framework: folder and file-name splits, the module's folder,
// the per-module temporary folder with its numbered unique names, and recursive deletion.
//
// Paths are built with '/' and split at both '/' and '\', so that names written for the original platform
// ("Module\KvtDesignLang.dll") and names from outside still find their last component. Unique names are
// claimed by creating the file (empty) in the same step that finds it free, so two callers, on any threads,
// never get the same name; the writer then replaces the empty file.
#pragma once

#include "TString.h"

#include <vector>

constexpr wchar_t kPathSeparator = L'/';

// A location: unset (kind -1) or a file-system path (kind 0).
class TFilePath {
public:
    void Set(const TString& path);
    // The path for a file-system location, else empty.
    TString GetPath() const;
    LONG GetKind() const { return m_kind; }
    // The text after the last separator; false (and empty) when there is none.
    bool GetFileName(TString& name) const;
    // The file can be opened for reading.
    bool Exists() const;
    // An entry is at the path (a final separator aside) and it is a folder, or a link to one.
    bool IsFolder() const;
    bool CreateFolder() const;
    // A folder goes with everything in it (DeleteFolderTree, recursive); a file is deleted.
    bool Delete() const;

private:
    LONG m_kind = -1;
    TString m_path;
};

// The text up to and including the last separator, or empty when there is none.
TString GetFolderPart(const TString& path);
// The text after the last separator, or the whole path when there is none.
TString GetFileName(const TString& path);
// The folder of the module's file, ending with a separator; false for a null module.
bool GetModuleFolder(TFilePath& folder, HMODULE module);

// The per-user temporary root (GetTempPathW), ending with a separator; false when it is refused.
bool GetTempFolder(TFilePath& folder);
// True when a folder is at the location or could be made there (one level; the parent must exist).
bool EnsureFolder(const TFilePath& location);
// The module's own temporary folder, "Korvel/<module's folder name>/" in the temporary root, made when
// missing. False only when the temporary root is refused; a folder that cannot be made does not change
// the answer (the files made in it will fail instead).
bool GetPluginTempFolder(TFilePath& folder);
// The file name in the module's temporary folder.
bool MakePluginTempFileLocation(const TString& fileName, TFilePath& location);
// The first free name of "base.extension", "base_001.extension" ... "base_1000.extension" in the module's
// temporary folder, claimed as an empty file; when all are taken, "base_000.extension" is claimed, or, when
// it is the file that an earlier call made there (and still that same file), emptied and claimed again: a
// file of that name made by anyone else is never removed. False for a base or an extension with a separator
// or
// "..", when the folder is unusable, or when no name can be claimed.
bool MakeUniqueFileName(const TString& base, const TString& extension, TFilePath& location);
// The same rule in another folder (one the caller made).
bool MakeUniqueFileNameIn(const TString& folder, const TString& base, const TString& extension,
                          TFilePath& location);
// Deletes the folder's files and, with recursive, its folders with everything in them; then the folder
// itself. Symbolic links are removed as links, never followed: a link to a folder elsewhere leaves that
// folder untouched, and a location that is itself a link is removed as one. True when the folder is gone
// (without recursive, a folder that holds folders stays and the answer is false).
bool DeleteFolderTree(const TFilePath& location, bool recursive);
// The names (without folder) of the folder's entries whose text after their last '.' is the extension,
// compared without regard to ASCII case, in the file system's order. Always true.
bool ListFilesByExtension(const TFilePath& folder, const TString& extension, std::vector<TString>& names);

// False for an empty path and for one that begins with a separator or with a drive ("C:").
bool IsRelativePath(const TString& path);
// The text after the last '.', or empty.
TString GetExtension(const TString& fileName);
TString GetExtension(const wchar_t* fileName);
// The relative path resolved against the base folder (which ends with a separator): "./" is dropped and
// every "../" removes one folder of the base; empty when the base runs out of folders.
TString CombinePath(const TString& relative, const TString& base);
// "file://" and its scheme removed from a file URL; any other text as it is.
TString FileUrlToPath(const TString& text);
// A file URL for a path ("file://" before an absolute path, "file:///" before one with a drive); a text
// that already holds "://" stays as it is.
TString PathToFileUrl(const wchar_t* path);
// "<name>.jpg" in the module's temporary folder for the source's file name without its extension, or, when
// that is taken, "<name>_NNNN.jpg" with the next number of a counter that runs for the life of the module.
// The name is claimed as an empty file; false when no name could be claimed.
bool MakeUniqueJpgLocation(const TFilePath& source, TFilePath& location);

namespace TFilePathDetail {
// The path as the file system takes it (UTF-8, '\' mapped to '/', letter case found when missing).
std::string NativePath(const TString& path);
} // namespace TFilePathDetail

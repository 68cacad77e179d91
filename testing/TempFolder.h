// A fresh folder under $TMPDIR (or /tmp) for the files a test writes; removed with everything in it when
// the owner goes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    // The path of name inside the folder.
    std::string File(const std::string& name) const;
    // Writes the bytes as the file name (replacing it) and returns its path.
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    std::string Write(const std::string& name, const std::string& text) const;

private:
    std::string m_path;
};

} // namespace kvtest

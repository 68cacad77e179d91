// The library's process-wide objects: its start (once, at the first export), the language library and the
// texts, and the uploader the exports forward to. It lives until the library unloads.
#pragma once

#include "album_uploader/CPiUploader.h"
#include "album_uploader/IKvTextSource.h"
#include "platform/win/wintypes.h"

#include <memory>
#include <mutex>
#include <vector>

class CAlbumliftApp : public IKvTextSource {
public:
    static CAlbumliftApp& Instance();
    ~CAlbumliftApp() override;

    // Runs the library start on the first call; true when it succeeded.
    bool Started();
    // From the language library, or from the library's own resources when none is loaded.
    bool LoadText(std::uint32_t id, std::string& text) const override;

    CPiUploader* Uploader() const { return m_uploader.get(); }
    std::int32_t InitializeUploader();
    void CloseUploader();

private:
    CAlbumliftApp() = default;
    bool Start();

    std::once_flag m_startOnce;
    bool m_started = false;
    HMODULE m_ownModule = nullptr;
    HMODULE m_language = nullptr;
    std::unique_ptr<CPiUploader> m_uploader;
    std::vector<std::unique_ptr<CPiUploader>> m_retired;
};

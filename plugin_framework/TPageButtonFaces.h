// The faces of a dialog's two page buttons, previous and next: four PNG resources of the module each
// (normal, hot, pressed, disabled), loaded once and handed to the buttons, which only borrow them.
#pragma once

#include "TImgBtnCtrl.h"
#include "TiProObjects.h"

#include <array>

class TPageButtonFaces {
public:
    // Previous's four faces, then next's.
    static constexpr std::size_t kFaces = 8;
    using Ids = UINT[kFaces];

    TPageButtonFaces() = default;
    TPageButtonFaces(const TPageButtonFaces&) = delete;
    TPageButtonFaces& operator=(const TPageButtonFaces&) = delete;
    // The buttons must have let go of the faces by then (Release).
    ~TPageButtonFaces() { ReleaseImages(); }

    // Faces held before are released first; a missing resource leaves its face empty. Either button may be
    // null.
    void Load(HINSTANCE module, const Ids& ids, TImgBtnCtrl* previous, TImgBtnCtrl* next);
    // Takes the faces off the buttons (either may be null) and releases them.
    void Release(TImgBtnCtrl* previous, TImgBtnCtrl* next);

    // A template's owner-drawn button gets a plain wrapper from the dialog base; a page button takes an
    // image button in its place. The reference returned is the dialog's own (it releases its wrappers when
    // it closes); null when the child is missing or cannot be wrapped.
    static TRefPtr<TImgBtnCtrl> WrapPageButton(HWND child);

private:
    void ReleaseImages();
    std::array<TiProImage*, kFaces> m_images{};
};

#include "TPageButtonFaces.h"

#include "PngResourceImage.h"

#include <new>

void TPageButtonFaces::Load(HINSTANCE module, const Ids& ids, TImgBtnCtrl* previous, TImgBtnCtrl* next) {
    Release(previous, next);
    for (std::size_t i = 0; i < kFaces; ++i)
        m_images[i] = LoadPngResourceImage(module, ids[i]);
    TImgBtnCtrl* const buttons[] = {previous, next};
    for (std::size_t b = 0; b < 2; ++b) {
        if (!buttons[b])
            continue;
        TiProImage* const* faces = &m_images[4 * b];
        buttons[b]->SetNormalImage(faces[0]);
        buttons[b]->SetHotImage(faces[1]);
        buttons[b]->SetPressedImage(faces[2]);
        buttons[b]->SetDisabledImage(faces[3]);
    }
}

void TPageButtonFaces::Release(TImgBtnCtrl* previous, TImgBtnCtrl* next) {
    for (TImgBtnCtrl* button : {previous, next}) {
        if (!button)
            continue;
        button->SetNormalImage(nullptr);
        button->SetHotImage(nullptr);
        button->SetPressedImage(nullptr);
        button->SetDisabledImage(nullptr);
    }
    ReleaseImages();
}

void TPageButtonFaces::ReleaseImages() {
    for (TiProImage*& image : m_images) {
        if (!image)
            continue;
        image->Release();
        delete image;
        image = nullptr;
    }
}

TRefPtr<TImgBtnCtrl> TPageButtonFaces::WrapPageButton(HWND child) {
    if (!child)
        return {};
    if (TControl* plain = TControl::FromHandle(child)) {
        plain->Detach();
        plain->Release();
    }
    auto button = TRefPtr<TImgBtnCtrl>::Adopt(new (std::nothrow) TImgBtnCtrl);
    if (!button || !button->Attach(child, false))
        return {};
    button->AddRef();
    return button;
}

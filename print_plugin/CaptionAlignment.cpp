#include "CaptionAlignment.h"

LONG CaptionAlignment(const TString& word) {
    if (word == L"left")
        return CaptionAlign::kLeft;
    if (word == L"center")
        return CaptionAlign::kCenter;
    if (word == L"right")
        return CaptionAlign::kRight;
    return CaptionAlign::kUnknown;
}

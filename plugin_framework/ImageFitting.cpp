#include "ImageFitting.h"

#include "TiProCodecParameters.h"

#include <cerrno>
#include <cmath>
#include <cwchar>
#include <cwctype>
#include <utility>

namespace {

constexpr LONG kNoCode = -1;

bool Fittable(double side) {
    return std::isfinite(side) && side > 0;
}

// The rotate and flip code for the angle and flip text, or kNoCode.
LONG RotateFlipCode(LONG angle, const TString& flip) {
    const int column = angle == 90 ? 0 : angle == 180 ? 1 : angle == 270 ? 2 : 3;
    static constexpr LONG kHorizontal[] = {IPRO_ROTATE_90_FLIP_X, IPRO_ROTATE_180_FLIP_X,
                                           IPRO_ROTATE_270_FLIP_X, IPRO_FLIP_X};
    static constexpr LONG kVertical[] = {IPRO_ROTATE_270_FLIP_X, IPRO_FLIP_X, IPRO_ROTATE_90_FLIP_X,
                                         IPRO_ROTATE_180_FLIP_X};
    static constexpr LONG kPlain[] = {IPRO_ROTATE_90, IPRO_ROTATE_180, IPRO_ROTATE_270, kNoCode};
    if (flip == L"h")
        return kHorizontal[column];
    if (flip == L"v")
        return kVertical[column];
    return kPlain[column];
}

// Releases and deletes the image in the slot, then fills it from the file; false when no image came.
bool LoadInto(const TFilePath& location, TiProImage*& image) {
    if (image) {
        image->Release();
        delete image;
    }
    image = TiProImage::CreateFromFile(location.GetPath());
    return image != nullptr;
}

} // namespace

LONG ImageTypeFromExtension(const TString& extension) {
    TString lower = extension;
    for (int i = 0; i < lower.GetLength(); ++i)
        lower.SetAt(i, static_cast<wchar_t>(std::towlower(static_cast<wint_t>(lower[i]))));
    if (lower == L"jpg" || lower == L"jpeg")
        return 1;
    if (lower == L"gif")
        return 2;
    if (lower == L"tif" || lower == L"tiff")
        return 3;
    if (lower == L"png")
        return 4;
    return -1;
}

LONG AngleFromRotationText(const TString& text, const graphtypes::TSize_T<LONG>& image,
                           const graphtypes::TSize_T<double>& target) {
    if (text.IsEmpty())
        return 0;
    if (text == L"best-fit") {
        if (image.cx <= 0 || image.cy <= 0 || !Fittable(target.cx) || !Fittable(target.cy))
            return 0;
        const double imageShape = static_cast<double>(image.cx) / image.cy - 1.0;
        const double targetShape = target.cx / target.cy - 1.0;
        return imageShape * targetShape < 0.0 ? 90 : 0;
    }
    errno = 0;
    wchar_t* end = nullptr;
    const long value = std::wcstol(text, &end, 10);
    if (end == static_cast<const wchar_t*>(text) || errno == ERANGE || value < 0 || value > 0x7FFFFFFF ||
        value % 90 != 0)
        return 0;
    return static_cast<LONG>(value % 360);
}

bool ResizeImageToFit(const graphtypes::TSize_T<double>& target, bool fill, LONG angle, TiProImage* image) {
    if (!image)
        return false;
    double width = target.cx, height = target.cy;
    if (angle == 90 || angle == 270)
        std::swap(width, height);
    graphtypes::TSize_T<LONG> size;
    image->GetSize(size);
    if (!Fittable(width) || !Fittable(height) || size.cx <= 0 || size.cy <= 0)
        return false;
    if (width == size.cx && height == size.cy)
        return true;
    const double imageRatio = static_cast<double>(size.cx) / size.cy;
    const double targetRatio = width / height;
    const bool byHeight = fill ? imageRatio >= targetRatio : imageRatio < targetRatio;
    const double scale = byHeight ? height / size.cy : width / size.cx;
    const graphtypes::TSize_T<LONG> fitted(graphtypes::RoundToLong(size.cx * scale),
                                           graphtypes::RoundToLong(size.cy * scale));
    if (fitted.cx < 1 || fitted.cy < 1)
        return false;
    image->Resize(fitted);
    return true;
}

bool FitImageToSize(const graphtypes::TSize_T<double>& target, bool fill, const TString& rotation,
                    TiProImage* image) {
    if (!image)
        return false;
    graphtypes::TSize_T<LONG> size;
    image->GetSize(size);
    return ResizeImageToFit(target, fill, AngleFromRotationText(rotation, size, target), image);
}

bool RotateFlipImage(LONG angle, const TString& flip, TiProImage* image) {
    if (!image)
        return false;
    const LONG code = RotateFlipCode(angle, flip);
    if (code != kNoCode)
        image->RotateFlip(code);
    return true;
}

bool LoadImageFitted(const TFilePath& location, const graphtypes::TSize_T<double>& target, bool fill,
                     const TString& rotation, TiProImage*& image) {
    return LoadInto(location, image) && FitImageToSize(target, fill, rotation, image);
}

bool LoadImageFittedAndRotated(const TFilePath& location, const graphtypes::TSize_T<double>& target,
                               bool fill, const TString& rotation, const TString& flip, TiProImage*& image) {
    if (!LoadInto(location, image))
        return false;
    graphtypes::TSize_T<LONG> size;
    image->GetSize(size);
    const LONG angle = AngleFromRotationText(rotation, size, target);
    if (!ResizeImageToFit(target, fill, angle, image))
        return false;
    return angle != 0 && !flip.IsEmpty() ? RotateFlipImage(angle, flip, image) : true;
}

void SetImageDecoderOptions(TiProImage* image, BYTE usePreview, DWORD mode) {
    if (!image)
        return;
    LONG preview = usePreview != 0 ? 1 : 0;
    DWORD modeWord = mode;
    TiProCodecParameters parameters;
    parameters[0] = IproCodecParam{IPRO_PARAM_USE_PREVIEW, reinterpret_cast<std::uintptr_t>(&preview)};
    parameters[1] = IproCodecParam{IPRO_PARAM_MODE, reinterpret_cast<std::uintptr_t>(&modeWord)};
    image->SetDecoderParameters(&parameters);
}

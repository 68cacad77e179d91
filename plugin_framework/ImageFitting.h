// Images fitted to a size and turned: the image type of a file extension, the angle a rotation text asks
// for, fits inside or over a target, the rotate and flip code of an angle and a flip text, and loads that
// fit (and turn) a new image. Sizes that cannot be fitted, 0 or less or not finite, are refused: nothing
// is resized and the answer is false.
#pragma once

#include "GraphTypes.h"
#include "TFilePath.h"
#include "TiProObjects.h"

// "jpg", "jpeg" 1, "gif" 2, "tif", "tiff" 3, "png" 4 in any letter case; -1 for anything else.
LONG ImageTypeFromExtension(const TString& extension);

// 0 for an empty text; for "best-fit" 90 when one of the image and the target is wider than high and the
// other higher than wide, else 0; otherwise the number the text starts with when it is a multiple of 90
// that is not negative (taken modulo 360), else 0.
LONG AngleFromRotationText(const TString& text, const graphtypes::TSize_T<LONG>& image,
                           const graphtypes::TSize_T<double>& target);

// Resizes the image to fit inside the target (fill clear) or to cover it (fill set), keeping its
// proportions, in the target turned by 90 degrees when the angle is 90 or 270. True also when the image
// already has that size (and nothing is done); false without an image, for a size that cannot be fitted,
// and for a fit that would leave less than one pixel on a side.
bool ResizeImageToFit(const graphtypes::TSize_T<double>& target, bool fill, LONG angle, TiProImage* image);
// Fits with the angle of the rotation text; the image itself is not turned.
bool FitImageToSize(const graphtypes::TSize_T<double>& target, bool fill, const TString& rotation,
                    TiProImage* image);
// Turns by the angle and mirrors as the flip text says ("h" or "v"); an angle that is not 90, 180 or 270
// with another text turns nothing. False without an image.
bool RotateFlipImage(LONG angle, const TString& flip, TiProImage* image);
// The image in the slot (released and deleted when there is one) becomes the file's, fitted; false when
// the file gives no image (the slot is then empty) or the fit fails.
bool LoadImageFitted(const TFilePath& location, const graphtypes::TSize_T<double>& target, bool fill,
                     const TString& rotation, TiProImage*& image);
// As LoadImageFitted, then turned and mirrored when the angle is not 0 and the flip text is not empty.
bool LoadImageFittedAndRotated(const TFilePath& location, const graphtypes::TSize_T<double>& target,
                               bool fill, const TString& rotation, const TString& flip, TiProImage*& image);

// Gives the image the codec's use-preview flag (1 when usePreview is not 0) and mode word.
void SetImageDecoderOptions(TiProImage* image, BYTE usePreview, DWORD mode);

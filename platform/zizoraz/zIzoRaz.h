// The canvas, image and codec library: images of 32-bit ARGB pixels, canvases that draw into an image or
// into the pixels behind a device context, and PNG and JPEG files. Objects are named by 32-bit handles
// with a generation: a released, stale or foreign handle makes a call answer 0, never reach another
// object. Calls answer 1 for success and 0 for failure; none throws. The library works between
// iproStartup and the matching last iproShutdown.
//
// Coordinates are pixels of the target, x to the right and y down, mapped through the canvas's transform.
// Colours are packed as 0xAABBGGRR: red in the lowest byte, alpha in the highest.
#pragma once

#include "platform/win/WinUser.h"
#include "platform/win/wintypes.h"

#include <cstddef>
#include <cstdint>

using IproHandle = DWORD;
// What a caller's handle cell holds when it names nothing.
constexpr IproHandle kIproNoHandle = 0xFFFFFFFF;

// Rotate and flip codes: the image is turned clockwise by 90 degrees times (code & 3), then, when code & 4
// is set, mirrored left to right.
constexpr LONG IPRO_ROTATE_NONE = 0;
constexpr LONG IPRO_ROTATE_90 = 1;
constexpr LONG IPRO_ROTATE_180 = 2;
constexpr LONG IPRO_ROTATE_270 = 3;
constexpr LONG IPRO_FLIP_X = 4;
constexpr LONG IPRO_ROTATE_90_FLIP_X = 5;
constexpr LONG IPRO_ROTATE_180_FLIP_X = 6; // the same as a top-to-bottom flip
constexpr LONG IPRO_ROTATE_270_FLIP_X = 7;

// Fill modes: any mode but IPRO_FILL_COPY blends the colour over the pixels by its alpha; IPRO_FILL_COPY
// makes the covered pixels the colour, alpha included.
constexpr LONG IPRO_FILL_BLEND = 0;
constexpr LONG IPRO_FILL_COPY = 2;

// Flags of iproSaveImage.
constexpr LONG IPRO_SAVE_REPLACE = 1; // an existing file is replaced; without it the save fails

// Codec parameter types, and the type each one's value has.
constexpr std::uintptr_t IPRO_PARAM_SCALE = 1;       // float: a save writes the image scaled by it
constexpr std::uintptr_t IPRO_PARAM_QUALITY = 2;     // LONG 0..100: the JPEG quality of a save (else 90)
constexpr std::uintptr_t IPRO_PARAM_USE_PREVIEW = 3; // LONG: 1 when an item's preview is to be loaded
constexpr std::uintptr_t IPRO_PARAM_MODE = 4;        // DWORD: the mode word of an item's image requests
constexpr std::uintptr_t IPRO_PARAM_PNG_FAST = 5;    // LONG: 1 when a PNG save is for speed, not size

// One codec parameter: its type and the address of its value, which stays the caller's.
struct IproCodecParam {
    std::uintptr_t type;
    std::uintptr_t value;
};
// A flat parameter list: its own size (sizeof(IproCodecParamList); any other size is refused), the number
// of entries and the address of an array of that many entry addresses.
struct IproCodecParamList {
    DWORD size;
    DWORD count;
    IproCodecParam** entries;
};

struct IproPointF {
    float x;
    float y;
};

// Item codecs: a table of functions through which the library (and a page renderer) reads the picture of
// a host item, named by its 64-bit id as decimal text. A codec is made, opened on an item, asked about the
// picture, given options and read, then destroyed; each function answers TRUE or FALSE, and every one but
// Create fails for a handle the codec does not hold.
using IproCodecHandle = DWORD;

// What a codec's Read delivers into: first the number of bytes, then the bytes (at offsets within them).
class IIproCodecSink {
public:
    virtual BOOL SetSize(std::size_t bytes) = 0;
    virtual BOOL Write(const void* data, std::size_t bytes, std::size_t offset) = 0;

protected:
    ~IIproCodecSink() = default;
};

// Destination formats of Read: bits 8 to 15 give the bits of a destination pixel. With an RGB picture,
// BGR24 and BGRA32 give the colours blue first (BGRA32 is this library's own pixel layout), RGB24 and
// GREY8 the picture's rows as stored, RGBA32 red first; the fourth byte of a 32-bit pixel is 0xFF.
constexpr DWORD IPRO_FORMAT_GREY8 = 0x800;
constexpr DWORD IPRO_FORMAT_BGR24 = 0x1800;
constexpr DWORD IPRO_FORMAT_RGB24 = 0x1001800;
constexpr DWORD IPRO_FORMAT_BGRA32 = 0x42000;
constexpr DWORD IPRO_FORMAT_RGBA32 = 0x1042000;
// The mode word (IPRO_PARAM_MODE) that also reads the samples in the order they are stored.
constexpr DWORD IPRO_MODE_STORED_ORDER = 0x1000;

// GetInfo kinds.
constexpr LONG IPRO_INFO_IMAGE = 0;    // data: IproCodecInfo
constexpr LONG IPRO_INFO_PROPERTY = 2; // data: IproCodecProperty
// SetOption kinds.
constexpr LONG IPRO_OPTION_SIZE = 0; // data: two LONGs, the wanted height, then the wanted width

// The picture as GetInfo reports it.
struct IproCodecInfo {
    LONG height;
    LONG width;
    LONG colorSpace;
    LONG bitsPerPixel;
};
static_assert(sizeof(IproCodecInfo) == 16, "four 32-bit words");

// An item property asked for by its tag: with a buffer of at least the property's length the property (its
// type word first) is copied there; size receives the length either way.
struct IproCodecProperty {
    DWORD tag;
    DWORD size;
    void* buffer;
};

// The table; its size word is sizeof(IproCodecTable), any other size is refused. The cancel object of
// Create is the caller's: while it is signalled, every wait of the codec ends.
struct IproCodecTable {
    DWORD size;
    BOOL (*Create)(IproCodecHandle* codec, void* cancel);
    BOOL (*Open)(IproCodecHandle codec, const wchar_t* itemId);
    BOOL (*Read)(IproCodecHandle codec, DWORD format, LONG alignment, IIproCodecSink* sink);
    BOOL (*Write)(IproCodecHandle codec, const wchar_t* path, const IproCodecParamList* params);
    BOOL (*GetInfo)(IproCodecHandle codec, LONG kind, void* data);
    BOOL (*SetOption)(IproCodecHandle codec, LONG kind, void* data);
    BOOL (*SetParameters)(IproCodecHandle codec, const IproCodecParamList* params);
    BOOL (*Destroy)(IproCodecHandle codec);
};

extern "C" {

// Counted: each start needs a shutdown, and the last shutdown releases every handle still held.
LONG iproStartup();
LONG iproShutdown();
// Makes the library ready for new loads after a cancelled one; it keeps no state between calls, so this
// only tells whether the library is started.
LONG iproInit();
LONG iproReleaseHandle(IproHandle handle);

// Images: a new one is transparent black. Sides run from 1 to 32767 and the pixels are capped (64 mega-
// pixels). An image lives while a handle or a canvas drawing into it holds it.
LONG iproCreateImage(LONG width, LONG height, IproHandle* image);
// A PNG or JPEG file, told apart by its first bytes; a truncated or corrupt file, or one whose declared
// size passes the cap, gives no image.
LONG iproCreateImageFromFile(const wchar_t* path, IproHandle* image);
LONG iproGetImageSize(IproHandle image, LONG* width, LONG* height);
// A reduction averages blocks of whole factors and makes the last step with Lanczos-3, so that fine
// detail turns to its mean instead of aliasing; an enlargement is bilinear, sampling at pixel centres.
LONG iproResizeImage(IproHandle image, LONG width, LONG height);
LONG iproRotateFlipImage(IproHandle image, LONG code);
// Types IPRO_PARAM_USE_PREVIEW and IPRO_PARAM_MODE are kept with the image for the item codec it is
// loaded through; other types are ignored, and a null list forgets them. Files take no decoder options.
LONG iproSetImageDecoderParams(IproHandle image, const IproCodecParamList* params);
// The file type follows the path's extension ("png", "jpg", "jpeg", in any letter case). Parameters
// IPRO_PARAM_SCALE, IPRO_PARAM_QUALITY and IPRO_PARAM_PNG_FAST apply; the list may be null. A JPEG file has
// no alpha: the colours are written as they are.
LONG iproSaveImage(IproHandle image, const wchar_t* path, LONG flags, const IproCodecParamList* params);

// The picture of a host item through its codec, at the size the codec reports for it. The cancel object
// is handed to the codec; a cancel, a codec that fails, or pixels that do not fit the size reported give
// no image.
LONG iproCreateImageFromNUID(const wchar_t* itemId, const IproCodecTable* codec, void* cancel,
                             IproHandle* image);
// The same with the codec parameters given first (IPRO_PARAM_USE_PREVIEW, IPRO_PARAM_MODE; the list may be
// null) and, when both sides are above 0, the picture fitted inside maxWidth x maxHeight with its
// proportions kept (never enlarged). With the preview chosen, give the size wanted: a codec reports the
// item's own size otherwise, and leaves the rest of the picture beyond its preview transparent.
LONG iproCreateImageFromNUID2(const wchar_t* itemId, const IproCodecTable* codec, void* cancel,
                              const IproCodecParamList* params, LONG maxWidth, LONG maxHeight,
                              IproHandle* image);

// Canvases. One made from a device context draws into the context's surface while the context is held;
// once it is released, drawing answers 0.
LONG iproCreateCanvasFromImage(IproHandle image, IproHandle* canvas);
LONG iproCreateCanvasFromHDC(HDC dc, IproHandle* canvas);

// Drawing. A rectangle is its left, top, width and height; one whose width or height is not above 0 draws
// nothing (and succeeds). Values that are not finite, or a pen width not above 0, are refused.
// The image is scaled into the rectangle; opacity runs from 0 (nothing) to 255 (opaque).
LONG iproDrawImage(IproHandle canvas, IproHandle image, float left, float top, float width, float height,
                   LONG opacity);
// The source rectangle of the image, unscaled, with its top-left corner at the destination point.
LONG iproDrawImage2(IproHandle canvas, IproHandle image, float left, float top, float sourceLeft,
                    float sourceTop, float sourceWidth, float sourceHeight);
LONG iproFillRectangle(IproHandle canvas, float left, float top, float width, float height, DWORD colour,
                       LONG mode);
// The ellipse inside the rectangle.
LONG iproDrawEllipse(IproHandle canvas, float left, float top, float width, float height, DWORD colour,
                     float penWidth);
LONG iproFillEllipse(IproHandle canvas, float left, float top, float width, float height, DWORD colour,
                     LONG mode);
// A slice of the ellipse from the start angle over the sweep, in degrees clockwise from the x axis.
LONG iproDrawPie(IproHandle canvas, float left, float top, float width, float height, float startAngle,
                 float sweepAngle, DWORD colour, float penWidth);
LONG iproFillPie(IproHandle canvas, float left, float top, float width, float height, float startAngle,
                 float sweepAngle, DWORD colour, LONG mode);
// Polygons are closed; they take 2 to 100000 points.
LONG iproDrawPolygon(IproHandle canvas, const IproPointF* points, LONG count, DWORD colour, float penWidth);
LONG iproFillPolygon(IproHandle canvas, const IproPointF* points, LONG count, DWORD colour, LONG mode);
// A smooth open curve through the points (a cardinal spline of tension 0.5).
LONG iproDrawCurve(IproHandle canvas, const IproPointF* points, LONG count, DWORD colour, float penWidth);

// Transforms. A matrix maps (x, y) to (m11 x + m21 y + dx, m12 x + m22 y + dy). The scale goes before the
// canvas's transform with order 0 (applied to coordinates first), after it with order 1.
LONG iproSetScaleTransform(IproHandle canvas, float scaleX, float scaleY, LONG order);
LONG iproCreateMatrix(float m11, float m12, float m21, float m22, float dx, float dy, IproHandle* matrix);
// elements receives m11, m12, m21, m22, dx, dy.
LONG iproGetMatrixElements(IproHandle matrix, float* elements);
// Copies the canvas's transform into the matrix.
LONG iproGetTransformMatrix(IproHandle canvas, IproHandle matrix);
// The matrix becomes the canvas's transform; one that cannot be inverted is refused.
LONG iproSetTransformMatrix(IproHandle canvas, IproHandle matrix);

} // extern "C"

#include "CPageRenderer.h"

#include "PageItemFit.h"
#include "PageItemText.h"
#include "RendrContext.h"

#include "platform/win/WinFiles.h"
#include "platform/win/WinSpool.h"
#include "platform/win/utf16.h"
#include "platform/zizoraz/zIzoRaz.h"

#include <cairo.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <vector>

namespace {

// Packed colours, red in the lowest byte.
constexpr DWORD kPageColour = 0xFFFFFFFF;
constexpr DWORD kFrameColour = 0xFF404040;
constexpr DWORD kPlaceholderColour = 0xFFD8D8D8;
constexpr DWORD kPlaceholderCrossColour = 0xFF909090;
// The canvas library's largest image side.
constexpr double kMaxSide = 32767;
constexpr LONG kMaxQuality = 100;

// Gives a handle of the document or canvas library back when it goes.
template <class Handle, Handle kNone, LONG (*Give)(Handle)>
class LibraryRef {
public:
    LibraryRef() = default;
    LibraryRef(const LibraryRef&) = delete;
    LibraryRef& operator=(const LibraryRef&) = delete;
    ~LibraryRef() {
        if (m_handle != kNone)
            Give(m_handle);
    }
    Handle* Cell() { return &m_handle; }
    Handle Get() const { return m_handle; }

private:
    Handle m_handle = kNone;
};
using DocRef = LibraryRef<DocHandle, kDocNoHandle, docReleaseHandle>;
using IproRef = LibraryRef<IproHandle, kIproNoHandle, iproReleaseHandle>;

bool ReadProperty(DocHandle object, const wchar_t* path, std::wstring& value) {
    std::vector<wchar_t> buffer(64);
    LONG count = static_cast<LONG>(buffer.size()) - 1;
    if (docGetPropertyValue(object, path, buffer.data(), &count, 0) != 1)
        return false;
    if (count >= static_cast<LONG>(buffer.size())) {
        buffer.assign(static_cast<std::size_t>(count) + 1, L'\0');
        const LONG room = count;
        if (docGetPropertyValue(object, path, buffer.data(), &count, 0) != 1 || count > room)
            return false;
    }
    value.assign(buffer.data(), static_cast<std::size_t>(count));
    return true;
}

bool ReadNumber(DocHandle object, const wchar_t* path, double& value) {
    std::wstring text;
    if (!ReadProperty(object, path, text))
        return false;
    // Numbers of the layout are written in the C locale, as those of context strings.
    return RendrContext::ParseDouble(text, value);
}

bool Usable(double size) {
    return std::isfinite(size) && size > 0;
}

// Rounded and held inside the canvas library's coordinates.
LONG ToPixel(double value) {
    if (std::isnan(value))
        return 0;
    return static_cast<LONG>(std::lround(std::clamp(value, -1e9, 1e9)));
}

struct PixelRect {
    LONG left, top, right, bottom;
    bool Empty() const { return right <= left || bottom <= top; }
};

// How page coordinates become pixels of the target: scaled per axis.
struct PageToPixels {
    double scaleX, scaleY;

    PixelRect Map(double x, double y, double width, double height) const {
        return {ToPixel(x * scaleX), ToPixel(y * scaleY), ToPixel((x + width) * scaleX),
                ToPixel((y + height) * scaleY)};
    }
};

void Fill(IproHandle canvas, const PixelRect& r, DWORD colour, LONG mode = IPRO_FILL_COPY) {
    if (!r.Empty())
        iproFillRectangle(canvas, static_cast<float>(r.left), static_cast<float>(r.top),
                          static_cast<float>(r.right - r.left), static_cast<float>(r.bottom - r.top), colour,
                          mode);
}

// A one-pixel frame on the inside of the box.
void Frame(IproHandle canvas, const PixelRect& r) {
    if (r.right - r.left <= 2 || r.bottom - r.top <= 2) {
        Fill(canvas, r, kFrameColour);
        return;
    }
    Fill(canvas, {r.left, r.top, r.right, r.top + 1}, kFrameColour);
    Fill(canvas, {r.left, r.bottom - 1, r.right, r.bottom}, kFrameColour);
    Fill(canvas, {r.left, r.top + 1, r.left + 1, r.bottom - 1}, kFrameColour);
    Fill(canvas, {r.right - 1, r.top + 1, r.right, r.bottom - 1}, kFrameColour);
}

void Placeholder(IproHandle canvas, const PixelRect& r) {
    Fill(canvas, r, kPlaceholderColour);
    const float l = static_cast<float>(r.left) + 0.5f, t = static_cast<float>(r.top) + 0.5f;
    const float rt = static_cast<float>(r.right) - 0.5f, b = static_cast<float>(r.bottom) - 0.5f;
    const IproPointF down[] = {{l, t}, {rt, b}};
    const IproPointF up[] = {{l, b}, {rt, t}};
    iproDrawPolygon(canvas, down, 2, kPlaceholderCrossColour, 1);
    iproDrawPolygon(canvas, up, 2, kPlaceholderCrossColour, 1);
}

// What image items are drawn with: the codec and the image-load callback of the render.
struct Pictures {
    const IproCodecTable* codec = nullptr;
    bool preview = false;
    RendrImageStateProc* callbackWord = nullptr;
    LONG subscriber = 0;
    LONG pageId = 0;
    const void* cancelEvent = nullptr;
    ContentAlignment alignment;
};

LONG ReadLong(DocHandle object, const wchar_t* path) {
    double value = 0;
    return ReadNumber(object, path, value) && value >= -2147483648.0 && value <= 2147483647.0
               ? static_cast<LONG>(value)
               : 0;
}

// The item's picture, when the callback (if any) says it is loaded at the box's size and the codec reads
// it, fitted into the box and centred there; false when nothing was drawn.
bool DrawPicture(IproHandle canvas, DocHandle item, const PixelRect& box, const Pictures& pictures) {
    std::wstring nuid;
    if (!pictures.codec || !ReadProperty(item, L"content/image[@refType='NUID']", nuid))
        return false;
    const LONG width = box.right - box.left, height = box.bottom - box.top;
    if (RendrImageStateProc check = RendrLoadImageStateProc(pictures.callbackWord)) {
        constexpr LONG kLoaded = 1;
        if (check(nuid.c_str(), width, height, pictures.subscriber, pictures.pageId, ReadLong(item, L"@id"),
                  pictures.cancelEvent) != kLoaded)
            return false;
    }
    LONG usePreview = pictures.preview ? 1 : 0;
    IproCodecParam previewParam{IPRO_PARAM_USE_PREVIEW, reinterpret_cast<std::uintptr_t>(&usePreview)};
    IproCodecParam* entries[] = {&previewParam};
    const IproCodecParamList params{sizeof(IproCodecParamList), 1, entries};
    IproRef picture;
    LONG pictureWidth = 0, pictureHeight = 0;
    if (iproCreateImageFromNUID2(nuid.c_str(), pictures.codec, const_cast<void*>(pictures.cancelEvent),
                                 &params, width, height, picture.Cell()) != 1 ||
        iproGetImageSize(picture.Get(), &pictureWidth, &pictureHeight) != 1)
        return false;
    if (pictureWidth <= 0 || pictureHeight <= 0)
        return false;
    std::wstring fit, rotation;
    ReadProperty(item, L"property[@name='fit']/attr[@name='mode']", fit);
    ReadProperty(item, L"property[@name='rotation']/attr[@name='mode']", rotation);
    const PictureFit placed = PageItemFit::Fit(box.left, box.top, width, height, pictureWidth, pictureHeight,
                                               fit.c_str(), rotation.c_str(), pictures.alignment);
    return PageItemFit::Draw(canvas, picture.Get(), placed, box.left, box.top, width, height);
}

void DrawText(IproHandle canvas, DocHandle item, const PixelRect& box, const PageToPixels& map) {
    std::wstring text, number, colour;
    if (!ReadProperty(item, L"content/text", text))
        return;
    PageTextStyle style;
    ReadProperty(item, L"property[@name='text']/attr[@name='font-family']", style.face);
    double size = 0;
    if (!ReadNumber(item, L"property[@name='text']/attr[@name='font-size']", size))
        return;
    style.lineHeight = size * map.scaleY;
    style.bold = ReadProperty(item, L"property[@name='text']/attr[@name='bold']", number) && number == L"1";
    style.italic =
        ReadProperty(item, L"property[@name='text']/attr[@name='italic']", number) && number == L"1";
    if (ReadProperty(item, L"property[@name='text']/attr[@name='color']", colour))
        PageItemText::ParseColour(colour, style.colour);
    ReadProperty(item, L"property[@name='text']/attr[@name='alignment']", style.alignment);
    PageItemText::Draw(canvas, text, style, box.left, box.top, box.right - box.left, box.bottom - box.top);
}

// A rectangle item (the panes mark focus and selection with them): filled with its colour blended by its
// alpha, or framed on the inside of its box with a line of its width (page units, at least one pixel).
// False when the item holds no rectangle; one of no readable colour shows nothing.
bool DrawRectangle(IproHandle canvas, DocHandle item, const PixelRect& box, const PageToPixels& map) {
    std::wstring colourText, fill;
    if (!ReadProperty(item, L"content/rectangle/@color", colourText))
        return false;
    DWORD colour = 0;
    if (!PageItemText::ParseColour(colourText, colour))
        return true;
    if (ReadProperty(item, L"content/rectangle/@fill", fill) && fill == L"true") {
        Fill(canvas, box, colour, IPRO_FILL_BLEND);
        return true;
    }
    double width = 1;
    ReadNumber(item, L"content/rectangle/@width", width);
    const LONG most = std::max<LONG>(1, std::min(box.right - box.left, box.bottom - box.top) / 2);
    const LONG line = std::clamp<LONG>(ToPixel(width * std::min(map.scaleX, map.scaleY)), 1, most);
    Fill(canvas, {box.left, box.top, box.right, box.top + line}, colour, IPRO_FILL_BLEND);
    Fill(canvas, {box.left, box.bottom - line, box.right, box.bottom}, colour, IPRO_FILL_BLEND);
    Fill(canvas, {box.left, box.top + line, box.left + line, box.bottom - line}, colour, IPRO_FILL_BLEND);
    Fill(canvas, {box.right - line, box.top + line, box.right, box.bottom - line}, colour, IPRO_FILL_BLEND);
    return true;
}

void DrawItem(IproHandle canvas, DocHandle item, const PageToPixels& map, const Pictures& pictures) {
    double x = 0, y = 0, width = 0, height = 0;
    if (!ReadNumber(item, L"bounding-box/@x", x) || !ReadNumber(item, L"bounding-box/@y", y) ||
        !ReadNumber(item, L"bounding-box/@cx", width) || !ReadNumber(item, L"bounding-box/@cy", height))
        return;
    const PixelRect box = map.Map(x, y, width, height);
    if (box.Empty())
        return;
    // Marks lie over the page's items as they are, without an item's frame.
    if (DrawRectangle(canvas, item, box, map))
        return;
    std::wstring kind;
    ReadProperty(item, L"@kind", kind);
    if (kind == L"text")
        DrawText(canvas, item, box, map);
    else if (kind == L"image" && !DrawPicture(canvas, item, box, pictures))
        Placeholder(canvas, box);
    Frame(canvas, box);
}

// The page and its items onto the canvas; false when the cancel event came first.
bool DrawPage(IproHandle canvas, DocHandle page, double pageWidth, double pageHeight, const PageToPixels& map,
              Pictures pictures, const RendrSubscriptions& subscriptions) {
    Fill(canvas, map.Map(0, 0, pageWidth, pageHeight), kPageColour);
    double counted = 0;
    const LONG items = ReadNumber(page, L"count(item)", counted) ? static_cast<LONG>(counted) : 0;
    pictures.pageId = ReadLong(page, L"@id");
    std::wstring across, down;
    const bool hasAcross =
        ReadProperty(page, L"property[@name='content-alignment']/attr[@name='horizontal']", across);
    const bool hasDown =
        ReadProperty(page, L"property[@name='content-alignment']/attr[@name='vertical']", down);
    pictures.alignment =
        PageItemFit::ReadAlignment(hasAcross ? across.c_str() : nullptr, hasDown ? down.c_str() : nullptr);
    for (LONG index = 0;; ++index) {
        if (RendrIsCancelled(pictures.cancelEvent))
            return false;
        DocRef item;
        if (docGetItem(page, index, item.Cell()) != 1)
            break;
        DrawItem(canvas, item.Get(), map, pictures);
        RendrNotice notice{};
        notice.kind = kRendrNoticeProgress;
        notice.progress = static_cast<BYTE>(items > 0 ? std::min<LONG>(100, (index + 1) * 100 / items) : 100);
        subscriptions.Notify(notice);
    }
    // A cancel while the last item waited for its picture ends the render too.
    return !RendrIsCancelled(pictures.cancelEvent);
}

// The lower-case text after the last '.' of the file name (not of a folder).
std::wstring Extension(const std::wstring& path) {
    const std::size_t dot = path.find_last_of(L'.');
    const std::size_t separator = path.find_last_of(L"/\\");
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator))
        return std::wstring();
    std::wstring extension = path.substr(dot + 1);
    for (wchar_t& c : extension)
        c = static_cast<wchar_t>(std::towlower(c));
    return extension;
}

struct Page {
    DocRef handle;
    double width = 0;
    double height = 0;
};

// The page at the index with a usable size; false otherwise.
bool OpenPage(DocHandle document, LONG index, Page& page) {
    LONG count = 0;
    if (docGetDocNbPages(document, &count) != 1 || index < 0 || index >= count)
        return false;
    return docGetPageByIndex(document, index, page.handle.Cell()) == 1 &&
           ReadNumber(page.handle.Get(), L"@cx", page.width) &&
           ReadNumber(page.handle.Get(), L"@cy", page.height) && Usable(page.width) && Usable(page.height);
}

LONG RenderIntoImage(const Page& page, const RendrContext& context, const Pictures& pictures,
                     const RendrSubscriptions& subscriptions) {
    LONG targetValue = 0;
    LONG imageWidth = 0, imageHeight = 0;
    if (!context.Long(L"iProImg", targetValue))
        return 0;
    const IproHandle target = static_cast<IproHandle>(targetValue);
    if (iproGetImageSize(target, &imageWidth, &imageHeight) != 1)
        return 0;
    double width = imageWidth, height = imageHeight;
    if (context.Has(L"page_width") || context.Has(L"page_height")) {
        if (!context.Double(L"page_width", width) || !context.Double(L"page_height", height))
            return 0;
    }
    if (!Usable(width) || !Usable(height))
        return 0;
    PixelRect invalid{0, 0, ToPixel(std::trunc(width)), ToPixel(std::trunc(height))};
    LONG l = 0, t = 0, r = 0, b = 0;
    if (context.Long(L"page_invalidRect_left", l) && context.Long(L"page_invalidRect_top", t) &&
        context.Long(L"page_invalidRect_right", r) && context.Long(L"page_invalidRect_bottom", b))
        invalid = {l, t, r, b};
    const PixelRect clip{std::max<LONG>(invalid.left, 0), std::max<LONG>(invalid.top, 0),
                         std::min(invalid.right, imageWidth), std::min(invalid.bottom, imageHeight)};
    if (clip.Empty())
        return 1;

    // The page is drawn into an image of the target's size and only the invalid part is copied: nothing
    // outside it changes, and what is inside is exactly what a render of the whole page gives there.
    IproRef drawn, drawnCanvas, targetCanvas;
    if (iproCreateImage(imageWidth, imageHeight, drawn.Cell()) != 1 ||
        iproCreateCanvasFromImage(drawn.Get(), drawnCanvas.Cell()) != 1 ||
        iproCreateCanvasFromImage(target, targetCanvas.Cell()) != 1)
        return 0;
    const PageToPixels map{width / page.width, height / page.height};
    if (!DrawPage(drawnCanvas.Get(), page.handle.Get(), page.width, page.height, map, pictures,
                  subscriptions))
        return 0;
    const float left = static_cast<float>(clip.left), top = static_cast<float>(clip.top);
    return iproDrawImage2(targetCanvas.Get(), drawn.Get(), left, top, left, top,
                          static_cast<float>(clip.right - clip.left),
                          static_cast<float>(clip.bottom - clip.top)) == 1
               ? 1
               : 0;
}

// A rendered page written as a JPEG file at the codec context's quality (at most 100; 0 leaves the canvas
// library's own).
// A new image of the size (at least one pixel each way) with the whole page drawn over it.
bool DrawPageImage(const Page& page, double width, double height, const Pictures& pictures,
                   const RendrSubscriptions& subscriptions, IproRef& image) {
    const LONG pixelsWide = std::max<LONG>(1, ToPixel(width)),
               pixelsHigh = std::max<LONG>(1, ToPixel(height));
    IproRef canvas;
    if (iproCreateImage(pixelsWide, pixelsHigh, image.Cell()) != 1 ||
        iproCreateCanvasFromImage(image.Get(), canvas.Cell()) != 1)
        return false;
    const PageToPixels map{pixelsWide / page.width, pixelsHigh / page.height};
    return DrawPage(canvas.Get(), page.handle.Get(), page.width, page.height, map, pictures, subscriptions);
}

LONG SaveJpegPage(IproHandle image, const std::wstring& path, LONG jpegQuality) {
    LONG quality = std::min(jpegQuality, kMaxQuality);
    IproCodecParam qualityParam{IPRO_PARAM_QUALITY, reinterpret_cast<std::uintptr_t>(&quality)};
    IproCodecParam* entries[] = {&qualityParam};
    const IproCodecParamList params{sizeof(IproCodecParamList), 1, entries};
    return iproSaveImage(image, path.c_str(), IPRO_SAVE_REPLACE, quality > 0 ? &params : nullptr) == 1 ? 1
                                                                                                       : 0;
}

// A rendered page is read back at once (by the module that asked for it, or the printer's surface): written
// for speed rather than size.
LONG SavePngPage(IproHandle image, const std::wstring& path) {
    LONG fast = 1;
    IproCodecParam fastParam{IPRO_PARAM_PNG_FAST, reinterpret_cast<std::uintptr_t>(&fast)};
    IproCodecParam* entries[] = {&fastParam};
    const IproCodecParamList params{sizeof(IproCodecParamList), 1, entries};
    return iproSaveImage(image, path.c_str(), IPRO_SAVE_REPLACE, &params) == 1 ? 1 : 0;
}

LONG RenderIntoFile(const Page& page, const RendrContext& context, LONG jpegQuality, const Pictures& pictures,
                    const RendrSubscriptions& subscriptions) {
    const std::wstring path = context.Text(L"file_name");
    const std::wstring extension = Extension(path);
    const bool jpeg = extension == L"jpg" || extension == L"jpeg";
    if (path.empty() || (!jpeg && extension != L"png"))
        return 0;
    double width = page.width, height = page.height;
    if (context.Has(L"page_width") || context.Has(L"page_height")) {
        if (!context.Double(L"page_width", width) || !context.Double(L"page_height", height))
            return 0;
    }
    if (!Usable(width) || !Usable(height) || width > kMaxSide || height > kMaxSide)
        return 0;
    IproRef image;
    if (!DrawPageImage(page, width, height, pictures, subscriptions, image))
        return 0;
    if (jpeg)
        return SaveJpegPage(image.Get(), path, jpegQuality);
    return SavePngPage(image.Get(), path);
}

// A file of the temporary folder that goes with this object.
class TempFile {
public:
    explicit TempFile(const wchar_t* extension) {
        static std::atomic<unsigned> counter{0};
        wchar_t folder[kTempPathRoom] = {};
        const DWORD length = GetTempPathW(kTempPathRoom, folder);
        if (length == 0 || length >= kTempPathRoom)
            return;
        m_path = std::wstring(folder, length) + L"kvprintpage" + std::to_wstring(counter++) + extension;
    }
    ~TempFile() {
        if (!m_path.empty())
            std::remove(Utf::WideToUtf8(m_path).c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::wstring& Path() const { return m_path; }

private:
    static constexpr DWORD kTempPathRoom = 1024;
    std::wstring m_path;
};

struct CairoSurfaceRef {
    cairo_surface_t* surface = nullptr;
    ~CairoSurfaceRef() {
        if (surface)
            cairo_surface_destroy(surface);
    }
};

// A page drawn into a printer's context: fitted into the destination rectangle at one scale (the page's
// own proportions kept, from the rectangle's top-left corner), rendered at that size divided by the draw
// context's scale (the render resolution), then painted scaled up to the printer's pixels, the picture kept
// in the printed document as a JPEG of the render resolution.
LONG RenderIntoPrinter(const Page& page, const RendrContext& context, LONG jpegQuality,
                       const Pictures& pictures, const RendrSubscriptions& subscriptions) {
    LONG handle = 0;
    double left = 0, top = 0, width = 0, height = 0, scaleX = 1, scaleY = 1;
    if (!context.Long(L"hdc", handle) || !context.Double(L"dst_left", left) ||
        !context.Double(L"dst_top", top) || !context.Double(L"dst_width", width) ||
        !context.Double(L"dst_height", height))
        return 0;
    if (context.Has(L"scaleX") && !context.Double(L"scaleX", scaleX))
        return 0;
    if (context.Has(L"scaleY") && !context.Double(L"scaleY", scaleY))
        return 0;
    if (!Usable(width) || !Usable(height) || !Usable(scaleX) || !Usable(scaleY) || !std::isfinite(left) ||
        !std::isfinite(top))
        return 0;
    cairo_t* printer = WinPrint::CairoOfDC(reinterpret_cast<HDC>(static_cast<std::uintptr_t>(handle)));
    // Page units become printer pixels alike on both axes: a rectangle of other proportions than the
    // page's leaves a strip, never a stretched page.
    const double fit = std::min(width / page.width, height / page.height);
    const double drawnWidth = page.width * fit, drawnHeight = page.height * fit;
    const double renderWidth = drawnWidth / scaleX, renderHeight = drawnHeight / scaleY;
    if (!printer || renderWidth > kMaxSide || renderHeight > kMaxSide)
        return 0;
    IproRef image;
    if (!DrawPageImage(page, renderWidth, renderHeight, pictures, subscriptions, image))
        return 0;
    // The image's own pixel count, which the helper rounded the render size to.
    const LONG pixelsWide = std::max<LONG>(1, ToPixel(renderWidth)),
               pixelsHigh = std::max<LONG>(1, ToPixel(renderHeight));
    // The pixels come back through a PNG file, the bytes to embed through a JPEG file.
    TempFile png(L".png"), jpeg(L".jpg");
    if (png.Path().empty() || jpeg.Path().empty() || SavePngPage(image.Get(), png.Path()) != 1 ||
        SaveJpegPage(image.Get(), jpeg.Path(), jpegQuality) != 1)
        return 0;
    std::ifstream file(Utf::WideToUtf8(jpeg.Path()), std::ios::binary);
    auto* bytes = new std::vector<unsigned char>((std::istreambuf_iterator<char>(file)),
                                                 std::istreambuf_iterator<char>());
    CairoSurfaceRef surface{cairo_image_surface_create_from_png(Utf::WideToUtf8(png.Path()).c_str())};
    if (bytes->empty() || cairo_surface_status(surface.surface) != CAIRO_STATUS_SUCCESS) {
        delete bytes;
        return 0;
    }
    if (cairo_surface_set_mime_data(
            surface.surface, CAIRO_MIME_TYPE_JPEG, bytes->data(), bytes->size(),
            [](void* data) { delete static_cast<std::vector<unsigned char>*>(data); },
            bytes) != CAIRO_STATUS_SUCCESS) {
        delete bytes;
        return 0;
    }
    cairo_save(printer);
    cairo_translate(printer, left, top);
    cairo_scale(printer, drawnWidth / pixelsWide, drawnHeight / pixelsHigh);
    cairo_set_source_surface(printer, surface.surface, 0, 0);
    cairo_paint(printer);
    cairo_restore(printer);
    return cairo_status(printer) == CAIRO_STATUS_SUCCESS ? 1 : 0;
}

} // namespace

void CPageRenderer::SetDocument(DocHandle document) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_state.document = document;
}

void CPageRenderer::SetMediaContext(const wchar_t* text) {
    const RendrContext context(text);
    LONG quality = 0, preview = 0;
    if (!context.Long(L"out_compress_quality", quality) || quality < 0)
        quality = 0;
    if (!context.Long(L"preview", preview))
        preview = 0;
    std::lock_guard<std::mutex> guard(m_lock);
    m_state.jpegQuality = quality;
    m_state.codec = static_cast<const IproCodecTable*>(context.Address(L"pravon_codec_addr"));
    m_state.preview = preview == 1;
}

CPageRenderer::State CPageRenderer::Snapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_state;
}

LONG CPageRenderer::RenderPage(LONG pageIndex, const wchar_t* contextText,
                               const RendrSubscriptions& subscriptions) const {
    const State state = Snapshot();
    const RendrContext context(contextText);
    Pictures pictures;
    pictures.codec = state.codec;
    pictures.preview = state.preview;
    pictures.cancelEvent = context.Address(L"cancel_event");
    pictures.callbackWord =
        static_cast<RendrImageStateProc*>(const_cast<void*>(context.Address(L"page_img_load_manager_cb")));
    if (!context.Long(L"page_img_load_manager_subscr_id", pictures.subscriber))
        pictures.subscriber = 0;
    Page page;
    if (state.document == kDocNoHandle || !OpenPage(state.document, pageIndex, page))
        return 0;
    if (context.Has(L"iProImg"))
        return RenderIntoImage(page, context, pictures, subscriptions);
    if (context.Has(L"file_name"))
        return RenderIntoFile(page, context, state.jpegQuality, pictures, subscriptions);
    if (context.Has(L"hdc"))
        return RenderIntoPrinter(page, context, state.jpegQuality, pictures, subscriptions);
    return 0;
}

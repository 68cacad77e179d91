// One renderer instance of the page renderer libraries: the document it was given and what the media
// context says (the JPEG quality, the codec table that host items are read through and whether previews
// are drawn), and the drawing of a page of that document: a white page, each item's box framed, the
// picture of an image item fitted into its box (or covering it) with its proportions kept, turned for the
// best fit and placed by the page's content alignment (centred without one), the text of a text item in
// its font and colour (PageItemFit, PageItemText); the page is scaled onto its target on each axis. An image item asks the page context's image-load callback, when
// there is one, whether its picture is loaded at the box's size, and is read through the codec table with
// the render's cancel event only when it is; an item whose picture is not loaded, cannot be read or has no
// codec to be read through is drawn as a grey placeholder with a cross. The target is the canvas image named
// by "iProImg" (only its invalid rectangle is changed) or a new image saved to "file_name" as PNG or JPEG by
// the name's extension. The cancel event is polled before each item, and a progress notice goes to the
// rendering thread's subscribers after each.
//
// The user-interface thread sets the document and the media context while a worker renders: the state is
// kept under the instance's lock, and a render works on what it read when it began.
#pragma once

#include "RendrSubscriptions.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/zizoraz/zIzoRaz.h"

#include <mutex>

class CPageRenderer {
public:
    // The document context (its file name, size and scale) is not needed to draw: the page context tells
    // the target's size.
    void SetDocument(DocHandle document);
    void SetMediaContext(const wchar_t* context);
    // 1 when the page was drawn (and, for a file, saved); 0 for a page index outside the document, a
    // context with neither target, an unusable size or file name, a failure of the canvas library, or a
    // cancel; nothing is written then.
    LONG RenderPage(LONG pageIndex, const wchar_t* context, const RendrSubscriptions& subscriptions) const;

private:
    struct State {
        DocHandle document = kDocNoHandle;
        // 0: the canvas library's own quality.
        LONG jpegQuality = 0;
        const IproCodecTable* codec = nullptr;
        bool preview = false;
    };
    State Snapshot() const;

    mutable std::mutex m_lock;
    State m_state;
};

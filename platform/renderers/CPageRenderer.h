// One renderer instance of the page renderer libraries: the document it was given and the media context's
// JPEG quality, and the drawing of a page of that document. A page is drawn from the layout alone: a white
// page, each item's box framed, image items as grey placeholders with a cross; the page is scaled onto its
// target on each axis. The target is the canvas image named by "iProImg" (only its invalid rectangle is
// changed) or a new image saved to "file_name" as PNG or JPEG by the name's extension. The cancel event
// is polled before each item, and a progress notice goes to the rendering thread's subscribers after each.
//
// The user-interface thread sets the document and the media context while a worker renders: the state is
// kept under the instance's lock, and a render works on what it read when it began.
#pragma once

#include "RendrSubscriptions.h"

#include "platform/dadadud/DadaDud.h"

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
    };
    State Snapshot() const;

    mutable std::mutex m_lock;
    State m_state;
};

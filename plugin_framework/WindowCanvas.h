// A canvas over a window's device context, and its give-back: the canvas wrapper does not keep the context
// it was made from, so whoever made the pair hands both back together.
#pragma once

#include "TControl.h"
#include "TWindow.h"
#include "TiProObjects.h"

// False for a null window. Otherwise the window's device context and a canvas over it; the answer is
// whether a canvas was made. When none was, the context is given back at once and the out is null, so a
// failed call leaves nothing to give back.
bool CreateWindowCanvas(TWindow* window, TiProCanvas*& canvas, HDC& dc);
// Releases and deletes the canvas (the slot becomes null) and gives the context back to the window; false
// when the window or the canvas is null (nothing is done then) or the window does not take the context.
bool ReleaseWindowCanvas(TWindow* window, TiProCanvas*& canvas, HDC dc);
// The same for a control: its device context and a canvas over it, and their give-back.
bool CreateControlCanvas(TControl* control, TiProCanvas*& canvas, HDC& dc);
bool ReleaseControlCanvas(TControl* control, TiProCanvas*& canvas, HDC dc);

// The canvas library's handles: one process-wide table of images, canvases and matrices behind 32-bit
// handles with generations, and the count of starts that the table lives between.
#pragma once

#include "CIproCanvas.h"
#include "CIproImage.h"
#include "zIzoRaz.h"

#include <memory>

// What one handle names: exactly one of the three is set.
struct IproObject {
    std::shared_ptr<CIproImage> image;
    std::shared_ptr<CIproCanvas> canvas;
    std::shared_ptr<CIproMatrix> matrix;
};

namespace IproHandles {

bool Startup();
// False when the library was not started; the last shutdown releases every handle.
bool Shutdown();
bool Started();

// The new handle in *out (kIproNoHandle on failure, when out is not null); false when the library is not
// started or the table is full.
bool Add(IproObject object, IproHandle* out);
std::shared_ptr<CIproImage> FindImage(IproHandle handle);
std::shared_ptr<CIproCanvas> FindCanvas(IproHandle handle);
std::shared_ptr<CIproMatrix> FindMatrix(IproHandle handle);
bool Release(IproHandle handle);

// Tells the test observer about a call (ZizorazTest::SetCallObserver).
void Observe(const char* call, IproHandle first);

} // namespace IproHandles

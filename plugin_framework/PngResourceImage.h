// Images that a module carries as PNG resources, made canvas-library images through a file of the
// module's temporary folder that is deleted again.
#pragma once

#include "TiProObjects.h"

// The image of the module's resource of type "PNG" with the id: its bytes are written to a numbered
// "tmp.png" of the module's temporary folder and the image is read from that file, which is deleted. Null
// (and no file) for a missing resource, and null when the bytes do not make an image. The process-wide
// resource accessor is not changed: a copy of it is pointed at the module.
TiProImage* LoadPngResourceImage(HINSTANCE module, UINT id);

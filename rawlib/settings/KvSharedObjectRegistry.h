// Process-wide use counts of the images and tag controls that image-attributes objects share: the
// registry holds one reference on each object it counts and lets go of it when the last user releases
// it, deleting the image's temporary file then.
#pragma once

#include "platform/pravon/IPravonImage.h"
#include "platform/quasel/IPravonTagControl.h"

#include <string>

namespace KvSharedObjectRegistry {

// Adds a user of the image (null does nothing). A non-empty path names the image's temporary file, which
// goes with the image's last release.
void AddImageUser(IPravonImage* image, const std::string& temporaryFile = {});
// Takes one user away; the last one releases the image and deletes its temporary file (`temporaryFile`,
// when given by this or an earlier release, names it instead of the registered path). True when the image
// was released for good. An image the registry does not hold is left alone (false).
bool ReleaseImage(IPravonImage* image, const std::string& temporaryFile = {});
// The users of the image; 0 when the registry does not hold it.
unsigned ImageUsers(IPravonImage* image);

void AddTagControlUser(IPravonTagControl* tags);
bool ReleaseTagControl(IPravonTagControl* tags);
unsigned TagControlUsers(IPravonTagControl* tags);

} // namespace KvSharedObjectRegistry

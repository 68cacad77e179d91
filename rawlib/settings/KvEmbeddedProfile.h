// Saving the colour profile that an image carries in its tags to a file the colour engine can open.
#pragma once

#include "platform/quasel/IPravonTagControl.h"

#include <string>

namespace KvProfileTags {
// The profile embedded in the image file, and the one stored with the development settings.
inline constexpr ULONG kEmbedded = 0x8773;
inline constexpr ULONG kFromSettings = 0x80E02;
// Tag kinds: the profile's bytes, or the path of a profile file in a field of kPathField bytes.
inline constexpr LONG kKindBytes = 1;
inline constexpr LONG kKindPath = 16;
inline constexpr ULONG kPathField = 260;
} // namespace KvProfileTags

// Writes the image's profile (the settings' one with `fromSettings`) to `path`. A tag holding a path
// instead replaces `path` with it (up to its first NUL) and writes nothing. False, with `path` unchanged,
// when the tag is missing, empty (an empty path too) or of another kind, or the file cannot be written.
bool SaveEmbeddedProfile(IPravonTagControl* tags, std::string& path, bool fromSettings);

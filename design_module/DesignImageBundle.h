// The picture bundle a layout is filled from: one picture string per item ("NUID:<id>@&@"), handed as the
// parameters of the module's bundle stylesheet (XSLT resource 4005), whose result is the bundle file.
#pragma once

#include "plugin_framework/TString.h"

#include "platform/kvtrtl/KvwHostTypes.h"

namespace designbundle {

constexpr unsigned kBundleStylesheet = 4005;

// "NUID:<id>@&@" with the id as an unsigned decimal.
TString PictureString(KvwItemId id);
// "intraItemDelimiter='@&@'<;/>interItemDelimiter='$&$'<;/>imageStr='" then every picture string followed
// by "$&$", then "'".
TString BundleParameters(const KvwItemIdList& ids);
// Runs the bundle stylesheet of the module's own file over the parameters of the ids into a new
// "bndl.xml" of the module's temporary folder; false (and no file) when the stylesheet is missing or the
// transform fails.
bool BuildImageBundle(const KvwItemIdList& ids, TString& path);

} // namespace designbundle

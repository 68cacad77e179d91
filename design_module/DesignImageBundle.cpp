#include "DesignImageBundle.h"

#include "plugin_framework/HostLink.h"

namespace {

constexpr const wchar_t* kIntraItemDelimiter = L"@&@";
constexpr const wchar_t* kInterItemDelimiter = L"$&$";
constexpr const wchar_t* kParameterSeparator = L"<;/>";
// The stylesheet makes the bundle of its parameters alone; its input is this placeholder.
constexpr const wchar_t* kBundleSource =
    L"<?xml version=\"1.0\" encoding=\"utf-16\" ?><template>aaa</template>";

} // namespace

TString designbundle::PictureString(KvwItemId id) {
    TString text;
    text.Format(L"NUID:%llu%ls", static_cast<unsigned long long>(id), kIntraItemDelimiter);
    return text;
}

TString designbundle::BundleParameters(const KvwItemIdList& ids) {
    TString parameters;
    parameters.Format(L"intraItemDelimiter='%ls'%lsinterItemDelimiter='%ls'%lsimageStr='",
                      kIntraItemDelimiter, kParameterSeparator, kInterItemDelimiter, kParameterSeparator);
    for (KvwItemId id : ids) {
        parameters += PictureString(id);
        parameters += kInterItemDelimiter;
    }
    parameters += L"'";
    return parameters;
}

bool designbundle::BuildImageBundle(const KvwItemIdList& ids, TString& path) {
    path.Empty();
    return HostRequests::TransformIntoBundle(kBundleSource, kBundleStylesheet, BundleParameters(ids), path);
}

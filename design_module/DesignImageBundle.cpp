#include "DesignImageBundle.h"

#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TResource.h"

#include "platform/dadadud/DadaDud.h"

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
    TResource resources = *TResource::Instance();
    resources.SetModule(GetThisModule());
    resources.SetType(L"XSLT");
    TString stylesheet;
    if (!resources.Load(kBundleStylesheet, stylesheet, false))
        return false;
    TFilePath location;
    if (!MakeUniqueFileName(L"bndl", L"xml", location))
        return false;
    if (docXSLTTransform2(kBundleSource, location.GetPath(), stylesheet, BundleParameters(ids), nullptr) !=
        1) {
        // The claimed name is of no use to anyone now.
        location.Delete();
        return false;
    }
    path = location.GetPath();
    return true;
}

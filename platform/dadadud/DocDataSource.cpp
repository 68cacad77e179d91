// The library's calls that make data sources.
#include "DocLibrary.h"

namespace {

template <class Make>
LONG MakeSource(const char* name, DocHandle* source, Make make) {
    DocLibrary::Observe(name, kDocNoHandle);
    try {
        if (!source)
            return 0;
        *source = kDocNoHandle;
        return DocLibrary::AddDataSource(make(), source) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace

LONG docCreateDataSource(const wchar_t* path, DocHandle* source) {
    return MakeSource("docCreateDataSource", source, [&] { return CDocDataSource::FromFile(path); });
}

LONG docCreateDataSource2(const wchar_t* text, LONG length, DocHandle* source) {
    return MakeSource("docCreateDataSource2", source, [&] { return CDocDataSource::FromText(text, length); });
}

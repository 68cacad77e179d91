// What the library's calls in other files share of its handles: the call observer and the data sources
// among the objects the handles name.
#pragma once

#include "CDocDataSource.h"
#include "DadaDud.h"

#include <memory>

namespace DocLibrary {

void Observe(const char* call, DocHandle first);
// False (the cell untouched) for no source, when the library is not started or no handle is left.
bool AddDataSource(std::shared_ptr<const CDocDataSource> source, DocHandle* out);
// Null for a handle that names no data source.
std::shared_ptr<const CDocDataSource> FindDataSource(DocHandle handle);

} // namespace DocLibrary

// The manager of the filter-chain object initialised last, for the library's lazily made objects.
#pragma once

#include "platform/pravon/IPravonImage.h"

void KvSetGlobalManager(IPravonManager* manager);
IPravonManager* KvGetGlobalManager();

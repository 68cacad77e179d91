#include "rawlib/filters/revelation/CREVProcess.h"

CREVProcess::CREVProcess(IPravonManager* manager, BYTE option) : CDRAGBase(manager, option) {}

CREVProcess::~CREVProcess() = default;

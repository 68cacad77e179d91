#include "rawlib/foundation/CSyncGlobal.h"

namespace Kv {

CSyncCritical& CSyncGlobal::Get() const {
    // Never deleted: a static destructor elsewhere may still need the lock while the process ends.
    std::call_once(m_once, [this] { m_lock = new CSyncCritical(m_name, m_spinCount); });
    return *m_lock;
}

} // namespace Kv

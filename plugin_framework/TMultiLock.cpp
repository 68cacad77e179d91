#include "TMultiLock.h"

TMultiLock::TMultiLock(bool waitAll, std::initializer_list<TSyncObject*> objects)
    : m_objects(objects), m_waitAll(waitAll) {}

LONG TMultiLock::Lock(DWORD timeout) {
    m_endedBy = -1;
    std::vector<HANDLE> handles;
    std::vector<int> positions;
    bool anyObject = false;
    for (std::size_t i = 0; i < m_objects.size(); ++i) {
        TSyncObject* object = m_objects[i];
        if (!object)
            continue;
        anyObject = true;
        if (!object->GetHandle()) {
            if (m_waitAll)
                return TSyncObject::kWaitFailed;
            continue;
        }
        handles.push_back(object->GetHandle());
        positions.push_back(static_cast<int>(i));
    }
    if (!anyObject)
        return TSyncObject::kWaitSignalled;
    if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS)
        return TSyncObject::kWaitFailed;

    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                m_waitAll ? TRUE : FALSE, timeout);
    if (result >= WAIT_OBJECT_0 + handles.size())
        return TSyncObject::ToWaitCode(result);
    if (!m_waitAll)
        m_endedBy = positions[result - WAIT_OBJECT_0];
    return TSyncObject::kWaitSignalled;
}

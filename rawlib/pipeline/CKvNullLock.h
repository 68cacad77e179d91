// A scoped lock that locks nothing: the development stages take one where a lock object is expected
// and no other thread shares what they set up.
#pragma once

class CKvNullLock {
public:
    CKvNullLock() = default;
    CKvNullLock(const CKvNullLock&) = delete;
    CKvNullLock& operator=(const CKvNullLock&) = delete;

    void Lock() {}
    void Unlock() {}
};

// The root of every long-lived framework object shared between owners: an intrusive reference count
// that starts at 1 for the creator; the last Release unregisters the object from the object manager
// and deletes it. Counts are atomic, so owners on different threads may add and drop references.
#pragma once

#include "platform/win/wintypes.h"

#include <atomic>
#include <utility>

class TBaseObject {
public:
    TBaseObject() = default;
    TBaseObject(const TBaseObject&) = delete;
    TBaseObject& operator=(const TBaseObject&) = delete;
    virtual ~TBaseObject() = default;

    virtual void AddRef() final;
    virtual void Release() final;
    // Adds a reference unless the last one is gone already (the object is being destroyed): for code that
    // knows the object only by a pointer that holds no reference. True when a reference was added.
    bool TryAddRef();

    LONG GetRefCount() const { return m_refCount.load(std::memory_order_acquire); }

private:
    std::atomic<LONG> m_refCount{1};
};

// Owns one reference of a framework object. Adopt takes over a reference the caller already holds
// (a newly created object's); the constructor from a pointer adds one.
template <class T>
class TRefPtr {
public:
    TRefPtr() = default;
    explicit TRefPtr(T* object) : m_object(object) {
        if (m_object)
            m_object->AddRef();
    }
    static TRefPtr Adopt(T* object) {
        TRefPtr ptr;
        ptr.m_object = object;
        return ptr;
    }
    TRefPtr(const TRefPtr& other) : TRefPtr(other.m_object) {}
    TRefPtr(TRefPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    TRefPtr& operator=(TRefPtr other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~TRefPtr() {
        if (m_object)
            m_object->Release();
    }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(m_object, nullptr); }

private:
    T* m_object = nullptr;
};

// The platform version code: 1, 2, 3 for versions 4.0, 4.10, 4.90; 9 and 10 for 5.0 and 5.1; 0 for any
// other version or a failed query. A non-zero code is kept; 0 is asked again on the next call.
LONG GetOSVersion();
// Forgets a kept code, so that tests which change the reported version see the change.
void ResetOSVersionForTesting();

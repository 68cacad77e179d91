// A pointer that registers itself as a holder with the object it points to, so that the object knows who
// keeps it and can clear every holder when it is destroyed. T offers AddReferencedObjectPointer and
// RemoveReferencedObjectPointer and calls ObjectDestroyed on each holder still registered as it goes.
#pragma once

template <class T>
class TReferencedObjectPointer {
public:
    TReferencedObjectPointer() = default;
    explicit TReferencedObjectPointer(T* object) { Assign(object); }
    TReferencedObjectPointer(const TReferencedObjectPointer& other) { Assign(other.m_object); }
    ~TReferencedObjectPointer() { Assign(nullptr); }

    TReferencedObjectPointer& operator=(const TReferencedObjectPointer& other) {
        Assign(other.m_object);
        return *this;
    }
    TReferencedObjectPointer& operator=(T* object) {
        Assign(object);
        return *this;
    }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

    // Called by the object while it is being destroyed: forget it without unregistering.
    void ObjectDestroyed() { m_object = nullptr; }

private:
    // Unregistering may destroy the old object, and registering lets the new one's owner act at once, so
    // the pointer is always consistent before either call.
    void Assign(T* object) {
        if (object == m_object)
            return;
        T* old = m_object;
        m_object = nullptr;
        if (old)
            old->RemoveReferencedObjectPointer(this);
        m_object = object;
        if (object)
            object->AddReferencedObjectPointer(this);
    }

    T* m_object = nullptr;
};

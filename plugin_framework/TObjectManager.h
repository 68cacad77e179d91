// The process-wide table that gives framework objects numeric handles, for the outside libraries that
// are handed handles instead of pointers. Handles come from a counter that survives Destroy, so a new
// manager never reissues a handle; a one-entry cache serves runs of calls on the same handle.
// Every operation holds one lock, so objects may be registered, found and released on any thread.
#pragma once

#include "TBaseObject.h"

#include <map>
#include <mutex>
#include <utility>

class TObjectManager {
public:
    virtual ~TObjectManager() = default;

    // The manager, created on first use (null only when it could not be created).
    static TObjectManager* Instance();
    // True when this call created the manager, false when one existed already.
    static bool Create();
    // Deletes the manager when there is one; always true.
    static bool Destroy();

    // The object's handle, registering it first when it has none.
    DWORD Register(TBaseObject* object);
    // The object registered under the handle, or null.
    TBaseObject* Find(DWORD handle);
    // The same with a reference for the caller, taken while the object cannot go: for threads that find
    // objects which another thread may release meanwhile. Null also for an object whose last reference is
    // going.
    TBaseObject* FindHeld(DWORD handle);
    // Removes the object's entry when it has one.
    void Unregister(TBaseObject* object);

    // What the last Release of an object calls: it unregisters from the manager when one exists and
    // never creates one, so that a release after Destroy leaves no new manager behind.
    static void UnregisterFromExisting(TBaseObject* object);

private:
    TObjectManager() = default;
    void UnregisterLocked(TBaseObject* object);

    std::map<DWORD, TBaseObject*> m_objects;
    std::pair<DWORD, TBaseObject*> m_cache{0, nullptr};
};

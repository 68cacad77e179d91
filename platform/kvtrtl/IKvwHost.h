// The host's side of the protocol as modules see it: the host interface that hands out services, and the
// services and objects the framework uses. Declaration order follows the host's table of operations.
#pragma once

#include "KvwHostTypes.h"
#include "KvwRecords.h"

#include "platform/pravon/IPravonDataSource.h"
#include "platform/pravon/IPravonImage.h"

#include <string>

// What every host object shares: its reference count. Objects a module gets from the host hold one
// reference for it, which the module gives back with Release.
class IKvwObject {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IKvwObject() = default;
};

// The host interface given to KvwInitialize. The module does not own it.
class IKvwHost {
public:
    // The service of the code (KvwService), with a reference for the caller; null with a failure word
    // when the host has no such service.
    virtual KvwResult QueryService(DWORD code, IKvwObject** service) = 0;

protected:
    ~IKvwHost() = default;
};

// An item of the host. Its properties do not change while a module holds it, so any thread may read them.
class IKvwItem : public IKvwObject {
public:
    // The property with its type word; 0x1101 (nothing written) when the item has none of that id.
    virtual KvwResult GetProperty(DWORD id, CKvwItemProperty* property) = 0;
    // The property as the host shows it, as text (UTF-8); 0x1101 (text untouched) when it has none.
    virtual KvwResult GetPropertyText(DWORD id, std::string* text) = 0;
    // The bytes of one of the item's records (0x10000 its width, 0x10001 its height: 32-bit values).
    // *length receives the record's length; with a buffer of at least that many bytes they are copied
    // too, a shorter one answers 0x1008 and copies nothing. 0x1101 when the item has no such record.
    virtual KvwResult GetRecord(DWORD id, BYTE* buffer, DWORD bufferSize, DWORD* length) = 0;

protected:
    ~IKvwItem() = default;
};

// An image of an item that the host holds, handed to one module, which may read and resize it on any one
// thread at a time.
class IKvwImage : public IKvwObject {
public:
    virtual LONG GetWidth() = 0;
    virtual LONG GetHeight() = 0;
    // The pixels as a data source of the imaging framework (size, colour-space code, rectangle reads); it
    // stays the image's and holds until the image's next resize.
    virtual IPravonDataSource* GetDataSource() = 0;
    // Resamples the pixels to the size; false, with the image unchanged, for a side below 1 or a size the
    // image cannot hold.
    virtual bool Resize(LONG width, LONG height) = 0;

protected:
    ~IKvwImage() = default;
};

// Service 16: items.
class IKvwItemService : public IKvwObject {
public:
    virtual KvwResult GetSourceData(DWORD idLow, DWORD idHigh, CKvwSourceData* data, DWORD flags) = 0;
    virtual KvwResult GetItemData(DWORD idLow, DWORD idHigh, CKvwItemData* data, DWORD flags) = 0;
    virtual KvwResult GetItem(DWORD idLow, DWORD idHigh, IKvwItem** item) = 0;
    // The image the host holds now, with a reference for the caller; the size record (or null) says what
    // size is wanted.
    virtual KvwResult GetPreviewImage(DWORD idLow, DWORD idHigh, IKvwImage** image, DWORD mode,
                                      const CKvwSizeRecord* size) = 0;
    virtual KvwResult GetFullImage(DWORD idLow, DWORD idHigh, IKvwImage** image, DWORD mode,
                                   const CKvwSizeRecord* size) = 0;

protected:
    ~IKvwItemService() = default;
};

// Service 1: the host's imaging.
class IKvwImagingService : public IKvwObject {
public:
    // The imaging framework's manager, which lives as long as the host (the caller holds no reference).
    virtual KvwResult GetManager(IPravonManager** manager) = 0;

protected:
    ~IKvwImagingService() = default;
};

// Service 2: the host's panes.
class IKvwPaneService : public IKvwObject {
public:
    // The host's number (20 for a host that restricts the plug-ins).
    virtual DWORD GetNumber() = 0;
    // Fills the window data of the component's pane; 0x1101 for a component without one.
    virtual KvwResult GetWindowData(DWORD component, CKvwWindowData* data) = 0;
    // The module is done with its panes; what the host does then is its own affair.
    virtual KvwResult ClosePanes() = 0;

protected:
    ~IKvwPaneService() = default;
};

// Service 7: the host's windows for the components' panels.
class IKvwWindowService : public IKvwObject {
public:
    // Fills the window data of the component's panel; 0x1101 for a panel without one.
    virtual KvwResult GetWindowData(DWORD component, DWORD panel, CKvwWindowData* data) = 0;

protected:
    ~IKvwWindowService() = default;
};

// Service 19: the host's registry, values under keys. A key is opened (for reading) or created (for
// writing) before its values are used, and closed afterwards; the values are text or bytes.
class IKvwRegistryService : public IKvwObject {
public:
    virtual KvwResult CreateKey(DWORD scope, const char* key) = 0;
    virtual KvwResult OpenKey(DWORD scope, const char* key) = 0;
    // Closes the key opened last.
    virtual KvwResult CloseKey() = 0;
    virtual KvwResult SetText(const char* name, const char* text) = 0;
    virtual KvwResult GetText(const char* name, std::string* text) = 0;
    virtual KvwResult SetBinary(const char* name, const BYTE* data, DWORD size) = 0;
    // *size receives the value's size; with a buffer of at least that size the bytes are copied too.
    virtual KvwResult GetBinary(const char* name, BYTE* buffer, DWORD bufferSize, DWORD* size) = 0;
    // Ends a series of writes.
    virtual KvwResult Commit(DWORD scope) = 0;

protected:
    ~IKvwRegistryService() = default;
};

// Service 17: what the user is browsing. A selection is read from the selected items, or, when there are
// none, from the items of the current group.
class IKvwBrowseService : public IKvwObject {
public:
    virtual KvwItemId GetCurrentGroupId() = 0;
    virtual KvwResult GetGroupItems(KvwItemIdList* ids) = 0;
    virtual KvwResult GetSelectedItems(KvwItemIdList* ids) = 0;

protected:
    ~IKvwBrowseService() = default;
};

// Owners of the document library's handles: documents, their pages and their items. Each wrapper holds
// one handle, releases it when deleted, and reads properties by path (relative to its object) as text,
// numbers, rectangles and sizes.
#pragma once

#include "GraphTypes.h"
#include "TString.h"

#include "platform/dadadud/DadaDud.h"

class TdocObject {
public:
    TdocObject(const TdocObject&) = delete;
    TdocObject& operator=(const TdocObject&) = delete;
    virtual ~TdocObject();

    // Hands a held handle back; the wrapper lets go of it once the library took it.
    void Release();
    DocHandle GetHandle() const { return m_handle; }

    // The library's answer; the text is set only on success. A value longer than the first buffer is read
    // again into one of its size.
    LONG GetStringProperty(const wchar_t* path, TString& text, BYTE flag) const;
    // "@id" as a decimal number; -1 when it cannot be read.
    LONG GetLongProperty() const;
    // Left "bounding-box/@x", top "bounding-box/@y", right left + "bounding-box/@cx", bottom top +
    // "bounding-box/@cy"; false at the first that cannot be read, with what was read before written.
    bool GetBoundingBox(graphtypes::TRect_T<double>& box) const;
    // "@cx" and "@cy"; false when either cannot be read.
    bool GetSize(graphtypes::TSize_T<double>& size) const;

protected:
    explicit TdocObject(DocHandle handle) : m_handle(handle) {}

private:
    bool GetDoubleProperty(const wchar_t* path, double& value) const;

    DocHandle m_handle;
};

class TdocPage;
class TdocItem;

class TdocDocument : public TdocObject {
public:
    // Null when the library does not answer 1.
    static TdocDocument* CreateFromLDF(const TString& path);
    // The layout template filled with the bundle file's objects; null when the library does not answer 1.
    static TdocDocument* CreateFromLTF(const TString& templatePath, const TString& bundlePath);
    // The same of two data sources' handles (the template's, then the bundle's), which stay the caller's.
    static TdocDocument* CreateFromLTF2(DocHandle templateSource, DocHandle bundleSource);
    // A document of the LDF text a data source holds (the source stays the caller's); null when the
    // library does not answer 1.
    static TdocDocument* CreateFromLDF2(DocHandle source);
    // The library's answer to transforming the document under its handle.
    LONG ApplyTransform(const TString& stylesheet, const TString& parameters);
    LONG SaveLDF(const TString& path) const;
    // The number of pages; 0 when the library does not tell.
    LONG GetPageCount() const;
    // New wrappers that the caller owns, or null; indices count from 0.
    TdocPage* GetPage(LONG index) const;

private:
    using TdocObject::TdocObject;
};

class TdocPage : public TdocObject {
public:
    TdocItem* GetItem(LONG index) const;

private:
    friend class TdocDocument;
    using TdocObject::TdocObject;
};

class TdocItem : public TdocObject {
private:
    friend class TdocPage;
    using TdocObject::TdocObject;
};
